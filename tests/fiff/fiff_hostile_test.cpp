// Damaged files: each must be refused cleanly (open or set-up fails, a read fails or leaves
// zeros) and never crash, hang or hand back garbage.
#include <gtest/gtest.h>

#include <QtEndian>
#include <climits>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fiff_raw_data.h"
#include "fiff_stream.h"
#include "fiff_test_util.h"
#include "fiff_test_writer.h"

using namespace FIFFLIB;
using namespace fifftest;

namespace {

constexpr int kNchan = 2;
constexpr int kBufferSamples = 4;
constexpr int kSamples = 3 * kBufferSamples;
constexpr qint32 kFirstSample = 100;
// A set-up that claims more samples than this for the small files here took a size or count
// from a damaged field; reading it would only allocate.
constexpr qint64 kMaxSamples = qint64{1} << 20;

// Two channels (calibration 1), firstsamp 100, three buffers of 4 samples of types 16, 4, 3.
RawRecording smallRecording(FiffTestWriter::Directory dir = FiffTestWriter::Directory::Stored) {
    RawRecording rec;
    rec.channels = {makeChannel("MEG 0111", FIFF::FIFFV_MEG_CH, FIFF::FIFF_UNIT_T_M),
                    makeChannel("EEG 001", FIFF::FIFFV_EEG_CH)};
    rec.sfreq = 100.0f;
    rec.bads = "EEG 001";
    rec.firstSample = kFirstSample;
    const qint32 types[] = {FIFFT_DAU_PACK16, FIFFT_FLOAT, FIFFT_INT};
    for (int b = 0; b < 3; ++b) {
        rec.items.push_back(
            RawItem::buffer(types[b], rampValues(kNchan, kBufferSamples, b * kBufferSamples)));
    }
    rec.directory = dir;
    return rec;
}

const Eigen::MatrixXd& trueData() {
    static const Eigen::MatrixXd data = rampValues(kNchan, kSamples);
    return data;
}

struct Outcome {
    bool opened = false;
    bool setUp = false;
    bool large = false;
    bool read = false;
    bool readAfterFailedSetup = false;
    fiff_int_t first = -1;
    Eigen::MatrixXd data;
};

// The path playback takes: open, set up the raw data, read everything.
Outcome runPipeline(QIODevice& device) {
    Outcome o;
    {
        FiffStream stream(&device);
        o.opened = stream.open();
        stream.close();
    }
    FiffRawData raw;
    o.setUp = FiffStream::setup_read_raw(device, raw);
    Eigen::MatrixXd times;
    if (!o.setUp) {
        // Playback reads without checking the set-up: an empty recording must refuse.
        o.readAfterFailedSetup = raw.read_raw_segment(o.data, times);
        return o;
    }
    o.first = raw.first_samp;
    if (qint64{raw.last_samp} - raw.first_samp + 1 > kMaxSamples) {
        o.large = true;
        return o;
    }
    o.read = raw.read_raw_segment(o.data, times);
    return o;
}

Outcome runPipeline(DeviceKind kind, const QByteArray& bytes) {
    TestDevice device(kind, bytes);
    return runPipeline(device.device());
}

// Every column read is the true one of its sample or all zero (zero allowed from ... to only,
// when given); a read of another shape is garbage.
testing::AssertionResult trueOrZero(const Outcome& o, int zeroFrom = 0, int zeroTo = INT_MAX) {
    if (o.readAfterFailedSetup) {
        return testing::AssertionFailure() << "read after a failed set-up";
    }
    if (!o.read) {
        return testing::AssertionSuccess();
    }
    if (o.data.rows() != kNchan) {
        return testing::AssertionFailure() << "read " << o.data.rows() << " rows";
    }
    const int offset = o.first - kFirstSample;
    for (Eigen::Index c = 0; c < o.data.cols(); ++c) {
        const Eigen::Index s = c + offset;
        const bool zeroAllowed = s >= zeroFrom && s < zeroTo;
        if (zeroAllowed && o.data.col(c).isZero()) {
            continue;
        }
        if (s < 0 || s >= kSamples || o.data.col(c) != trueData().col(s)) {
            return testing::AssertionFailure()
                   << "column " << c << " (sample " << s << ") is neither the true one nor zero";
        }
    }
    return testing::AssertionSuccess();
}

// Offset of directory entry i (tags in file order) of a file with a stored directory.
qint64 dirEntryOffset(const QByteArray& bytes, int i) {
    return qFromBigEndian<qint32>(bytes.constData() + kDirPointerValuePos) + FiffTag::headerSize() +
           16 * i;
}

enum class Expect {
    OpenFails,   // open and set-up fail
    SetupFails,  // set-up fails
    Zeros,       // all is read; the damaged samples are zero, the others true
    Refused,     // some stage fails, or the damaged samples read as zero
    NoGarbage,   // any outcome, but what is read is true or zero
};

struct HostileCase {
    std::string name;
    QByteArray bytes;
    Expect expect;
    int zeroFrom = 0;  // samples that may (Refused) or must (Zeros) read as zero
    int zeroTo = 0;
};

void checkCase(const HostileCase& c, DeviceKind kind) {
    SCOPED_TRACE(c.name + " on " + deviceName(kind));
    MessageLog log;
    testing::internal::CaptureStdout();
    const Outcome o = runPipeline(kind, c.bytes);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(o.large) << "set-up accepted " << o.first << " ... beyond the file";
    switch (c.expect) {
        case Expect::OpenFails:
            EXPECT_FALSE(o.opened);
            EXPECT_FALSE(o.setUp);
            EXPECT_FALSE(o.readAfterFailedSetup);
            break;
        case Expect::SetupFails:
            EXPECT_FALSE(o.setUp);
            EXPECT_FALSE(o.readAfterFailedSetup);
            break;
        case Expect::Zeros:
            ASSERT_TRUE(o.read);
            EXPECT_EQ(o.data.cols(), kSamples);
            EXPECT_TRUE(trueOrZero(o, c.zeroFrom, c.zeroTo));
            EXPECT_TRUE(o.data.middleCols(c.zeroFrom, c.zeroTo - c.zeroFrom).isZero());
            break;
        case Expect::Refused:
            EXPECT_TRUE(trueOrZero(o, c.zeroFrom, c.zeroTo));
            break;
        case Expect::NoGarbage:
            EXPECT_TRUE(trueOrZero(o));
            break;
    }
}

using Change = std::function<void(RawFile&)>;

QByteArray damaged(const Change& change,
                   FiffTestWriter::Directory dir = FiffTestWriter::Directory::Stored) {
    RawFile f = buildRawRecording(smallRecording(dir));
    change(f);
    return f.bytes;
}

QByteArray recordingWith(const std::function<void(RawRecording&)>& change,
                         FiffTestWriter::Directory dir = FiffTestWriter::Directory::Stored) {
    RawRecording rec = smallRecording(dir);
    change(rec);
    return buildRawRecording(rec).bytes;
}

constexpr auto kStored = FiffTestWriter::Directory::Stored;
constexpr auto kScanned = FiffTestWriter::Directory::None;

}  // namespace

