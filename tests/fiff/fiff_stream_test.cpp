// The structural layer: tags and their conversion to host order, the tag directory (stored or
// scanned), the block tree and the channel record, on files built by the test writer.
#include <gtest/gtest.h>

#include <QBuffer>
#include <bit>
#include <string>
#include <tuple>
#include <vector>

#include "fiff_stream.h"
#include "fiff_test_util.h"
#include "fiff_test_writer.h"

using namespace FIFFLIB;
using namespace fifftest;

namespace {

// Reads the tag at pos of a file held in memory.
FiffTag::UPtr readTagAt(const QByteArray& bytes, qint64 pos) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    FiffStream stream(&buffer);
    FiffTag::UPtr tag;
    EXPECT_TRUE(stream.read_tag(tag, pos));
    return tag;
}

// One element of a tag's data: its width in bytes and its value.
struct Field {
    int width;
    quint64 value;
};

QByteArray encodeFields(const std::vector<Field>& fields, bool bigEndian) {
    QByteArray out;
    for (const Field& f : fields) {
        for (int i = 0; i < f.width; ++i) {
            const int shift = 8 * (bigEndian ? f.width - 1 - i : i);
            out.append(static_cast<char>((f.value >> shift) & 0xFF));
        }
    }
    return out;
}

std::vector<Field> repeat(int count, int width, quint64 first) {
    std::vector<Field> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({width, first + static_cast<quint64>(i) * 0x01010101ULL});
    }
    return out;
}

std::vector<Field> concat(std::vector<Field> a, const std::vector<Field>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// IDs compared as their five fields, so that a failure prints the values.
Id fields(const FiffId& id) {
    return {id.version, id.machid[0], id.machid[1], id.time.secs, id.time.usecs};
}

quint64 bits(float f) {
    return std::bit_cast<quint32>(f);
}
quint64 bits(double d) {
    return std::bit_cast<quint64>(d);
}

struct ConversionCase {
    const char* name;
    qint32 type;
    std::vector<Field> fields;
    bool converted = true;
};

}  // namespace

static_assert(std::endian::native == std::endian::little, "expected values assume a LE host");

