// Recordings written by MNE-Python, one per storage format and one with data skips, read the
// way playback reads them and compared with what MNE itself reads back: sample numbers,
// sampling frequency, channel names (blanks removed), kinds, bads, picks and the calibrated
// data.
#include <gtest/gtest.h>

#include <QFile>
#include <QtGlobal>
#include <string>

#include "fiff_raw_data.h"
#include "mne_fixture.h"

namespace {

using FIFFLIB::fiff_int_t;
using FIFFLIB::FiffRawData;
using mne_fixture::MneFixture;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

class FiffMneTest : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        const QString error = mne_fixture::load(QString::fromStdString(GetParam()), fixture);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        previousHandler = qInstallMessageHandler(quiet);
    }
    void TearDown() override { qInstallMessageHandler(previousHandler); }

    MneFixture fixture;
    QtMessageHandler previousHandler = nullptr;
};

TEST_P(FiffMneTest, ReadsWhatMneWrote) {
    QFile file(fixture.fifPath);
    testing::internal::CaptureStdout();  // the reader's own diagnostics, shown on failure
    const FiffRawData raw(file);
    const std::string diagnostics = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(raw.isEmpty()) << diagnostics;

    EXPECT_EQ(raw.first_samp, fixture.firstSamp);
    EXPECT_EQ(raw.last_samp, fixture.lastSamp);
    EXPECT_FLOAT_EQ(raw.info.sfreq, fixture.sfreq);
    EXPECT_FLOAT_EQ(raw.info.linefreq, fixture.lineFreq.value_or(-1.0));
    EXPECT_EQ(raw.info.nchan, fixture.nchan);
    EXPECT_EQ(raw.info.ch_names, fixture.chNames);
    ASSERT_EQ(raw.info.chs.size(), fixture.nchan);
    for (int i = 0; i < fixture.nchan; ++i) {
        SCOPED_TRACE(fixture.chNames.value(i).toStdString());
        EXPECT_EQ(raw.info.chs[i].ch_name, fixture.chNames.value(i));
        EXPECT_EQ(raw.info.chs[i].kind, fixture.kinds.value(i));
    }
    EXPECT_EQ(raw.info.bads, fixture.bads);

    const Eigen::RowVectorXi picks =
        raw.info.pick_types(true, true, true, QStringList(), raw.info.bads);
    QStringList picked;
    for (const int index : picks) {
        picked << raw.info.ch_names.value(index);
    }
    ASSERT_EQ(picked, fixture.picks);

    Eigen::MatrixXd expected;
    const QString error = mne_fixture::loadData(fixture, expected);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();

    // The whole recording (-1 ... -1, as playback asks), then spans that start inside a buffer
    // and cross buffer ends, and the very first sample alone.
    const int first = fixture.firstSamp;
    const int last = fixture.lastSamp;
    struct Span {
        fiff_int_t from;
        fiff_int_t to;
    };
    for (const Span span : {Span{-1, -1}, Span{first + 150, first + 650}, Span{first + 1, last - 1},
                            Span{first, first}}) {
        const int from = span.from < 0 ? first : span.from;
        const int to = span.to < 0 ? last : span.to;
        SCOPED_TRACE("samples " + std::to_string(from) + " ... " + std::to_string(to));
        Eigen::MatrixXd data;
        Eigen::MatrixXd times;
        ASSERT_TRUE(raw.read_raw_segment(data, times, span.from, span.to, picks));
        const int n = to - from + 1;
        EXPECT_EQ(mne_fixture::compareRows(data, expected.middleCols(from - first, n),
                                           fixture.picks, from),
                  "");
        ASSERT_EQ(times.rows(), 1);
        ASSERT_EQ(times.cols(), n);
        // Within a hundredth of a sample period: single-precision arithmetic is fine, being
        // a sample off is not.
        const double period = 1.0 / fixture.sfreq;
        EXPECT_NEAR(times(0, 0), from * period, 0.01 * period);
        EXPECT_NEAR(times(0, n - 1), to * period, 0.01 * period);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FiffMneTest, testing::ValuesIn(mne_fixture::names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
