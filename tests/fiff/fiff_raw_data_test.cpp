// Measurement info, bad channels, channel picking, the raw-data set-up and the reading of
// segments, on recordings built by the test writer.
#include <gtest/gtest.h>

#include <QBuffer>
#include <functional>
#include <string>
#include <vector>

#include "fiff_info.h"
#include "fiff_raw_data.h"
#include "fiff_stream.h"
#include "fiff_test_util.h"
#include "fiff_test_writer.h"

using namespace FIFFLIB;
using namespace fifftest;

namespace {

// Calibrations range x cal: 3, 0.125 and 3; exact in float and double.
QList<ChannelSpec> threeChannels() {
    return {makeChannel("MEG 0111", FIFF::FIFFV_MEG_CH, FIFF::FIFF_UNIT_T_M, 2.0f, 1.5f),
            makeChannel("MEG 0112", FIFF::FIFFV_MEG_CH, FIFF::FIFF_UNIT_T, 0.5f, 0.25f),
            makeChannel("EEG 001", FIFF::FIFFV_EEG_CH, 107, 1.0f, 3.0f)};
}
const Eigen::Vector3d kCals(3.0, 0.125, 3.0);

// firstsamp 1000, then buffers of 100 samples (type 16) with values telling their position.
RawRecording recording(int nbuffers = 2, qint32 type = FIFFT_DAU_PACK16) {
    RawRecording rec;
    rec.channels = threeChannels();
    rec.firstSample = 1000;
    for (int b = 0; b < nbuffers; ++b) {
        rec.items.push_back(RawItem::buffer(type, rampValues(3, 100, 100 * b)));
    }
    return rec;
}

std::vector<int> toVector(const Eigen::RowVectorXi& v) {
    return {v.data(), v.data() + v.size()};
}

// Opens a raw recording held in memory; the device outlives the raw data.
struct OpenedRaw {
    explicit OpenedRaw(const QByteArray& bytes) : device(DeviceKind::Memory, bytes) {
        ok = FiffStream::setup_read_raw(device.device(), raw);
    }
    TestDevice device;
    FiffRawData raw;
    bool ok = false;
};

// The meas. info of a file, read through an opened stream.
struct OpenedInfo {
    explicit OpenedInfo(const QByteArray& bytes)
        : device(DeviceKind::Memory, bytes), stream(&device.device()) {
        opened = stream.open();
        if (opened) {
            ok = stream.read_meas_info(stream.dirtree(), info, node);
        }
    }
    TestDevice device;
    FiffStream stream;
    FiffInfo info;
    FiffDirNode::SPtr node;
    bool opened = false;
    bool ok = false;
};

std::string chomp(std::string s) {
    while (!s.empty() && s.back() == '\n') {
        s.pop_back();
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Measurement info.

TEST(FiffMeasInfo, ReadsTheInfoWithFilterDefaults) {
    RawRecording rec = recording();
    rec.bads = "MEG 0112";
    for (bool withFilters : {false, true}) {
        SCOPED_TRACE(withFilters ? "filters given" : "filters absent");
        if (withFilters) {
            rec.highpass = 0.1f;
            rec.lowpass = 100.0f;
        }
        OpenedInfo opened(buildRawRecording(rec).bytes);
        ASSERT_TRUE(opened.ok);
        const FiffInfo& info = opened.info;
        EXPECT_EQ(info.nchan, 3);
        EXPECT_EQ(info.sfreq, 1000.0f);
        EXPECT_EQ(info.linefreq, 50.0f);
        EXPECT_EQ(info.highpass, withFilters ? 0.1f : 0.0f);
        EXPECT_EQ(info.lowpass, withFilters ? 100.0f : 500.0f);
        EXPECT_EQ(info.ch_names, QStringList({"MEG0111", "MEG0112", "EEG001"}));
        ASSERT_EQ(info.chs.size(), 3);
        EXPECT_EQ(info.chs[1].kind, FIFF::FIFFV_MEG_CH);
        EXPECT_EQ(info.chs[1].unit, FIFF::FIFF_UNIT_T);
        EXPECT_EQ(info.chs[2].kind, FIFF::FIFFV_EEG_CH);
        EXPECT_EQ(info.bads, QStringList({"MEG0112"}));
        ASSERT_TRUE(opened.node);
        EXPECT_EQ(opened.node->type, FIFF::FIFFB_MEAS);
    }
}

TEST(FiffMeasInfo, IncompleteInfoIsRefusedOrWarnedAbout) {
    auto noMeasInfo = [] {
        FiffTestWriter w;
        w.startBlock(FIFF::FIFFB_MEAS);
        w.intTag(FIFF::FIFF_NCHAN, 1);
        w.endBlock(FIFF::FIFFB_MEAS);
        return w.finish();
    };
    auto noMeas = [] {
        FiffTestWriter w;
        w.startBlock(FIFF::FIFFB_MEAS_INFO);
        w.intTag(FIFF::FIFF_NCHAN, 1);
        w.endBlock(FIFF::FIFFB_MEAS_INFO);
        return w.finish();
    };
    auto with = [](const std::function<void(RawRecording&)>& change) {
        RawRecording rec = recording();
        change(rec);
        return buildRawRecording(rec).bytes;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool ok;
        QString warning;
    };
    const std::vector<Case> cases = {
        {"no measurement", noMeas(), false, "Could not find measurement data"},
        {"no meas. info", noMeasInfo(), false, "Could not find measurement info"},
        {"no nchan", with([](RawRecording& r) { r.omitNchan = true; }), false,
         "Number of channels in not defined"},
        {"no sfreq", with([](RawRecording& r) { r.omitSfreq = true; }), false,
         "Sampling frequency is not defined"},
        {"no channel records", with([](RawRecording& r) {
             r.channels.clear();
             r.nchan = 3;
         }),
         false, "Channel information not defined"},
        {"more channels than records", with([](RawRecording& r) { r.nchan = 4; }), false,
         "Incorrect number of channel definitions found"},
        {"fewer channels than records", with([](RawRecording& r) { r.nchan = 2; }), false,
         "Incorrect number of channel definitions found"},
        {"no line frequency", with([](RawRecording& r) { r.linefreq.reset(); }), true,
         "Line frequency is not defined"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageLog log;
        OpenedInfo opened(c.bytes);
        ASSERT_TRUE(opened.opened);
        EXPECT_EQ(opened.ok, c.ok);
        EXPECT_TRUE(log.has(QtWarningMsg, c.warning)) << log.all().toStdString();
        if (c.ok) {
            EXPECT_EQ(opened.info.linefreq, -1.0f);
            EXPECT_EQ(opened.info.nchan, 3);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Bad channels and channel picking.

TEST(FiffBadChannels, ListIsSplitAtColonsWithBlanksRemoved) {
    struct Case {
        QByteArray stored;
        QStringList expected;
    };
    for (const Case& c : std::vector<Case>{{"MEG 0112:EEG 001", {"MEG0112", "EEG001"}},
                                           {"A::B", {"A", "", "B"}},
                                           {" C ", {"C"}}}) {
        SCOPED_TRACE(c.stored.toStdString());
        RawRecording rec = recording();
        rec.bads = c.stored;
        OpenedInfo opened(buildRawRecording(rec).bytes);
        EXPECT_EQ(opened.stream.read_bad_channels(opened.stream.dirtree()), c.expected);
    }
    OpenedInfo none(buildRawRecording(recording()).bytes);
    EXPECT_TRUE(none.stream.read_bad_channels(none.stream.dirtree()).isEmpty());
}

TEST(FiffBadChannels, BothListedBadsAreExcludedByPickTypes) {
    RawRecording rec = recording();
    rec.channels.append(makeChannel("STI 014", FIFF::FIFFV_STIM_CH));
    rec.items.clear();
    rec.bads = "MEG 0112:EEG 001";
    OpenedInfo opened(buildRawRecording(rec).bytes);
    ASSERT_TRUE(opened.ok);
    EXPECT_EQ(toVector(opened.info.pick_types(true, true, true, {}, opened.info.bads)),
              (std::vector<int>{0, 3}));
}

TEST(FiffPick, ChannelOccurringTwiceIsPickedOnce) {
    RawRecording rec = recording();
    rec.channels = {makeChannel("MEG 0111", 1), makeChannel("MEG 0111", 1),
                    makeChannel("EEG 001", 2)};
    rec.items.clear();
    OpenedInfo opened(buildRawRecording(rec).bytes);
    ASSERT_TRUE(opened.ok);
    EXPECT_EQ(toVector(opened.info.pick_types(true, true)), (std::vector<int>{0, 2}));
}

TEST(FiffPick, PickChannelsIncludeAndExclude) {
    const QStringList names = {"A", "B", "C", "A"};
    struct Case {
        QStringList include, exclude;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {{}, {}, {0, 1, 2}}, {{"C", "A"}, {}, {0, 2}}, {{}, {"B"}, {0, 2}},       {{"a"}, {}, {}},
        {{"B"}, {"B"}, {}},  {{"X"}, {}, {}},          {{}, {"A", "B", "C"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            ("include " + c.include.join(",") + " exclude " + c.exclude.join(",")).toStdString());
        EXPECT_EQ(toVector(FiffInfoBase::pick_channels(names, c.include, c.exclude)), c.expected);
    }
}

TEST(FiffPick, PickTypesByKindAndUnit) {
    FiffInfo info;
    const QList<ChannelSpec> specs = {makeChannel("GRAD", FIFF::FIFFV_MEG_CH, FIFF::FIFF_UNIT_T_M),
                                      makeChannel("MAG", FIFF::FIFFV_MEG_CH, FIFF::FIFF_UNIT_T),
                                      makeChannel("REF", FIFF::FIFFV_REF_MEG_CH, FIFF::FIFF_UNIT_T),
                                      makeChannel("EEG", FIFF::FIFFV_EEG_CH, 107),
                                      makeChannel("STI", FIFF::FIFFV_STIM_CH),
                                      makeChannel("MISC", 502)};
    for (const ChannelSpec& s : specs) {
        FiffChInfo ch;
        ch.ch_name = s.name;
        ch.kind = s.kind;
        ch.unit = s.unit;
        info.chs.append(ch);
        info.ch_names.append(s.name);
    }
    info.nchan = static_cast<fiff_int_t>(specs.size());

    struct Case {
        const char* name;
        Eigen::RowVectorXi picked;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        {"meg", info.pick_types(true), {0, 1, 2}},
        {"all", info.pick_types(QString("all")), {0, 1, 2}},
        {"grad", info.pick_types(QString("grad")), {0}},
        {"mag", info.pick_types(QString("mag")), {1, 2}},
        {"unknown MEG word", info.pick_types(QString("xyz")), {}},
        {"eeg", info.pick_types(false, true), {3}},
        {"stim", info.pick_types(false, false, true), {4}},
        {"everything", info.pick_types(true, true, true), {0, 1, 2, 3, 4}},
        {"nothing", info.pick_types(false), {}},
        {"include", info.pick_types(false, false, false, {"MISC"}), {5}},
        {"include and meg", info.pick_types(QString("grad"), false, false, {"MISC"}), {0, 5}},
        {"exclude", info.pick_types(true, false, false, {}, {"MAG"}), {0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toVector(c.picked), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Raw-data set-up.

TEST(FiffRawSetup, FirstSampleAndSkipsSetTheSampleNumbers) {
    struct Dir {
        bool skip;
        int first, last, nsamp;
    };
    struct Case {
        const char* name;
        std::function<void(RawRecording&)> change;
        int first, last;
        std::vector<Dir> dir;
    };
    const std::vector<Case> cases = {
        {"firstsamp 1000",
         [](RawRecording&) {},
         1000,
         1199,
         {{false, 1000, 1099, 100}, {false, 1100, 1199, 100}}},
        {"no firstsamp",
         [](RawRecording& r) { r.firstSample.reset(); },
         0,
         199,
         {{false, 0, 99, 100}, {false, 100, 199, 100}}},
        {"initial skip of 2",
         [](RawRecording& r) { r.initialSkip = 2; },
         1200,
         1399,
         {{false, 1200, 1299, 100}, {false, 1300, 1399, 100}}},
        {"skip of 3 between buffers",
         [](RawRecording& r) { r.items.insert(r.items.begin() + 1, RawItem::skip(3)); },
         1000,
         1499,
         {{false, 1000, 1099, 100}, {true, 1100, 1399, 300}, {false, 1400, 1499, 100}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawRecording rec = recording();
        c.change(rec);
        MessageLog log;
        OpenedRaw opened(buildRawRecording(rec).bytes);
        ASSERT_TRUE(opened.ok) << log.all().toStdString();
        const FiffRawData& raw = opened.raw;
        EXPECT_EQ(raw.first_samp, c.first);
        EXPECT_EQ(raw.last_samp, c.last);
        ASSERT_EQ(raw.rawdir.size(), static_cast<qsizetype>(c.dir.size()));
        for (size_t i = 0; i < c.dir.size(); ++i) {
            SCOPED_TRACE(i);
            const FiffRawDir& d = raw.rawdir[static_cast<qsizetype>(i)];
            EXPECT_EQ(d.ent == nullptr, c.dir[i].skip);
            EXPECT_EQ(d.first, c.dir[i].first);
            EXPECT_EQ(d.last, c.dir[i].last);
            EXPECT_EQ(d.nsamp, c.dir[i].nsamp);
        }
        EXPECT_TRUE(sameMatrix(raw.cals, kCals.transpose()));
        EXPECT_EQ(raw.info.filename, "TCPSocket");
        EXPECT_FALSE(opened.device->isOpen());
        const QString range = QString::asprintf("\tRange : %d ... %d  =  %9.3f ... %9.3f secs",
                                                c.first, c.last, c.first / 1000.0, c.last / 1000.0);
        EXPECT_TRUE(log.has(QtInfoMsg, range)) << log.all().toStdString();
    }
}

TEST(FiffRawSetup, RawContinuousAndMaxShieldBlocksAreReadAlike) {
    for (qint32 kind :
         {FIFF::FIFFB_RAW_DATA, FIFF::FIFFB_CONTINUOUS_DATA, FIFF::FIFFB_SMSH_RAW_DATA, 4242}) {
        SCOPED_TRACE(kind);
        RawRecording rec = recording();
        rec.blockKind = kind;
        MessageLog log;
        OpenedRaw opened(buildRawRecording(rec).bytes);
        EXPECT_EQ(log.has(QtInfoMsg, "Maxshield data found"), kind == 119 || kind == 4242);
        if (kind == 4242) {
            EXPECT_FALSE(opened.ok);
            EXPECT_TRUE(log.has(QtWarningMsg, "No raw data in TCPSocket"))
                << log.all().toStdString();
            continue;
        }
        ASSERT_TRUE(opened.ok);
        EXPECT_EQ(opened.raw.first_samp, 1000);
        EXPECT_EQ(opened.raw.last_samp, 1199);
        Eigen::MatrixXd data, times;
        ASSERT_TRUE(opened.raw.read_raw_segment(data, times));
        EXPECT_TRUE(sameMatrix(data, kCals.asDiagonal() * rampValues(3, 200)));
    }
}

TEST(FiffRawSetup, UnknownBufferTypeFailsTheSetup) {
    const QByteArray bytes = buildRawRecording(recording(2, FIFFT_STRING)).bytes;
    {
        MessageLog log;
        OpenedRaw opened(bytes);
        EXPECT_FALSE(opened.ok);
        EXPECT_TRUE(log.has(QtWarningMsg, "Cannot handle data buffers of type 10"))
            << log.all().toStdString();
    }
    TestDevice device(DeviceKind::Memory, bytes);
    MessageLog quiet;
    testing::internal::CaptureStdout();
    FiffRawData raw(device.device());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\tError during fiff setup raw read.\n");
    EXPECT_TRUE(raw.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Reading segments.

TEST(FiffRawRead, EachBufferTypeIsReadAndCalibrated) {
    for (qint32 type : {FIFFT_DAU_PACK16, FIFFT_SHORT, FIFFT_INT, FIFFT_FLOAT, FIFFT_DOUBLE}) {
        SCOPED_TRACE(type);
        OpenedRaw opened(buildRawRecording(recording(2, type)).bytes);
        ASSERT_TRUE(opened.ok);
        Eigen::MatrixXd data, times;
        ASSERT_TRUE(opened.raw.read_raw_segment(data, times));
        EXPECT_TRUE(sameMatrix(data, kCals.asDiagonal() * rampValues(3, 200)));
        ASSERT_EQ(times.rows(), 1);
        ASSERT_EQ(times.cols(), 200);
        EXPECT_DOUBLE_EQ(times(0, 0), 1.0);
        EXPECT_DOUBLE_EQ(times(0, 199), 1.199);
    }
}

TEST(FiffRawRead, SkipBetweenBuffersReadsAsZeros) {
    RawRecording rec = recording();
    rec.items = {RawItem::buffer(FIFFT_FLOAT, rampValues(3, 100)), RawItem::skip(3),
                 RawItem::buffer(FIFFT_FLOAT, rampValues(3, 100, 400))};
    OpenedRaw opened(buildRawRecording(rec).bytes);
    ASSERT_TRUE(opened.ok);
    Eigen::MatrixXd data, times;
    ASSERT_TRUE(opened.raw.read_raw_segment(data, times));
    ASSERT_EQ(data.cols(), 500);
    Eigen::MatrixXd expected = kCals.asDiagonal() * rampValues(3, 500);
    expected.middleCols(100, 300).setZero();
    EXPECT_TRUE(sameMatrix(data, expected));
}

TEST(FiffRawRead, SegmentBoundsAreClampedAndEmptyRangesRefused) {
    OpenedRaw opened(buildRawRecording(recording()).bytes);  // samples 1000 ... 1199
    ASSERT_TRUE(opened.ok);
    const Eigen::MatrixXd all = kCals.asDiagonal() * rampValues(3, 200);
    struct Case {
        int from, to;
        int first, last;  // the samples read; last < first: refused
    };
    const std::vector<Case> cases = {
        {-1, -1, 1000, 1199},   {900, 1050, 1000, 1050}, {1150, 5000, 1150, 1199},
        {-1, 1000, 1000, 1000}, {1198, -1, 1198, 1199},  {1100, 1050, 1100, 1050},
        {5000, -1, 5000, 1199}, {-1, 10, 1000, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " ... " << c.to);
        Eigen::MatrixXd data, times;
        testing::internal::CaptureStdout();
        const bool ok = opened.raw.read_raw_segment(data, times, c.from, c.to);
        const std::string out = testing::internal::GetCapturedStdout();
        if (c.last < c.first) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(chomp(out), QString::asprintf(
                                      "No data in this range %d ... %d  =  %9.3f ... %9.3f secs...",
                                      c.first, c.last, c.first / 1000.0, c.last / 1000.0)
                                      .toStdString());
            continue;
        }
        ASSERT_TRUE(ok);
        const int n = c.last - c.first + 1;
        EXPECT_TRUE(sameMatrix(data, all.middleCols(c.first - 1000, n)));
        ASSERT_EQ(times.cols(), n);
        EXPECT_DOUBLE_EQ(times(0, 0), c.first / 1000.0);
        EXPECT_DOUBLE_EQ(times(0, n - 1), c.last / 1000.0);
    }
}

TEST(FiffRawRead, SegmentInsideTwoBuffersInSelectionOrder) {
    OpenedRaw opened(buildRawRecording(recording(3)).bytes);  // samples 1000 ... 1299
    ASSERT_TRUE(opened.ok);
    const Eigen::MatrixXd all = kCals.asDiagonal() * rampValues(3, 300);
    Eigen::RowVectorXi sel(2);
    sel << 2, 0;
    Eigen::MatrixXd data, times;
    ASSERT_TRUE(opened.raw.read_raw_segment(data, times, 1050, 1149, sel));
    ASSERT_EQ(data.rows(), 2);
    ASSERT_EQ(data.cols(), 100);
    EXPECT_TRUE(sameMatrix(data.row(0), all.row(2).segment(50, 100)));
    EXPECT_TRUE(sameMatrix(data.row(1), all.row(0).segment(50, 100)));
    for (int i = 0; i < 100; ++i) {
        EXPECT_DOUBLE_EQ(times(0, i), (1050 + i) / 1000.0);
    }
}

// A segment that starts on the last sample of a buffer passes that buffer over (only entries
// ending after the start are used): that sample's column stays 0, the rest lines up with the
// times row.
TEST(FiffRawRead, SegmentStartingOnTheLastSampleOfABuffer) {
    OpenedRaw opened(buildRawRecording(recording()).bytes);
    ASSERT_TRUE(opened.ok);
    const Eigen::MatrixXd all = kCals.asDiagonal() * rampValues(3, 200);
    Eigen::MatrixXd data, times;
    ASSERT_TRUE(opened.raw.read_raw_segment(data, times, 1099, 1102));
    ASSERT_EQ(data.cols(), 4);
    EXPECT_TRUE(data.col(0).isZero());
    EXPECT_TRUE(sameMatrix(data.rightCols(3), all.middleCols(100, 3)));
    EXPECT_DOUBLE_EQ(times(0, 0), 1.099);
}