TEST(FiffTag, DataIsConvertedToHostOrderByElementWidthOfItsType) {
    const std::vector<Field> name = {{1, 'M'}, {1, 'E'}, {1, 'G'}, {1, ' '}, {1, '0'}, {1, '1'},
                                     {1, '1'}, {1, '3'}, {1, 0},   {1, 0},   {1, 0},   {1, 0},
                                     {1, 0},   {1, 0},   {1, 0},   {1, 0}};
    const std::vector<ConversionCase> cases = {
        {"byte", 1, {{1, 0x01}, {1, 0x02}, {1, 0xFF}}},
        {"short", 2, {{2, 0x0102}, {2, 0xFFFE}}},
        {"int", 3, {{4, 0x01020304}, {4, 0xFFFFFFF0}}},
        {"float", 4, {{4, bits(1.5f)}, {4, bits(-2.25f)}}},
        {"double", 5, {{8, bits(1.5)}, {8, bits(-1e300)}}},
        {"julian", 6, {{4, 0x00253D8C}}},
        {"ushort", 7, {{2, 0xABCD}}},
        {"uint", 8, {{4, 0x89ABCDEF}}},
        {"long", 9, {{8, 0x0102030405060708ULL}}},
        {"string", 10, {{1, 'a'}, {1, 'b'}, {1, 'c'}}},
        {"ulong", 11, {{8, 0xF1F2F3F4F5F6F7F8ULL}}},
        {"dau_pack16", 16, {{2, 0x8001}, {2, 0x0203}}},
        {"complex float", 20, {{4, bits(1.0f)}, {4, bits(-1.0f)}}},
        {"complex double", 21, {{8, bits(1.0)}, {8, bits(-3.0)}}},
        {"old pack", 23, {{4, bits(0.5f)}, {4, bits(2.0f)}, {2, 0x0102}, {2, 0x0304}}},
        {"channel record", 30, concat(repeat(20, 4, 0x01020304), name)},
        {"id", 31, repeat(5, 4, 0x10203040)},
        {"dir entries", 32, repeat(8, 4, 0x01000002)},
        {"dig point", 33, repeat(5, 4, 0x0A0B0C0D)},
        {"channel position", 34, repeat(13, 4, 0x01020304)},
        {"coordinate transform", 35, repeat(26, 4, 0x01020304)},
        {"data reference",
         38,
         {{4, 0x01020304}, {4, 0x05060708}, {8, 0x1112131415161718ULL}, {8, 0x2122232425262728}}},
        {"unknown type", 99, {{4, 0x01020304}, {4, 0x05060708}}, false},
        {"int matrix", FIFFTS_FS_MATRIX | FIFFT_INT,
         concat(repeat(6, 4, 0x01020304), {{4, 3}, {4, 2}, {4, 2}})},
        {"float matrix",
         FIFFTS_FS_MATRIX | FIFFT_FLOAT,
         {{4, bits(1.0f)}, {4, bits(2.0f)}, {4, 1}, {4, 2}, {4, 2}}},
        {"double matrix",
         FIFFTS_FS_MATRIX | FIFFT_DOUBLE,
         {{8, bits(1.0)}, {8, bits(2.0)}, {4, 2}, {4, 1}, {4, 2}}},
        // Column-compressed 2 x 2 with two non-zeros: values, row indices, column pointers, then
        // the non-zero count and the dimensions.
        {"sparse float matrix",
         FIFFTS_FS_MATRIX | FIFFTS_MC_CCS | FIFFT_FLOAT,
         {{4, bits(1.0f)},
          {4, bits(2.0f)},
          {4, 0},
          {4, 1},
          {4, 0},
          {4, 1},
          {4, 2},
          {4, 2},
          {4, 2},
          {4, 2},
          {4, 2}}},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FiffTestWriter w;
        const qint64 at = w.tag(3000, c.type, encodeFields(c.fields, true), 0);
        FiffTag::UPtr tag = readTagAt(w.finish(FiffTestWriter::Directory::None), at);
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->kind, 3000);
        EXPECT_EQ(tag->type, c.type);
        const QByteArray expected = encodeFields(c.fields, !c.converted);
        ASSERT_EQ(tag->size(), expected.size());
        EXPECT_EQ(QByteArray(tag->data(), tag->size()).toHex(), expected.toHex());
    }
}

TEST(FiffTag, MatrixTypeDimensionsAndValues) {
    // A 2 x 3 float matrix, rows on file one after the other, then columns, rows, 2.
    FiffTestWriter w;
    QByteArray data;
    for (float v : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}) {
        data.append(beFloat(v));
    }
    data.append(be32(3)).append(be32(2)).append(be32(2));
    const qint64 at = w.tag(3000, FIFFTS_FS_MATRIX | FIFFT_FLOAT, data);
    FiffTag::UPtr tag = readTagAt(w.finish(), at);
    ASSERT_NE(tag, nullptr);
    EXPECT_TRUE(tag->isMatrix());
    EXPECT_EQ(tag->getMatrixCoding(), FIFFTS_MC_DENSE);
    EXPECT_EQ(tag->getType(), FIFFT_FLOAT);
    fiff_int_t ndim = 0;
    std::vector<fiff_int_t> dims;
    ASSERT_TRUE(tag->getMatrixDimensions(ndim, dims));
    EXPECT_EQ(ndim, 2);
    EXPECT_EQ(dims, (std::vector<fiff_int_t>{3, 2}));
    Eigen::MatrixXf expected(2, 3);
    expected << 1, 2, 3, 4, 5, 6;
    EXPECT_TRUE(sameMatrix(tag->toFloatMatrix(), expected));
    // A matrix is no plain float tag.
    EXPECT_TRUE(tag->toFloat().empty());

    const qint64 sparseAt = w.pos();
    w.tag(3001, FIFFTS_FS_MATRIX | FIFFTS_MC_CCS | FIFFT_FLOAT, data);
    tag = readTagAt(w.finish(), sparseAt);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->getMatrixCoding(), FIFFTS_MC_CCS);
    EXPECT_EQ(tag->getType(), FIFFT_FLOAT);
}