TEST(FiffHostile, TheSmallRecordingIsReadWhole) {
    for (auto dir : {kStored, kScanned}) {
        for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
            const Outcome o = runPipeline(kind, buildRawRecording(smallRecording(dir)).bytes);
            ASSERT_TRUE(o.opened && o.setUp && o.read);
            EXPECT_EQ(o.first, kFirstSample);
            EXPECT_TRUE(sameMatrix(o.data, trueData()));
        }
    }
}

TEST(FiffHostile, DamagedTagsAndDirectoriesAreRefused) {
    const auto header = [](qint32 kind, int field, qint32 value, int nth = 0) {
        return [=](RawFile& f) { putBe32(f.bytes, f.posOf(kind, nth) + field, value); };
    };
    const auto entry = [](qint32 kind, int field, qint32 value, int nth = 0) {
        return [=](RawFile& f) {
            putBe32(f.bytes, dirEntryOffset(f.bytes, f.indexOf(kind, nth)) + field, value);
        };
    };
    constexpr int kType = 4, kSize = 8, kNext = 12, kPos = 12;
    const qint32 huge = 1 << 30;
    std::vector<HostileCase> cases = {
        {"negative size of nchan", damaged(header(200, kSize, -4)), Expect::SetupFails},
        {"negative size of nchan, scanned", damaged(header(200, kSize, -4), kScanned),
         Expect::NoGarbage},
        {"buffer size past the end", damaged(header(300, kSize, huge, 2)), Expect::Zeros, 8, 12},
        {"buffer size past the end, scanned", damaged(header(300, kSize, huge, 2), kScanned),
         Expect::Refused, 8, 12},
        {"first buffer size past the end, scanned", damaged(header(300, kSize, huge), kScanned),
         Expect::Refused, 0, 12},
        {"next outside the file", damaged(header(201, kNext, 1 << 20), kScanned),
         Expect::OpenFails},
        {"next to itself",
         damaged([](RawFile& f) { putBe32(f.bytes, f.posOf(201) + kNext, f.posOf(201)); },
                 kScanned),
         Expect::OpenFails},
        {"next back to an earlier tag",
         damaged([](RawFile& f) { putBe32(f.bytes, f.posOf(300, 2) + kNext, f.posOf(200)); },
                 kScanned),
         Expect::OpenFails},
        {"raw block start past the end", damaged(entry(104, kPos, 1 << 20, 3)), Expect::OpenFails},
        {"buffer entry past the end", damaged(entry(300, kPos, 1 << 20, 1)), Expect::Refused, 4, 8},
        {"buffer entry at a negative position", damaged(entry(300, kPos, -64, 1)), Expect::Refused,
         4, 8},
        {"buffer entry into the middle of a tag", damaged([](RawFile& f) {
             putBe32(f.bytes, dirEntryOffset(f.bytes, f.indexOf(300, 1)) + kPos,
                     static_cast<qint32>(f.posOf(203) + 20));
         }),
         Expect::Refused, 4, 8},
        {"directory pointer past the end",
         damaged([](RawFile& f) { putBe32(f.bytes, kDirPointerValuePos, huge); }),
         Expect::OpenFails},
        {"directory of another type", damaged([](RawFile& f) {
             putBe32(f.bytes, dirEntryOffset(f.bytes, 0) - FiffTag::headerSize() + kType, 3);
         }),
         Expect::OpenFails},
        {"buffer type differs from its entry (width)", damaged(header(300, kType, FIFFT_DOUBLE, 1)),
         Expect::Zeros, 4, 8},
        {"buffer type differs from its entry (unknown)", damaged(header(300, kType, 99, 1)),
         Expect::Zeros, 4, 8},
        {"buffer smaller than its entry", damaged([](RawFile& f) {
             putBe32(f.bytes, f.posOf(300, 1) + kSize, 16);  // two samples of four
         }),
         Expect::Zeros, 4, 8},
        {"entry size not a multiple of nchan x width", damaged(entry(300, kSize, 30, 1)),
         Expect::SetupFails},
        {"nchan as float", recordingWith([](RawRecording& r) { r.nchanAsFloat = true; }),
         Expect::SetupFails},
        {"nchan 0", recordingWith([](RawRecording& r) { r.nchan = 0; }), Expect::SetupFails},
        {"nchan negative", recordingWith([](RawRecording& r) { r.nchan = -2; }),
         Expect::SetupFails},
        {"nchan beyond the channel records", recordingWith([](RawRecording& r) {
             r.nchan = 3;
             for (RawItem& item : r.items) {
                 item.values = rampValues(3, kBufferSamples);
             }
         }),
         Expect::SetupFails},
        {"buffer size not a multiple of nchan x width", recordingWith([](RawRecording& r) {
             r.items[1] = RawItem::buffer(FIFFT_DAU_PACK16, Eigen::MatrixXd::Ones(1, 5));
         }),
         Expect::SetupFails},
        {"initial skip of 2^30 buffers",
         recordingWith([](RawRecording& r) { r.initialSkip = 1 << 30; }), Expect::SetupFails},
        {"skip of 2^30 buffers", recordingWith([](RawRecording& r) {
             r.items.insert(r.items.begin() + 1, RawItem::skip(1 << 30));
         }),
         Expect::SetupFails},
        {"skip just over 2^24 samples", recordingWith([](RawRecording& r) {
             r.items.insert(r.items.begin() + 1, RawItem::skip((1 << 24) / kBufferSamples + 1));
         }),
         Expect::SetupFails},
        {"sample numbers overflowing",
         recordingWith([](RawRecording& r) { r.firstSample = INT_MAX - 5; }), Expect::SetupFails},
        {"negative skip", recordingWith([](RawRecording& r) { r.initialSkip = -5; }),
         Expect::NoGarbage},
    };
    for (auto dir : {kStored, kScanned}) {
        const std::string suffix = dir == kStored ? "" : ", scanned";
        const auto nested = [&](int depth, int extraEnds) {
            FiffTestWriter w;
            for (int i = 0; i < depth; ++i) {
                w.startBlock(1000 + i % 7);
            }
            for (int i = 0; i < depth + extraEnds; ++i) {
                w.endBlock(1000);
            }
            return w.finish(dir);
        };
        cases.push_back({"blocks 10000 deep" + suffix, nested(10000, 0), Expect::OpenFails});
        cases.push_back({"blocks 100 deep" + suffix, nested(100, 0), Expect::OpenFails});
        cases.push_back({"block end without start" + suffix, nested(2, 1), Expect::OpenFails});
        cases.push_back({"block end first" + suffix, nested(0, 1), Expect::OpenFails});
    }
    for (const HostileCase& c : cases) {
        for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
            checkCase(c, kind);
        }
    }
}

