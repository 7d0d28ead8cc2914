#pragma once
// A FIFF file opened for reading: tags, tag directory and block tree, plus the readers of the
// measurement information and the raw-data set-up. Numbers are big-endian on file.
#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "fiff_constants.h"
#include "fiff_dir_entry.h"
#include "fiff_dir_node.h"
#include "fiff_id.h"
#include "fiff_tag.h"

namespace FIFFLIB {

class FiffInfo;
class FiffRawData;

class FiffStream : public QDataStream {
public:
    using SPtr = std::shared_ptr<FiffStream>;

    // Wraps a device (normally a file); big-endian, single-precision floats.
    explicit FiffStream(QIODevice* device);
    // Unlinks the parents of the tree built by open so that the tree can be freed.
    ~FiffStream();

    // The device's file name, or "TCPSocket" when the device is not a file.
    QString streamName();

    // Opens the device and builds directory and tree; false (with the message) on failure.
    bool open(QIODevice::OpenModeFlag mode = QIODevice::ReadOnly);
    // Closes the device if it is open.
    bool close();

    // Reads a whole tag at pos (at the current position when pos < 0). False when the header
    // cannot be read or the size is negative or reaches past the end of a file.
    bool read_tag(FiffTag::UPtr& tag, qint64 pos = -1);
    // The same into an existing tag, reusing its storage (for reading many data buffers).
    bool read_tag(FiffTag& tag, qint64 pos = -1);
    // Reads a tag header only; returns the position at which it started, or -1 when the header
    // could not be read or skipping failed. The tag's size() is the header's; it holds no data.
    qint64 read_tag_info(FiffTag::UPtr& tag, bool skip = true);

    // Measurement information of the first measurement block; hands back that block.
    bool read_meas_info(const FiffDirNode::SPtr& tree, FiffInfo& info, FiffDirNode::SPtr& nodeInfo);
    // Bad channel names (block 359, tag 3507), blanks removed, split at ':'.
    QStringList read_bad_channels(const FiffDirNode::SPtr& tree);

    // Opens a raw recording on device and fills data (information, raw-data directory,
    // calibration); false on failure.
    static bool setup_read_raw(QIODevice& device, FiffRawData& data, bool allow_maxshield = true,
                               bool is_littleEndian = false);

    const FiffId& id() const { return fileId; }
    QList<FiffDirEntry::SPtr>& dir() { return directory; }
    const QList<FiffDirEntry::SPtr>& dir() const { return directory; }
    int nent() const { return static_cast<int>(directory.size()); }
    FiffDirNode::SPtr dirtree() const { return tree; }

private:
    bool make_dir();
    // Builds the node whose entries start at directory[start]; stop receives the index of the
    // entry that completed it (its block end or the terminating entry), or nent().
    FiffDirNode::SPtr make_subtree(qsizetype start, int depth, qsizetype& stop);

    FiffId fileId;
    QList<FiffDirEntry::SPtr> directory;
    FiffDirNode::SPtr tree;
};

}  // namespace FIFFLIB
