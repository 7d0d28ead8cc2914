#include "fiff_stream.h"

#include <QFile>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <limits>
#include <vector>

namespace FIFFLIB {

namespace {

// Deeper nesting than any recording has; a directory nesting further is damaged.
constexpr int kMaxBlockDepth = 64;
// A sequential device (a socket) gets this long per read for more data to arrive.
constexpr int kWaitMs = 3000;
// Data of a sequential device is taken in pieces of this size, so memory follows what arrives.
constexpr qint64 kChunk = qint64(1) << 20;

struct TagHeader {
    fiff_int_t kind = 0;
    fiff_int_t type = 0;
    fiff_int_t size = 0;
    fiff_int_t next = 0;
};

// Reads up to n bytes; a sequential device is waited for. Returns the bytes read.
qint64 readUpTo(QIODevice* dev, char* dst, qint64 n) {
    qint64 got = 0;
    while (got < n) {
        const qint64 r = dev->read(dst + got, n - got);
        if (r < 0) {
            break;
        }
        if (r == 0 && !(dev->isSequential() && dev->waitForReadyRead(kWaitMs))) {
            break;
        }
        got += r;
    }
    return got;
}

bool readHeader(QIODevice* dev, bool bigEndian, TagHeader& h) {
    char raw[FiffTag::headerSize()];
    if (readUpTo(dev, raw, sizeof raw) != qint64(sizeof raw)) {
        return false;
    }
    fiff_int_t v[4];
    for (int i = 0; i < 4; ++i) {
        v[i] = bigEndian ? qFromBigEndian<qint32>(raw + 4 * i)
                         : qFromLittleEndian<qint32>(raw + 4 * i);
    }
    h = {v[0], v[1], v[2], v[3]};
    return true;
}

// Skips n bytes of a sequential device by reading them.
bool discard(QIODevice* dev, qint64 n) {
    std::vector<char> sink(static_cast<std::size_t>(std::min(n, kChunk)));
    while (n > 0) {
        const qint64 want = std::min<qint64>(n, static_cast<qint64>(sink.size()));
        if (readUpTo(dev, sink.data(), want) != want) {
            return false;
        }
        n -= want;
    }
    return true;
}

// Frees a tree's parent links; nodes own their children, so the links would keep it alive.
void unlinkParents(const FiffDirNode::SPtr& root) {
    QList<FiffDirNode*> pending;
    if (root) {
        pending.append(root.get());
    }
    while (!pending.isEmpty()) {
        FiffDirNode* node = pending.takeLast();
        node->parent.reset();
        for (const FiffDirNode::SPtr& child : node->children) {
            if (child) {
                pending.append(child.get());
            }
        }
    }
}

bool entryInFile(const FiffDirEntry& e, qint64 fileSize) {
    return e.pos >= 0 && e.size >= 0 &&
           qint64(e.pos) + FiffTag::headerSize() + qint64(e.size) <= fileSize;
}

}  // namespace

FiffStream::FiffStream(QIODevice* device) : QDataStream(device) {
    setByteOrder(QDataStream::BigEndian);
    setFloatingPointPrecision(QDataStream::SinglePrecision);
}

FiffStream::~FiffStream() {
    unlinkParents(tree);
}

QString FiffStream::streamName() {
    if (auto* file = qobject_cast<QFile*>(device())) {
        return file->fileName();
    }
    return QStringLiteral("TCPSocket");
}

bool FiffStream::open(QIODevice::OpenModeFlag mode) {
    unlinkParents(tree);
    tree.reset();
    directory.clear();
    fileId.clear();

    const QString name = streamName();
    QIODevice* dev = device();
    bool opened = false;
    if (dev) {
        opened = dev->isOpen() ? dev->isReadable() && (dev->isSequential() || dev->seek(0))
                               : dev->open(mode);
    }
    if (!opened) {
        qCritical("Cannot open %s\n", qUtf8Printable(name));
        return false;
    }
    auto fail = [this]() {
        unlinkParents(tree);
        tree.reset();
        directory.clear();
        close();
        return false;
    };

    FiffTag::UPtr tag;
    if (!read_tag(tag) || tag->kind != FIFF::FIFF_FILE_ID || tag->type != FIFFT_ID_STRUCT ||
        tag->size() != FiffId::storageSize()) {
        qWarning("Fiff::open: file does not start with a file id tag\n");
        return fail();
    }
    fileId = tag->toFiffID();

    if (!read_tag(tag) || tag->kind != FIFF::FIFF_DIR_POINTER) {
        qWarning("Fiff::open: file does have a directory pointer");
        return fail();
    }
    const std::span<const fiff_int_t> dirPointer = tag->toInt();
    if (dirPointer.empty()) {
        qCritical("Could not read the tag directory (file probably damaged)!");
        return fail();
    }

    qInfo("Creating tag directory for %s...", qUtf8Printable(name));
    const fiff_int_t dirpos = dirPointer[0];
    if (dirpos > 0) {
        if (!read_tag(tag, dirpos) || tag->kind != FIFF::FIFF_DIR ||
            tag->type != FIFFT_DIR_ENTRY_STRUCT) {
            qCritical("Could not read the tag directory (file probably damaged)!");
            return fail();
        }
        directory = tag->toDirEntry();
    } else if (!make_dir()) {
        qCritical("Could not create tag directory!");
        return fail();
    }

    // A stored directory lists itself second to last; it becomes the terminating entry.
    const qsizetype n = directory.size();
    if (n >= 2 && directory[n - 2]->kind == FIFF::FIFF_DIR) {
        directory.removeLast();
        *directory.last() = FiffDirEntry();
    }
    // Every entry must lie inside the file before anything trusts its position and size.
    const qint64 fileSize = dev->isSequential() ? std::numeric_limits<qint64>::max() : dev->size();
    const bool inFile = std::all_of(
        directory.cbegin(), directory.cend(),
        [fileSize](const auto& e) { return e->kind == -1 || entryInFile(*e, fileSize); });
    if (directory.isEmpty() || !inFile) {
        qCritical("Could not read the tag directory (file probably damaged)!");
        return fail();
    }

    qsizetype stop = 0;
    tree = make_subtree(0, 0, stop);
    if (!tree) {
        return fail();
    }
    tree->parent.reset();
    if (!dev->isSequential()) {
        dev->seek(0);
    }
    return true;
}

bool FiffStream::close() {
    QIODevice* dev = device();
    if (!dev) {
        return false;
    }
    if (dev->isOpen()) {
        dev->close();
    }
    return true;
}

bool FiffStream::read_tag(FiffTag::UPtr& tag, qint64 pos) {
    auto fresh = std::make_unique<FiffTag>();
    if (!read_tag(*fresh, pos)) {
        tag.reset();
        return false;
    }
    tag = std::move(fresh);
    return true;
}

bool FiffStream::read_tag(FiffTag& tag, qint64 pos) {
    QIODevice* dev = device();
    if (!dev) {
        return false;
    }
    const bool sequential = dev->isSequential();
    if (pos >= 0 && (sequential || pos > dev->size() || !dev->seek(pos))) {
        qWarning("Cannot move to the tag at %lld (file probably damaged)", pos);
        return false;
    }
    const qint64 start = dev->pos();
    TagHeader h;
    if (!readHeader(dev, byteOrder() == QDataStream::BigEndian, h)) {
        qWarning("Cannot read the tag at %lld (file probably damaged)", start);
        return false;
    }
    // Never allocate from a size before knowing the data are there.
    if (h.size < 0) {
        qWarning("Tag at %lld has a negative size (file probably damaged)", start);
        return false;
    }
    if (!sequential && h.size > dev->size() - dev->pos()) {
        qWarning("Tag at %lld reaches past the end of the file (file probably damaged)", start);
        return false;
    }
    tag.kind = h.kind;
    tag.type = h.type;
    tag.next = h.next;
    if (sequential) {
        std::vector<char> received;
        while (qint64(received.size()) < h.size) {
            const qint64 have = static_cast<qint64>(received.size());
            const qint64 want = std::min(h.size - have, kChunk);
            received.resize(static_cast<std::size_t>(have + want));
            if (readUpTo(dev, received.data() + have, want) != want) {
                qWarning("Tag of %d bytes ended early (connection probably broken)", h.size);
                tag.resize(0);
                return false;
            }
        }
        std::copy(received.cbegin(), received.cend(), tag.resize(h.size));
    } else {
        // A reused tag keeps its storage and is not cleared first: the read overwrites it, and
        // whatever it does not reach (a file shrinking meanwhile) is zeroed, never stale.
        const std::size_t words = (static_cast<std::size_t>(h.size) + 7) / 8;
        tag.storage.resize(words);
        tag.dataSize = h.size;
        const qint64 got = std::max<qint64>(readUpTo(dev, tag.data(), h.size), 0);
        std::fill(tag.data() + got, tag.data() + words * 8, '\0');
    }
    if (byteOrder() == QDataStream::BigEndian) {
        tag.convert_tag_data();
    }
    // A next pointer outside the file is not followed; the position stays after the data.
    if (h.next > 0 && !sequential && h.next <= dev->size()) {
        dev->seek(h.next);
    }
    return true;
}

qint64 FiffStream::read_tag_info(FiffTag::UPtr& tag, bool skip) {
    QIODevice* dev = device();
    if (!dev) {
        return -1;
    }
    const qint64 start = dev->pos();
    TagHeader h;
    if (!readHeader(dev, byteOrder() == QDataStream::BigEndian, h)) {
        return -1;
    }
    tag = std::make_unique<FiffTag>();
    tag->kind = h.kind;
    tag->type = h.type;
    tag->next = h.next;
    tag->dataSize = h.size;
    if (!skip) {
        return start;
    }
    bool moved = true;
    if (dev->isSequential()) {
        moved = h.size >= 0 && discard(dev, h.size);
    } else if (h.next >= 1) {
        moved = h.next <= dev->size() && dev->seek(h.next);
    } else if (h.next == FIFFV_NEXT_SEQ && h.size != 0) {
        const qint64 target = dev->pos() + h.size;
        moved = h.size > 0 && target <= dev->size() && dev->seek(target);
    }
    if (!moved) {
        qCritical("fseek");
        return -1;
    }
    return start;
}

bool FiffStream::make_dir() {
    QIODevice* dev = device();
    if (!dev || !dev->seek(0)) {
        return false;
    }
    directory.clear();
    const qint64 fileSize = dev->size();
    // Tags that do not overlap take at least a header each.
    const qint64 maxEntries = fileSize / FiffTag::headerSize() + 1;
    QSet<qint64> visited;
    while (fileSize - dev->pos() >= FiffTag::headerSize()) {
        FiffTag::UPtr tag;
        const qint64 pos = read_tag_info(tag, true);
        if (pos < 0) {
            if (tag && tag->next > 0) {
                qCritical("A tag points outside the file (file probably damaged)!");
                return false;
            }
            // The data run past the end: a recording cut short (a crash while writing) keeps
            // the tags before the cut.
            qWarning("The tag directory ends before %lld (file probably truncated)", dev->pos());
            break;
        }
        if (visited.contains(pos)) {
            qCritical("The tag at %lld is reached twice (file probably damaged)!", pos);
            return false;
        }
        visited.insert(pos);
        if (tag->kind == FIFF::FIFF_DIR) {
            break;
        }
        auto entry = std::make_shared<FiffDirEntry>();
        entry->kind = tag->kind;
        entry->type = tag->type;
        entry->size = tag->size();
        entry->pos = static_cast<fiff_int_t>(pos);
        if (pos > std::numeric_limits<fiff_int_t>::max() || !entryInFile(*entry, fileSize) ||
            directory.size() >= maxEntries) {
            qCritical("The tag at %lld does not fit in the file (file probably damaged)!", pos);
            return false;
        }
        directory.append(std::move(entry));
        if (tag->next < 0) {
            break;
        }
    }
    directory.append(std::make_shared<FiffDirEntry>());
    return true;
}

FiffDirNode::SPtr FiffStream::make_subtree(qsizetype start, int depth, qsizetype& stop) {
    if (depth > kMaxBlockDepth) {
        qCritical("Blocks nested more than %d levels deep (file probably damaged)!",
                  kMaxBlockDepth);
        return {};
    }
    const qsizetype n = directory.size();
    auto node = std::make_shared<FiffDirNode>();
    node->type = FIFF::FIFFB_ROOT;
    node->nent_tree = 1;

    const bool isBlock = directory[start]->kind == FIFF::FIFF_BLOCK_START;
    if (isBlock) {
        FiffTag::UPtr tag;
        std::span<const fiff_int_t> kind;
        if (read_tag(tag, directory[start]->pos)) {
            kind = tag->toInt();
        }
        if (kind.empty()) {
            qCritical("Could not read the block start at %d (file probably damaged)!",
                      directory[start]->pos);
            return {};
        }
        node->type = kind[0];
    } else {
        node->id = fileId;
    }

    // A child consumes its entries up to its block end, so each entry is visited once; the
    // parent still counts them into its subtree.
    qsizetype i = start + 1;
    for (; i < n; ++i) {
        const FiffDirEntry::SPtr& entry = directory[i];
        ++node->nent_tree;
        if (entry->kind == FIFF::FIFF_BLOCK_START) {
            qsizetype childStop = n;
            FiffDirNode::SPtr child = make_subtree(i, depth + 1, childStop);
            if (!child) {
                unlinkParents(node);
                return {};
            }
            child->parent = node;
            node->children.append(child);
            node->nent_tree += static_cast<fiff_int_t>(std::min(childStop, n - 1) - i);
            i = childStop;
            if (i >= n || directory[i]->kind == -1) {
                break;  // the child ran to the end of the directory, and so does this node
            }
        } else if (entry->kind == FIFF::FIFF_BLOCK_END) {
            if (!isBlock) {
                qCritical("Block end without a block start at %d (file probably damaged)!",
                          entry->pos);
                unlinkParents(node);
                return {};
            }
            break;
        } else if (entry->kind == -1) {
            break;
        } else {
            const bool idTag = entry->kind == FIFF::FIFF_BLOCK_ID ||
                               (node->id.isEmpty() && (entry->kind == FIFF::FIFF_FILE_ID ||
                                                       entry->kind == FIFF::FIFF_PARENT_BLOCK_ID));
            FiffTag::UPtr tag;
            if (idTag && read_tag(tag, entry->pos)) {
                node->id = tag->toFiffID();
            }
            node->dir.append(std::make_shared<FiffDirEntry>(*entry));
        }
    }
    stop = i;
    for (const FiffDirNode::SPtr& child : node->children) {
        child->parent_id = node->id;
    }
    return node;
}

}  // namespace FIFFLIB