TEST(FiffHostile, SelectionOutsideTheChannelsIsRefused) {
    TestDevice device(DeviceKind::Memory, buildRawRecording(smallRecording()).bytes);
    FiffRawData raw;
    ASSERT_TRUE(FiffStream::setup_read_raw(device.device(), raw));
    for (const std::vector<int>& picks :
         std::vector<std::vector<int>>{{0, kNchan}, {-1}, {INT_MAX, 0}}) {
        const Eigen::RowVectorXi sel = Eigen::Map<const Eigen::RowVectorXi>(
            picks.data(), static_cast<Eigen::Index>(picks.size()));
        SCOPED_TRACE(testing::Message() << sel);
        Eigen::MatrixXd data, times;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(raw.read_raw_segment(data, times, -1, -1, sel));
        testing::internal::GetCapturedStdout();
    }
}

TEST(FiffHostile, ModerateNestingStillOpens) {
    FiffTestWriter w;
    for (int i = 0; i < 20; ++i) {
        w.startBlock(1000 + i);
    }
    for (int i = 0; i < 20; ++i) {
        w.endBlock(1000 + 19 - i);
    }
    TestDevice device(DeviceKind::Memory, w.finish());
    FiffStream stream(&device.device());
    ASSERT_TRUE(stream.open());
    EXPECT_EQ(stream.dirtree()->dir_tree_find(1019).size(), 1);
}

