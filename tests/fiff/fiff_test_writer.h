#pragma once
// A tiny FIFF writer for tests: builds a file in memory, tag by tag, big-endian as on disk.
// It writes exactly what it is told (sizes, next pointers, directory entries), so damaged
// files are as easy to make as valid ones. It shares no code with the reader.
#include <Eigen/Core>
#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace fifftest {

// Big-endian encodings of single values.
QByteArray be16(qint16 v);
QByteArray be32(qint32 v);
QByteArray be64(qint64 v);
QByteArray beFloat(float v);
QByteArray beDouble(double v);
// Overwrites four bytes at offset with v, big-endian.
void putBe32(QByteArray& bytes, qint64 offset, qint32 v);

// Where the directory pointer's value lies: after the ID tag (16 + 20 bytes) and a header.
inline constexpr qint64 kDirPointerValuePos = 52;

struct DirEntry {
    qint32 kind = -1;
    qint32 type = -1;
    qint32 size = -1;
    qint32 pos = -1;
};

// The 20-byte ID structure: version, machine id (2), seconds, microseconds.
using Id = std::array<qint32, 5>;
inline constexpr Id kFileId = {0x00010003, 0x12345678, 0x0ABCDEF0, 1700000000, 123456};

struct ChannelSpec {
    QString name;
    qint32 kind = 1;
    float range = 1.0f;
    float cal = 1.0f;
    qint32 coilType = 0;
    std::array<float, 3> r0{};
    std::array<float, 3> ex{};
    std::array<float, 3> ey{};
    std::array<float, 3> ez{};
    qint32 unit = 0;
    qint32 unitMul = 0;
    qint32 scanNo = 0;
    qint32 logNo = 0;
};

class FiffTestWriter {
public:
    // With a header: the file ID tag and a directory pointer of 0 (patched by finish()).
    explicit FiffTestWriter(bool withHeader = true);

    qint64 pos() const { return m_bytes.size(); }

    // Appends a tag and returns its position. sizeField overrides the size written in the
    // header (the data written stays as given); the directory entry records the same size.
    qint64 tag(qint32 kind, qint32 type, const QByteArray& data, qint32 next = 0,
               std::optional<qint32> sizeField = std::nullopt);
    qint64 intTag(qint32 kind, qint32 value, qint32 next = 0);
    qint64 intsTag(qint32 kind, const std::vector<qint32>& values);
    qint64 floatTag(qint32 kind, float value);
    qint64 doubleTag(qint32 kind, double value);
    qint64 shortTag(qint32 kind, const std::vector<qint16>& values);
    qint64 stringTag(qint32 kind, const QByteArray& text);
    qint64 idTag(qint32 kind, const Id& id);
    qint64 startBlock(qint32 blockKind);
    qint64 endBlock(qint32 blockKind);
    qint64 channel(const ChannelSpec& ch);
    // values: channels x samples; stored sample by sample (all channels of a sample together)
    // as type 16 or 2 (16-bit), 3 (32-bit), 4 (float) or 5 (double).
    qint64 dataBuffer(qint32 type, const Eigen::MatrixXd& values);
    qint64 dataSkip(qint32 nbuffers);
    qint64 firstSample(qint32 sample);
    // Bad-channel block holding the name list (names separated by ':').
    void badChannels(const QByteArray& list);
    // Arbitrary bytes that are not a tag (no directory entry).
    void raw(const QByteArray& bytes) { m_bytes.append(bytes); }

    // Raw control for damaged files.
    void setNext(qint64 tagPos, qint32 next) { putBe32(m_bytes, tagPos + 12, next); }
    void setSize(qint64 tagPos, qint32 size) { putBe32(m_bytes, tagPos + 8, size); }
    // Every tag written so far, in file order; may be edited before finish().
    QList<DirEntry>& entries() { return m_entries; }
    QByteArray& bytes() { return m_bytes; }

    enum class Directory { Stored, None };
    // Stored: appends the directory tag (the entries, its own entry and a terminating entry
    // of -1s; next -1) and points the directory pointer at it. None: the pointer stays 0 and
    // the reader has to scan.
    QByteArray finish(Directory mode = Directory::Stored);

private:
    QByteArray m_bytes;
    QList<DirEntry> m_entries;
    qint64 m_dirPointerPos = -1;
};

// Encodes values (channels x samples) sample-major in the element format of type.
QByteArray encodeSamples(qint32 type, const Eigen::MatrixXd& values);

// One element of a raw-data block after firstsamp and the initial skip.
struct RawItem {
    static RawItem buffer(qint32 type, Eigen::MatrixXd values) {
        return {false, type, std::move(values), 0};
    }
    static RawItem skip(qint32 nbuffers) { return {true, 0, {}, nbuffers}; }

    bool isSkip = false;
    qint32 type = 0;
    Eigen::MatrixXd values;  // channels x samples
    qint32 nbuffers = 0;
};

// A small raw recording: measurement block with info (nchan, sfreq, optional filter and line
// frequencies, channel records, bad-channel block) and one raw-data block.
struct RawRecording {
    QList<ChannelSpec> channels;
    float sfreq = 1000.0f;
    std::optional<float> linefreq = 50.0f;
    std::optional<float> highpass;
    std::optional<float> lowpass;
    std::optional<qint32> nchan;  // default: the number of channel records
    bool omitNchan = false;
    bool omitSfreq = false;
    bool nchanAsFloat = false;
    std::optional<QByteArray> bads;
    qint32 blockKind = 102;
    std::optional<qint32> firstSample;
    std::optional<qint32> initialSkip;  // in buffers, right after firstsamp
    std::vector<RawItem> items;
    FiffTestWriter::Directory directory = FiffTestWriter::Directory::Stored;
};

struct RawFile {
    QByteArray bytes;
    QList<DirEntry> entries;  // tags as written, without the directory tag
    // Index in entries and position of the n-th tag of this kind; -1 when there is none.
    int indexOf(qint32 kind, int nth = 0) const;
    qint64 posOf(qint32 kind, int nth = 0) const;
};

RawFile buildRawRecording(const RawRecording& rec);

// A channel with a name, kind, unit and calibration; geometry left at zero.
ChannelSpec makeChannel(const QString& name, qint32 kind, qint32 unit = 0, float range = 1.0f,
                        float cal = 1.0f);

// Distinct, non-zero test values: channel c, sample j of a recording -> +-((c+1)*1000 + j +
// offset), negative for odd channels; they fit every buffer type.
Eigen::MatrixXd rampValues(int nchan, int nsamp, int offset = 0);

}  // namespace fifftest