TEST(FiffTag, UnknownMatrixCodingIsRefused) {
    FiffTestWriter w;
    const qint64 at =
        w.tag(3000, FIFFTS_FS_MATRIX | 0x00300000 | FIFFT_FLOAT,
              beFloat(1.0f).append(be32(1)).append(be32(1)).append(be32(1)).append(be32(2)));
    FiffTag::UPtr tag = readTagAt(w.finish(), at);
    ASSERT_NE(tag, nullptr);
    fiff_int_t ndim = 0;
    std::vector<fiff_int_t> dims;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(tag->getMatrixDimensions(ndim, dims));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: Cannot handle other than dense or sparse matrices yet.\n");
}

TEST(FiffTag, AccessorsRefuseOtherTypes) {
    FiffTestWriter w;
    const qint64 floatAt = w.floatTag(200, 3.0f);
    const qint64 intAt = w.intTag(201, 7);
    const QByteArray bytes = w.finish();

    FiffTag::UPtr tag = readTagAt(bytes, floatAt);
    ASSERT_NE(tag, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(tag->toInt().empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Expected an integer tag : 200 (found data type 4 instead)\n");
    ASSERT_EQ(tag->toFloat().size(), 1u);
    EXPECT_EQ(tag->toFloat()[0], 3.0f);

    tag = readTagAt(bytes, intAt);
    ASSERT_NE(tag, nullptr);
    ASSERT_EQ(tag->toInt().size(), 1u);
    EXPECT_EQ(tag->toInt()[0], 7);
    EXPECT_TRUE(tag->toFloat().empty());
    EXPECT_TRUE(tag->toShort().empty());
    EXPECT_TRUE(tag->toDauPack16().empty());
    EXPECT_TRUE(tag->toDouble().empty());
    EXPECT_TRUE(tag->toString().isEmpty());
    EXPECT_TRUE(tag->toFiffID().isEmpty());
    EXPECT_TRUE(tag->toDirEntry().isEmpty());
    EXPECT_TRUE(tag->toChInfo().ch_name.isEmpty());
}

TEST(FiffTag, ReadTagFollowsTheNextPointer) {
    FiffTestWriter w;
    const qint64 first = w.intTag(3000, 1);
    w.intTag(3001, 2);  // jumped over
    const qint64 target = w.intTag(3002, 3);
    w.setNext(first, static_cast<qint32>(target));
    QBuffer buffer;
    buffer.setData(w.finish(FiffTestWriter::Directory::None));
    buffer.open(QIODevice::ReadOnly);
    FiffStream stream(&buffer);
    FiffTag::UPtr tag;
    ASSERT_TRUE(stream.read_tag(tag, first));
    EXPECT_EQ(tag->next, target);
    ASSERT_TRUE(stream.read_tag(tag));
    EXPECT_EQ(tag->kind, 3002);
    ASSERT_EQ(tag->toInt().size(), 1u);
    EXPECT_EQ(tag->toInt()[0], 3);
}

// ---------------------------------------------------------------------------------------------
// Channel records.

namespace {

struct ChannelCase {
    const char* name;
    ChannelSpec spec;
    QString decodedName;
    fiff_int_t frame;
};

ChannelSpec channelWithGeometry(const QString& name, qint32 kind, std::array<float, 3> ex) {
    ChannelSpec ch = makeChannel(name, kind, FIFF::FIFF_UNIT_T_M, 2.0f, 3.5f);
    ch.scanNo = 3;
    ch.logNo = 113;
    ch.coilType = 3012;
    ch.unitMul = -3;
    ch.r0 = {0.1f, 0.2f, 0.3f};
    ch.ex = ex;
    ch.ey = {-0.8f, 0.6f, 0.0f};
    ch.ez = {0.0f, 0.0f, 1.0f};
    return ch;
}

Eigen::Vector3f vec(const std::array<float, 3>& a) {
    return {a[0], a[1], a[2]};
}

}  // namespace

TEST(FiffChInfo, RecordIsDecodedWithBlanksRemovedAndGeometryByKind) {
    const std::array<float, 3> ex = {0.6f, 0.8f, 0.0f};
    const std::vector<ChannelCase> cases = {
        {"MEG", channelWithGeometry("MEG 0113", 1, ex), "MEG0113", FIFF::FIFFV_COORD_DEVICE},
        {"MEG reference", channelWithGeometry(" REF 1", 301, ex), "REF1", 1},
        {"EEG", channelWithGeometry("EEG 001", 2, ex), "EEG001", FIFF::FIFFV_COORD_HEAD},
        {"EEG without reference", channelWithGeometry("EEG 002", 2, {}), "EEG002", 4},
        {"stimulus", channelWithGeometry("STI 014", 3, ex), "STI014", 0},
    };
    for (const ChannelCase& c : cases) {
        SCOPED_TRACE(c.name);
        FiffTestWriter w;
        const qint64 at = w.channel(c.spec);
        FiffTag::UPtr tag = readTagAt(w.finish(), at);
        ASSERT_NE(tag, nullptr);
        const FiffChInfo ch = tag->toChInfo();
        EXPECT_EQ(ch.ch_name, c.decodedName);
        EXPECT_EQ(ch.scanNo, 3);
        EXPECT_EQ(ch.logNo, 113);
        EXPECT_EQ(ch.kind, c.spec.kind);
        EXPECT_EQ(ch.range, 2.0f);
        EXPECT_EQ(ch.cal, 3.5f);
        EXPECT_EQ(ch.chpos.coil_type, 3012);
        EXPECT_EQ(ch.chpos.r0, vec(c.spec.r0));
        EXPECT_EQ(ch.chpos.ex, vec(c.spec.ex));
        EXPECT_EQ(ch.chpos.ey, vec(c.spec.ey));
        EXPECT_EQ(ch.chpos.ez, vec(c.spec.ez));
        EXPECT_EQ(ch.unit, FIFF::FIFF_UNIT_T_M);
        EXPECT_EQ(ch.unit_mul, -3);
        EXPECT_EQ(ch.coord_frame, c.frame);
        if (c.spec.kind == 1 || c.spec.kind == 301) {
            Eigen::Matrix4f trans = Eigen::Matrix4f::Identity();
            trans.block<3, 1>(0, 0) = vec(c.spec.ex);
            trans.block<3, 1>(0, 1) = vec(c.spec.ey);
            trans.block<3, 1>(0, 2) = vec(c.spec.ez);
            trans.block<3, 1>(0, 3) = vec(c.spec.r0);
            EXPECT_EQ(ch.coil_trans, trans);
        }
        if (c.spec.kind == 2) {
            EXPECT_EQ(Eigen::Vector3f(ch.eeg_loc.col(0)), vec(c.spec.r0));
            EXPECT_EQ(Eigen::Vector3f(ch.eeg_loc.col(1)), vec(c.spec.ex));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Opening: file ID, directory pointer, stored and scanned directories, the block tree.

namespace {

constexpr qint32 kA = 200;
constexpr qint32 kB = 201;
constexpr qint32 kC = 202;
constexpr qint32 kMark = 3000;  // an int per block telling which block it is
constexpr Id kBlockId = {1, 2, 3, 4, 5};

// root { A(mark 1) { B(mark 2) { A(mark 3) } } A(mark 4) } C(mark 5), root tag 3002.
QByteArray nestedFile(FiffTestWriter::Directory mode) {
    FiffTestWriter w;
    w.startBlock(kA);
    w.idTag(FIFF::FIFF_BLOCK_ID, kBlockId);
    w.intTag(kMark, 1);
    w.startBlock(kB);
    w.intTag(kMark, 2);
    w.startBlock(kA);
    w.intTag(kMark, 3);
    w.endBlock(kA);
    w.endBlock(kB);
    w.intTag(3001, 10);
    w.startBlock(kA);
    w.intTag(kMark, 4);
    w.endBlock(kA);
    w.endBlock(kA);
    w.startBlock(kC);
    w.intTag(kMark, 5);
    w.endBlock(kC);
    w.intTag(3002, 0);
    return w.finish(mode);
}

int markOf(FiffStream& stream, const FiffDirNode::SPtr& node) {
    FiffTag::UPtr tag;
    if (!node->find_tag(&stream, kMark, tag) || tag->toInt().empty()) {
        return -1;
    }
    return tag->toInt()[0];
}

std::vector<int> marks(FiffStream& stream, const QList<FiffDirNode::SPtr>& nodes) {
    std::vector<int> out;
    for (const auto& n : nodes) {
        out.push_back(markOf(stream, n));
    }
    return out;
}

void expectSameTree(const FiffDirNode::SPtr& a, const FiffDirNode::SPtr& b) {
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->type, b->type);
    EXPECT_EQ(fields(a->id), fields(b->id));
    ASSERT_EQ(a->nent(), b->nent());
    for (int i = 0; i < a->nent(); ++i) {
        EXPECT_EQ(a->dir[i]->kind, b->dir[i]->kind);
        EXPECT_EQ(a->dir[i]->pos, b->dir[i]->pos);
    }
    ASSERT_EQ(a->nchild(), b->nchild());
    for (int i = 0; i < a->nchild(); ++i) {
        expectSameTree(a->children[i], b->children[i]);
    }
}

}  // namespace

TEST(FiffStreamOpen, ScannedDirectoryEqualsTheStoredOne) {
    TestDevice storedDevice(DeviceKind::Memory, nestedFile(FiffTestWriter::Directory::Stored));
    TestDevice scannedDevice(DeviceKind::File, nestedFile(FiffTestWriter::Directory::None));
    FiffStream stored(&storedDevice.device());
    FiffStream scanned(&scannedDevice.device());
    ASSERT_TRUE(stored.open());
    ASSERT_TRUE(scanned.open());

    ASSERT_EQ(stored.nent(), scanned.nent());
    for (int i = 0; i < stored.nent(); ++i) {
        SCOPED_TRACE(i);
        const FiffDirEntry& s = *stored.dir()[i];
        const FiffDirEntry& c = *scanned.dir()[i];
        EXPECT_EQ(std::tie(s.kind, s.type, s.size, s.pos), std::tie(c.kind, c.type, c.size, c.pos));
    }
    // Every tag of the file but the directory itself, then the terminating entry.
    const FiffDirEntry& last = *scanned.dir().back();
    EXPECT_EQ(std::make_tuple(last.kind, last.type, last.size, last.pos),
              std::make_tuple(-1, -1, -1, -1));
    EXPECT_EQ(scanned.nent(), 21);
    EXPECT_EQ(scanned.dir()[0]->kind, FIFF::FIFF_FILE_ID);
    EXPECT_EQ(scanned.dir()[2]->pos, 56);  // after the ID (16 + 20) and the pointer (16 + 4)

    EXPECT_EQ(fields(stored.id()), kFileId);
    expectSameTree(stored.dirtree(), scanned.dirtree());
    EXPECT_EQ(storedDevice->pos(), 0);
}

TEST(FiffStreamOpen, BlockTreeIsInFileOrderAndSearchedInPreOrder) {
    TestDevice device(DeviceKind::Memory, nestedFile(FiffTestWriter::Directory::Stored));
    FiffStream stream(&device.device());
    ASSERT_TRUE(stream.open());
    const FiffDirNode::SPtr root = stream.dirtree();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->type, FIFF::FIFFB_ROOT);
    EXPECT_FALSE(root->parent);
    EXPECT_EQ(fields(root->id), kFileId);
    EXPECT_TRUE(root->has_tag(3002));
    ASSERT_EQ(root->nchild(), 2);
    EXPECT_EQ(root->children[0]->type, kA);
    EXPECT_EQ(root->children[1]->type, kC);
    EXPECT_EQ(root->children[0]->parent.get(), root.get());

    const FiffDirNode::SPtr a = root->children[0];
    ASSERT_EQ(a->nchild(), 2);
    EXPECT_EQ(a->children[0]->type, kB);
    EXPECT_EQ(a->children[1]->type, kA);
    // Own entries only, block start and end excluded; the block ID tag names the block.
    ASSERT_EQ(a->nent(), 3);
    EXPECT_EQ(a->dir[0]->kind, FIFF::FIFF_BLOCK_ID);
    EXPECT_EQ(a->dir[1]->kind, kMark);
    EXPECT_EQ(a->dir[2]->kind, 3001);
    EXPECT_EQ(fields(a->id), kBlockId);
    EXPECT_TRUE(a->has_tag(3001));
    EXPECT_FALSE(a->children[0]->has_tag(3001));

    // Pre-order: the nested A (inside B) comes before A's second child.
    EXPECT_EQ(marks(stream, root->dir_tree_find(kA)), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(marks(stream, a->dir_tree_find(kA)), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(marks(stream, a->children[0]->dir_tree_find(kA)), (std::vector<int>{3}));
    EXPECT_EQ(marks(stream, root->dir_tree_find(kC)), (std::vector<int>{5}));
    EXPECT_TRUE(root->dir_tree_find(4242).isEmpty());
    ASSERT_EQ(root->dir_tree_find(FIFF::FIFFB_ROOT).size(), 1);
    EXPECT_EQ(root->dir_tree_find(FIFF::FIFFB_ROOT)[0]->nchild(), 2);

    FiffTag::UPtr tag;
    EXPECT_FALSE(a->find_tag(&stream, 3005, tag));
    EXPECT_TRUE(tag == nullptr || tag->size() == 0);
}

TEST(FiffStreamOpen, RefusesAFileWithoutFileIdOrDirectoryPointer) {
    const QByteArray id = encodeFields(repeat(5, 4, 1), true);
    const QString noId = "Fiff::open: file does not start with a file id tag";
    const QString noPointer = "Fiff::open: file does have a directory pointer";
    struct Case {
        const char* name;
        qint32 kind, type;
        QByteArray data;
        qint32 secondKind;
        QString warning;
    };
    const std::vector<Case> cases = {
        {"dir pointer first", 101, 3, be32(0), 101, noId},
        {"id of type int", 100, 3, id, 101, noId},
        {"id of 16 bytes", 100, 31, id.left(16), 101, noId},
        {"id of 24 bytes", 100, 31, id + be32(0), 101, noId},
        {"no dir pointer", 100, 31, id, 3000, noPointer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FiffTestWriter w(false);
        w.tag(c.kind, c.type, c.data);
        w.intTag(c.secondKind, 0);
        w.intTag(3000, 1);
        TestDevice device(DeviceKind::Memory, w.finish(FiffTestWriter::Directory::None));
        FiffStream stream(&device.device());
        MessageLog log;
        EXPECT_FALSE(stream.open());
        EXPECT_TRUE(log.has(QtWarningMsg, c.warning)) << log.all().toStdString();
        EXPECT_TRUE(stream.dir().isEmpty());
        if (c.warning == noPointer) {
            EXPECT_FALSE(device->isOpen());
        }
    }
}

TEST(FiffStreamOpen, ScanStopsAtNextMinusOneAndJumpsToAPositiveNext) {
    for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
        SCOPED_TRACE(deviceName(kind));
        FiffTestWriter w;
        const qint64 jumper = w.intTag(3000, 1);
        w.raw(QByteArray(12, '\x7f'));  // not a tag
        const qint64 landing = w.intTag(3001, 2);
        w.intTag(3002, 3, FIFFV_NEXT_NONE);
        w.intTag(3003, 4);  // after the end of the chain
        w.setNext(jumper, static_cast<qint32>(landing));
        TestDevice device(kind, w.finish(FiffTestWriter::Directory::None));
        FiffStream stream(&device.device());
        MessageLog log;
        ASSERT_TRUE(stream.open());
        EXPECT_TRUE(log.has(QtInfoMsg, "Creating tag directory for " + stream.streamName() + "..."))
            << log.all().toStdString();
        std::vector<qint32> kinds;
        for (const auto& e : stream.dir()) {
            kinds.push_back(e->kind);
        }
        EXPECT_EQ(kinds, (std::vector<qint32>{100, 101, 3000, 3001, 3002, -1}));
        EXPECT_EQ(stream.dir()[3]->pos, landing);
    }
}

TEST(FiffStreamOpen, StreamNameIsTheFileNameOrTCPSocket) {
    const QByteArray bytes = nestedFile(FiffTestWriter::Directory::Stored);
    TestDevice memory(DeviceKind::Memory, bytes);
    TestDevice file(DeviceKind::File, bytes);
    EXPECT_EQ(FiffStream(&memory.device()).streamName(), "TCPSocket");
    const QString path = static_cast<QFile&>(file.device()).fileName();
    EXPECT_TRUE(path.endsWith("test.fif"));
    EXPECT_EQ(FiffStream(&file.device()).streamName(), path);
}