TEST(FiffHostile, NchanAsFloatNamesTheMismatch) {
    TestDevice device(DeviceKind::Memory,
                      recordingWith([](RawRecording& r) { r.nchanAsFloat = true; }));
    MessageLog log;
    FiffRawData raw;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(FiffStream::setup_read_raw(device.device(), raw));
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "Expected an integer tag : 200 (found data type 4 instead)\n"),
              std::string::npos);
}

TEST(FiffHostile, ReadTagRefusesImpossibleSizes) {
    FiffTestWriter w;
    const qint64 at = w.intTag(3000, 1);
    const QByteArray bytes = w.finish(FiffTestWriter::Directory::None);
    const auto fileSize = static_cast<qint32>(bytes.size());
    struct Case {
        qint32 size;
        bool ok;
    };
    for (const Case& c : std::vector<Case>{{-1, false},
                                           {INT_MIN, false},
                                           {fileSize, false},
                                           {INT_MAX, false},
                                           {fileSize - static_cast<qint32>(at) - 15, false},
                                           {fileSize - static_cast<qint32>(at) - 16, true},
                                           {0, true}}) {
        SCOPED_TRACE(c.size);
        QByteArray copy = bytes;
        putBe32(copy, at + 8, c.size);
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        FiffStream stream(&buffer);
        FiffTag::UPtr tag;
        EXPECT_EQ(stream.read_tag(tag, at), c.ok);
        if (c.ok) {
            EXPECT_EQ(tag->size(), c.size);
        }
    }
}

