// What the graph view draws, checked on the pixels of grabbed frames under Xvfb with Mesa.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "graph_view_fixture.h"

namespace {

using namespace test_colors;

// ---- Layout -------------------------------------------------------------------------------

TEST_F(GraphViewTest, LayoutOf700x450WindowWith40Channels) {
    CapturedOutput out(CapturedOutput::Out);
    open(namedChannels(40));
    const std::string log = out.take();

    EXPECT_NEAR(view->GetLeftEdge(), 100.0 / 350.0 - 1.0, 1e-6);
    EXPECT_EQ(view->GetNumTicks(), 17);
    EXPECT_NEAR(view->GetTickSpacing(), 1.9 / 17, 1e-6);
    EXPECT_EQ(view->GetNumGraphsOnScreen(), 17);
    EXPECT_EQ(view->GetNumPoints(), 10000);
    // One point per millisecond across the plot, starting just right of the left edge.
    const float step = (0.95f - view->GetLeftEdge()) / 10000;
    for (int m : {0, 1, 5000, 9999}) {
        EXPECT_NEAR(xOf(m), view->GetLeftEdge() + 0.001f + static_cast<float>(m) * step, 1e-5) << m;
    }
    ASSERT_EQ(view->GetLabels().size(), 17u);
    EXPECT_EQ(view->GetLabels()[0].y, 31);
    EXPECT_EQ(view->GetLabels()[0].text.text(), "C0");
    for (std::size_t i = 0; i < view->GetLabels().size(); ++i) {
        const float h = view->GetTickSpacing();
        EXPECT_EQ(view->GetLabels()[i].y, view->ToPixel(0.95f - static_cast<float>(i) * h - h) - 5);
    }
    // The layout made by the first resize, and the reset that follows it.
    for (const char* line :
         {"genGraph\nusable_height: 427.5\ngraphHeight: 25 numTicks: 17\nNum graphs on screen 17\n"
          "Graph is 582 pixels wide out of 700\n",
          "resetGraph\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin\n" << log;
    }
    // Frame: the left axis and the time axis, ten ticks; grid: ten vertical lines, 17
    // horizontal ones.
    EXPECT_EQ(view->GetFrameSegments().size(), 12u);
    EXPECT_EQ(view->GetGridSegments().size(), 27u);

    const Picture p = frame();
    ASSERT_FALSE(p.image.isNull());
    const int axis = p.column(view->GetLeftEdge());
    EXPECT_TRUE(p.near(axis, p.row(0.5f), FRAME));
    EXPECT_TRUE(p.near(p.column(0.0f), p.row(-0.95f), FRAME));
    // Horizontal grid lines, sampled between two vertical ones.
    const int between = p.column(view->GetLeftEdge() + 0.5f * (0.95f - view->GetLeftEdge()) / 10);
    for (int j = 0; j < 17; ++j) {
        const float y = 0.95f - static_cast<float>(j) * view->GetTickSpacing();
        EXPECT_TRUE(p.near(between, p.row(y), GRID)) << "horizontal grid line " << j;
    }
    // Vertical grid lines, sampled between two horizontal ones.
    const int middle = p.row(0.95f - 2.5f * view->GetTickSpacing());
    for (int i = 1; i <= 10; ++i) {
        const float x =
            view->GetLeftEdge() + static_cast<float>(i) * (0.95f - view->GetLeftEdge()) / 10;
        EXPECT_TRUE(p.near(p.column(x), middle, GRID)) << "vertical grid line " << i;
    }
    EXPECT_TRUE(p.is(between, middle, BACKGROUND));
}

struct SizeCase {
    const char* name;
    QSize size;
    float leftEdge;
    int numTicks;
    int slots;  // of 40 channels
};

class GraphViewSizeTest : public GraphViewTest, public testing::WithParamInterface<SizeCase> {};

TEST_P(GraphViewSizeTest, LayoutFollowsTheWindowSize) {
    const SizeCase& c = GetParam();
    std::vector<TestChannel> channels = namedChannels(40);
    channels[0].signal.amplitude = 1.0;
    channels[0].signal.frequencyHz = 3.0;
    open(std::move(channels), {}, c.size);
    EXPECT_NEAR(view->GetLeftEdge(), c.leftEdge, 1e-5);
    EXPECT_EQ(view->GetNumTicks(), c.numTicks);
    EXPECT_EQ(view->GetNumGraphsOnScreen(), c.slots);
    EXPECT_EQ(view->GetLabels().size(), static_cast<std::size_t>(c.slots));
    pushAndFrame(10);
    const Picture p = pushAndFrame(500);
    ASSERT_FALSE(p.image.isNull());
    EXPECT_EQ(p.image.size(), c.size);
    const int traced = p.count(p.image.rect(), TRACE);
    if (c.slots == 0) {
        EXPECT_EQ(traced, 0);
    } else {
        EXPECT_GT(traced, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GraphViewSizeTest,
    testing::Values(SizeCase{"W700H450", {700, 450}, -0.7142857f, 17, 17},
                    SizeCase{"W640H400", {640, 400}, -0.6875f, 15, 15},
                    SizeCase{"W1000H1000", {1000, 1000}, -0.8f, 38, 38},
                    // Below 200 pixels the left edge is positive; below 27 no slot fits.
                    SizeCase{"W180H26", {180, 26}, 100.0f / 90.0f - 1.0f, 0, 0}),
    caseName<SizeCase>);

// ---- Sweep mode ---------------------------------------------------------------------------

struct SineCase {
    const char* name;
    int slot;
    int sineType;   // data type of the sine channel
    int otherType;  // data type of the others, drawn in the other colour
};

class GraphViewSineTest : public GraphViewTest, public testing::WithParamInterface<SineCase> {};

// A sine of the full-scale amplitude rises one grid division above its slot's zero line and
// falls one below; the sweep line stands just right of the newest sample.
TEST_P(GraphViewSineTest, FullScaleSineSpansOneDivisionAroundItsZeroLine) {
    const SineCase& c = GetParam();
    std::vector<TestChannel> channels;
    for (int i = 0; i < 3; ++i) {
        if (i == c.slot) {
            // 25 Hz from sample 10 on: the first ten samples give a baseline of 0.
            channels.push_back({"MEG" + std::to_string(i),
                                c.sineType,
                                calibrationFor(c.sineType),
                                {0.0, fullScale(c.sineType), 25.0, 10}});
        } else {
            // Input channels keep their level, half-way up their slot, clear of the sine's
            // extremes.
            channels.push_back(
                {"Input" + std::to_string(i), c.otherType, calibrationFor(c.otherType), {0.05}});
        }
    }
    open(std::move(channels));
    const QColor sine = traceColorFor(c.sineType);
    ASSERT_NE(sine, traceColorFor(c.otherType));

    pushAndFrame(10);
    const Picture p = pushAndFrame(2000);
    ASSERT_FALSE(p.image.isNull());
    EXPECT_EQ(view->GetSweepPos(), 2010);

    const float y0 = zeroLine(c.slot);
    const float division = view->GetTickSpacing();
    const std::vector<int> rows = p.rows(p.column(xOf(30)), p.column(xOf(1990)), sine);
    ASSERT_FALSE(rows.empty());
    EXPECT_NEAR(*std::min_element(rows.begin(), rows.end()), p.row(y0 + division), 1);
    EXPECT_NEAR(*std::max_element(rows.begin(), rows.end()), p.row(y0 - division), 1);

    // Only the points left of the sweep line exist yet.
    const int sweep = p.column(xOf(2010));
    EXPECT_TRUE(p.rows(sweep + 2, p.column(0.95f), sine).empty());
    for (const float y : {0.98f, 0.5f, 0.0f, -0.5f, -0.94f}) {
        EXPECT_TRUE(p.near(sweep, p.row(y), SWEEP)) << "sweep line at y " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, GraphViewSineTest,
                         testing::Values(SineCase{"Slot0Type28", 0, 28, 14},
                                         SineCase{"Slot2Type14", 2, 14, 50}),
                         caseName<SineCase>);

// At 0.1 s across, points are 6 pixels apart: a segment from the newest sample to the oldest
// one would cross the band between the two levels.
TEST_F(GraphViewTest, SweepLineSeparatesNewestFromOldestSample) {
    // Input channel: raw values, so the levels are +0.05 (samples 0 ... 99) and -0.05 after.
    open({{"Input1", 50, 1.0f, {0.05, 0.0, 0.0, 0, -0.1, 100}}});
    EXPECT_FLOAT_EQ(view->SetDivisions(0.1f), 0.1f);
    ASSERT_EQ(view->GetNumPoints(), 100);

    pushAndFrame(10);
    const Picture p = pushAndFrame(140);  // 150 samples: the sweep wrapped, 50 points ago
    ASSERT_FALSE(p.image.isNull());
    ASSERT_EQ(view->GetSweepPos(), 50);

    const float y0 = zeroLine(0);
    const int newRow = p.row(y0 - 0.05f);  // samples 100 ... 149, left of the sweep line
    const int oldRow = p.row(y0 + 0.05f);  // samples 50 ... 99, right of it
    for (int point : {1, 25, 48}) {
        EXPECT_TRUE(p.near(p.column(xOf(point)), newRow, TRACE)) << "point " << point;
    }
    for (int point : {52, 75, 98}) {
        EXPECT_TRUE(p.near(p.column(xOf(point)), oldRow, TRACE)) << "point " << point;
    }
    EXPECT_TRUE(p.near(p.column(xOf(50)), p.row(0.0f), SWEEP));
    const QRect band(QPoint(p.column(view->GetLeftEdge()) + 1, oldRow + 2),
                     QPoint(p.column(0.95f) + 1, newRow - 2));
    EXPECT_EQ(p.count(band, TRACE), 0) << "a segment crosses between the levels";
}

// Baseline removal puts a DC offset on the zero line, and each wrap takes a fresh baseline
// while the rest of the previous sweep keeps the one it was drawn with.
TEST_F(GraphViewTest, BaselineIsRemovedAndRetakenAtEachWrap) {
    // 3 full-scale values of offset, stepping down by half a division at sample 600.
    open({{"MEG1", 50, 1.0f, {3.0, 0.0, 0.0, 0, -0.5, 600}}});
    view->SetDivisions(1.0f);
    ASSERT_EQ(view->GetNumPoints(), 1000);
    const float y0 = zeroLine(0);
    const float division = view->GetTickSpacing();

    Picture p = pushAndFrame(10);
    ASSERT_FALSE(p.image.isNull());
    EXPECT_FLOAT_EQ(view->GetOffsets()[0].current, 3.0f);
    EXPECT_TRUE(p.near(p.column(xOf(5)), p.row(y0), TRACE));
    EXPECT_FALSE(p.near(p.column(xOf(5)), p.row(y0 + 3 * division), TRACE));

    p = pushAndFrame(1190);  // 1200 samples: wrapped, sweep line at point 200
    ASSERT_FALSE(p.image.isNull());
    ASSERT_EQ(view->GetSweepPos(), 200);
    EXPECT_FLOAT_EQ(view->GetOffsets()[0].current, 2.5f);
    EXPECT_FLOAT_EQ(view->GetOffsets()[0].previous, 3.0f);
    struct Expectation {
        int point;
        float level;  // above the zero line, in divisions
    };
    for (const Expectation& e : {Expectation{100, 0.0f},      // new sweep, new baseline
                                 Expectation{400, 0.0f},      // old sweep before the step
                                 Expectation{800, -0.5f}}) {  // old sweep after the step
        SCOPED_TRACE(e.point);
        EXPECT_TRUE(p.near(p.column(xOf(e.point)), p.row(y0 + e.level * division), TRACE));
    }
}

// ---- Scroll mode and input channels -------------------------------------------------------

TEST_F(GraphViewTest, ScrollModeEndsAtTheRightEdge) {
    open({{"Input1", 50, 1.0f, {0.05}}, {"MEG2", 50, 1.0f, {2.0}}}, configFor(Scroll));
    pushAndFrame(10);
    CapturedOutput out(CapturedOutput::Out);
    const Picture p = pushAndFrame(20);
    ASSERT_FALSE(p.image.isNull());
    EXPECT_EQ(view->GetSweepPos(), 10000 - 30);

    const int inputRow = p.row(zeroLine(0) + 0.05f);
    const std::vector<int> columns = [&] {
        std::vector<int> found;
        for (int c = 0; c < p.width(); ++c) {
            if (p.near(c, inputRow, TRACE, 0)) {
                found.push_back(c);
            }
        }
        return found;
    }();
    ASSERT_FALSE(columns.empty());
    EXPECT_NEAR(columns.front(), p.column(xOf(9970)), 1);
    EXPECT_NEAR(columns.back(), p.column(xOf(9999)), 1);
    EXPECT_NEAR(p.column(xOf(9999)), p.column(0.95f), 1);
    // The other channel's first sample is its baseline.
    EXPECT_TRUE(p.near(p.column(xOf(9990)), p.row(zeroLine(1)), TRACE));

    pushAndFrame(100);
    pushAndFrame(10);
    EXPECT_EQ(out.take(), "update autoscale done\n");
}

class GraphViewInputTest : public GraphViewTest,
                           public testing::WithParamInterface<GraphingType> {};

// An input channel keeps its raw values (no baseline) at gain 1; another channel of the same
// data type and level is scaled and lands on its zero line.
TEST_P(GraphViewInputTest, InputChannelsKeepRawValuesAndGainOne) {
    open({{"Input1", 28, 1e-12f, {0.1}}, {"MEG2", 28, 1e-12f, {0.1}}}, configFor(GetParam()));
    EXPECT_FALSE(view->GetOffsets()[0].enabled);
    EXPECT_TRUE(view->GetOffsets()[1].enabled);
    pushAndFrame(10);
    const Picture p = pushAndFrame(200);
    ASSERT_FALSE(p.image.isNull());
    const int column = p.column(xOf(GetParam() == Sweep ? 100 : 9900));
    EXPECT_TRUE(p.near(column, p.row(zeroLine(0) + 0.1f), TRACE));
    EXPECT_TRUE(p.near(column, p.row(zeroLine(1)), TRACE));
}

INSTANTIATE_TEST_SUITE_P(TimeModes, GraphViewInputTest, testing::Values(Sweep, Scroll),
                         modeParamName);

// ---- Spectrum mode ------------------------------------------------------------------------

// Sines at exactly bins 64 and 128 of the 1024-point transform, three times the full-scale
// value: the Hamming window's coherent gain puts about 0.81 full-scale values into the bin.
TEST_F(GraphViewTest, SpectrumPeaksSitAtTheirBinsOnTheLogAxis) {
    open({{"MEG1", 28, calibrationFor(28), {0.0, 3 * fullScale(28), 62.5, 0}},
          {"MEG2", 14, calibrationFor(14), {0.0, 3 * fullScale(14), 125.0, 0}}});
    QSignalSpy resets(view.get(), &GraphView::sigResetRequested);
    view->EnableFft(true);
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(view->GetNumPoints(), 511);

    Picture p = pushAndFrame(10);
    ASSERT_FALSE(p.image.isNull());
    const QRect plot(QPoint(p.column(view->GetLeftEdge()) + 1, 0),
                     QPoint(p.width() - 1, p.row(-0.95f) - 1));
    EXPECT_EQ(p.count(plot, TRACE), 0) << "nothing before the first spectrum";
    EXPECT_EQ(p.count(plot, INPUT_TRACE), 0);

    p = pushAndFrame(1100);
    ASSERT_FALSE(p.image.isNull());
    const double top = std::log10(1.0 + view->GetTickSpacing());
    // Bin 1 on the left edge, bin 511 on the right one, logarithmic in between.
    const auto binX = [&](int bin) {
        const float left = view->GetLeftEdge();
        return left + static_cast<float>(std::log10(bin) / std::log10(511.0)) * (0.95f - left);
    };
    const float peak = static_cast<float>(std::pow(10.0, 3 * 0.2698 * top) - 1.0);
    struct Expectation {
        int slot;
        int bin;
        QColor color;
    };
    for (const Expectation& e : {Expectation{0, 64, TRACE}, Expectation{1, 128, INPUT_TRACE}}) {
        SCOPED_TRACE(e.slot);
        const float y0 = zeroLine(e.slot);
        // The highest trace pixel of the slot's band is the peak.
        int bestRow = p.height();
        int bestColumn = -1;
        for (int c = plot.left(); c <= plot.right(); ++c) {
            for (int r = p.row(y0 + view->GetTickSpacing()); r <= p.row(y0) + 1; ++r) {
                if (p.is(c, r, e.color) && r < bestRow) {
                    bestRow = r;
                    bestColumn = c;
                }
            }
        }
        EXPECT_NEAR(bestColumn, p.column(binX(e.bin)), 2);
        EXPECT_NEAR(bestRow, p.row(y0 + peak), 2);
        // Far from the peak the spectrum lies on the zero line.
        EXPECT_TRUE(p.near(p.column(binX(400)), p.row(y0), e.color));
    }
}

struct RestartCase {
    const char* name;
    void (*change)(GraphView&);
};

class GraphViewSpectrumRestartTest : public GraphViewTest,
                                     public testing::WithParamInterface<RestartCase> {};

// Both settings restart every estimator, so the picture is empty until 1024 new samples.
TEST_P(GraphViewSpectrumRestartTest, SpectrumSettingsRestartTheEstimators) {
    open({{"MEG1", 50, 1.0f, {0.0, 4.0, 62.5, 0}}});
    view->EnableFft(true);
    pushAndFrame(10);
    Picture p = pushAndFrame(1100);
    ASSERT_FALSE(p.image.isNull());
    const QRect plot(QPoint(p.column(view->GetLeftEdge()) + 1, 0),
                     QPoint(p.width() - 1, p.row(-0.95f) - 1));
    EXPECT_GT(p.count(plot, TRACE), 0);

    GetParam().change(*view);
    p = pushAndFrame(600);
    EXPECT_EQ(p.count(plot, TRACE), 0);
    p = pushAndFrame(500);
    EXPECT_GT(p.count(plot, TRACE), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, GraphViewSpectrumRestartTest,
    testing::Values(RestartCase{"Averages", [](GraphView& v) { v.SetNumFftAverages(4); }},
                    RestartCase{"Window", [](GraphView& v) { v.SetFftWindowType(Hann); }}),
    caseName<RestartCase>);

// ---- Pause, data sources without channels -------------------------------------------------

TEST_F(GraphViewTest, PauseFreezesThePictureAndResumeRestartsIt) {
    open({{"MEG1", 50, 1.0f, {0.0, 1.0, 5.0, 10}}});
    pushAndFrame(10);
    const Picture running = pushAndFrame(500);
    ASSERT_FALSE(running.image.isNull());

    view->SetPaused(true);
    const Picture paused = pushAndFrame(500);
    EXPECT_TRUE(paused.image == running.image);
    EXPECT_EQ(view->GetSweepPos(), 510);

    CapturedOutput out(CapturedOutput::Out);
    view->SetPaused(false);
    EXPECT_EQ(out.take(), "resetGraph\n");
    pushAndFrame(10);
    EXPECT_EQ(view->GetSweepPos(), 10);
    const Picture resumed = pushAndFrame(200);
    ASSERT_FALSE(resumed.image.isNull());
    EXPECT_EQ(view->GetSweepPos(), 210);
    // A new picture left of the sweep line; the longer trace of the earlier one is gone.
    const int sweep = resumed.column(xOf(210));
    EXPECT_TRUE(resumed.near(sweep, resumed.row(0.0f), SWEEP));
    EXPECT_FALSE(resumed.rows(resumed.column(xOf(0)), sweep - 2, TRACE).empty());
    EXPECT_TRUE(resumed.rows(sweep + 2, resumed.column(0.95f), TRACE).empty());
    EXPECT_FALSE(running.rows(sweep + 2, resumed.column(0.95f), TRACE).empty());
}

class GraphViewNoChannelTest : public GraphViewTest,
                               public testing::WithParamInterface<GraphingType> {};

TEST_P(GraphViewNoChannelTest, SourceWithoutChannelsDrawsFrameGridAndSweepLine) {
    open({}, configFor(GetParam()));
    EXPECT_EQ(view->GetNumGraphsOnScreen(), 0);
    source->push(100);
    const Picture p = frame();
    ASSERT_FALSE(p.image.isNull());
    EXPECT_TRUE(p.near(p.column(view->GetLeftEdge()), p.row(0.5f), FRAME));
    EXPECT_TRUE(p.near(p.column(0.0f), p.row(0.95f), GRID));
    EXPECT_EQ(p.count(p.image.rect(), SWEEP) > 0, GetParam() == Sweep);
    if (GetParam() == Sweep) {
        EXPECT_TRUE(p.near(p.column(xOf(0)), p.row(0.0f), SWEEP));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, GraphViewNoChannelTest, testing::Values(Sweep, Scroll, Spectrum),
                         modeParamName);

}  // namespace