TEST(FiffHostile, MatrixDimensionsThatDoNotFitAreRefused) {
    const QByteArray two = beFloat(1.0f) + beFloat(2.0f);
    const auto dims = [](std::initializer_list<qint32> values) {
        QByteArray out;
        for (qint32 v : values) {
            out.append(be32(v));
        }
        return out;
    };
    struct Case {
        const char* name;
        qint32 coding;
        QByteArray data;
    };
    const std::vector<Case> cases = {
        {"1000 x 1000 in two values", FIFFTS_MC_DENSE, two + dims({1000, 1000, 2})},
        {"product overflowing", FIFFTS_MC_DENSE, two + dims({65536, 65536, 2})},
        {"negative dimensions", FIFFTS_MC_DENSE, two + dims({-1, -2, 2})},
        {"ndim 2^30", FIFFTS_MC_DENSE, two + dims({1, 2, 1 << 30})},
        {"ndim negative", FIFFTS_MC_DENSE, two + dims({1, 2, -2})},
        {"ndim only", FIFFTS_MC_DENSE, dims({2})},
        {"shorter than ndim", FIFFTS_MC_DENSE, QByteArray(2, '\1')},
        {"empty", FIFFTS_MC_DENSE, QByteArray()},
        {"sparse with more non-zeros than data", FIFFTS_MC_CCS,
         two + dims({0, 0, 0, 1, 1000, 2, 2, 2})},
        {"sparse ndim 2^30", FIFFTS_MC_RCS, two + dims({1, 2, 2, 1 << 30})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FiffTestWriter w;
        const qint64 at = w.tag(3000, FIFFTS_FS_MATRIX | c.coding | FIFFT_FLOAT, c.data);
        QByteArray bytes = w.finish(FiffTestWriter::Directory::None);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        FiffStream stream(&buffer);
        FiffTag::UPtr tag;
        if (!stream.read_tag(tag, at)) {
            continue;
        }
        fiff_int_t ndim = 0;
        std::vector<fiff_int_t> d;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(tag->getMatrixDimensions(ndim, d));
        EXPECT_EQ(tag->toFloatMatrix().size(), 0);
        testing::internal::GetCapturedStdout();
    }
}

// Every prefix of a valid file: open, set-up and read must not crash, and whatever is read is
// true or zero.
TEST(FiffHostile, TruncatedAtEveryByte) {
    MessageLog quiet;
    for (auto dir : {kStored, kScanned}) {
        const QByteArray full = buildRawRecording(smallRecording(dir)).bytes;
        for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
            SCOPED_TRACE(std::string(deviceName(kind)) + (dir == kStored ? "" : ", scanned"));
            testing::internal::CaptureStdout();
            for (qsizetype cut = 0; cut < full.size(); ++cut) {
                const Outcome o = runPipeline(kind, full.left(cut));
                EXPECT_FALSE(o.large) << "cut at " << cut;
                EXPECT_TRUE(trueOrZero(o)) << "cut at " << cut;
                if (o.read && dir == kStored) {
                    ADD_FAILURE() << "a stored directory cut off at " << cut << " was read";
                }
            }
            testing::internal::GetCapturedStdout();
        }
    }
}

// A recording without a directory that was cut short (a crash while writing) keeps what lies
// before the cut: the scan stops at the cut-off buffer and the whole buffers before it play.
TEST(FiffHostile, ScannedRecordingCutInsideItsLastBufferKeepsTheBuffersBefore) {
    MessageLog log;
    const RawFile file = buildRawRecording(smallRecording(kScanned));
    const qint64 lastBuffer = file.posOf(FIFF::FIFF_DATA_BUFFER, 2);
    ASSERT_GT(lastBuffer, 0);
    for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
        SCOPED_TRACE(deviceName(kind));
        testing::internal::CaptureStdout();
        const Outcome o = runPipeline(kind, file.bytes.left(lastBuffer + 20));
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(o.read);
        EXPECT_EQ(o.first, kFirstSample);
        EXPECT_EQ(o.data.cols(), 2 * kBufferSamples);
        EXPECT_TRUE(trueOrZero(o, 0, 0));
    }
    EXPECT_TRUE(log.all().contains(QStringLiteral("(file probably truncated)")))
        << log.all().toStdString();
}

// Random byte flips with a fixed seed: nothing may crash or hang.
TEST(FiffHostile, RandomByteFlips) {
    MessageLog quiet;
    std::mt19937 rng(20240611);
    for (auto dir : {kStored, kScanned}) {
        const QByteArray valid = buildRawRecording(smallRecording(dir)).bytes;
        std::uniform_int_distribution<qsizetype> position(0, valid.size() - 1);
        std::uniform_int_distribution<int> flips(1, 4);
        std::uniform_int_distribution<int> bit(0, 7);
        for (DeviceKind kind : {DeviceKind::Memory, DeviceKind::File}) {
            const int variants = kind == DeviceKind::Memory ? 1500 : 500;
            testing::internal::CaptureStdout();
            int read = 0;
            for (int v = 0; v < variants; ++v) {
                QByteArray bytes = valid;
                for (int n = flips(rng); n > 0; --n) {
                    bytes[position(rng)] ^= static_cast<char>(1 << bit(rng));
                }
                read += runPipeline(kind, bytes).read ? 1 : 0;
            }
            testing::internal::GetCapturedStdout();
            // Most flips hit data or spare bytes; a reader refusing everything is broken too.
            EXPECT_GT(read, variants / 4) << deviceName(kind);
        }
    }
}
