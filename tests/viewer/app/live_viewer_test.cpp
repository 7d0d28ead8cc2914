// The live viewer as live_stream assembles it, against simulated chassis on loopback: the
// window appears once both chassis have answered, shows moving traces in the trace colour,
// and closing it shuts everything down.
#include "live_viewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QTest>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "data_source.h"
#include "device_mgr.h"
#include "graph_dialog.h"
#include "graph_view.h"
#include "style_sheet.h"

namespace {

// Pixels of the trace colour (#27637A from the style sheet) within half a slot of the slot's
// zero line (the lower edge of its band).
int tracePixels(const QImage& image, const GraphView& view, int slot) {
    const float band = view.GetTickSpacing() * static_cast<float>(view.GetTicksPerGraph());
    const float zero = 0.95f - static_cast<float>(slot + 1) * band;
    const int top = view.ToPixel(zero + band / 2);
    const int bottom = view.ToPixel(zero - band / 2);
    const QColor trace(0x27, 0x63, 0x7A);
    int count = 0;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y) {
        for (int x = 110; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - trace.red()) < 40 &&
                std::abs(pixel.green() - trace.green()) < 40 &&
                std::abs(pixel.blue() - trace.blue()) < 40) {
                ++count;
            }
        }
    }
    return count;
}

TEST(LiveViewer, ShowsMovingTracesAndShutsDownWhenClosed) {
    chassis_sim::SimConfig config;
    config.addresses = {"127.0.66.1", "127.0.66.2"};
    config.sensors = 4;
    config.mainsHz = 50;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    qApp->setStyleSheet(loadStyleSheet());
    testing::internal::CaptureStdout();
    std::vector<std::string> unreachable;
    auto viewer = LiveViewer::start(config.addresses, 50, unreachable);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(unreachable.empty());
    EXPECT_EQ(viewer->window().windowTitle(), "live_stream - 127.0.66.1, 127.0.66.2");
    EXPECT_EQ(viewer->source()->GetLineFreq(), 50);
    viewer->window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer->window()));

    GraphView& view = *viewer->window().view();
    // The layout follows the data-ready notice; then about a second of samples. Everything is
    // measured first and checked once standard output is back, so failures are not swallowed.
    const bool laidOut = QTest::qWaitFor([&] { return view.GetNumGraphsOnScreen() >= 4; }, 10000);
    QTest::qWait(laidOut ? 2000 : 0);
    const QImage first = view.grabFramebuffer();
    QTest::qWait(500);
    const QImage later = view.grabFramebuffer();
    std::vector<int> pixels;
    for (int slot = 0; slot < 4; ++slot) {
        pixels.push_back(tracePixels(first, view, slot));
    }
    const int sweepPos = view.GetSweepPos();

    viewer->window().close();
    viewer.reset();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(laidOut) << out;
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_GT(pixels[slot], 100) << "slot " << slot;
    }
    EXPECT_NE(first, later);  // the traces move
    EXPECT_GT(sweepPos, 1000);
    EXPECT_NE(out.find("Synced on "), std::string::npos) << out;
    EXPECT_NE(out.find("Closing graphDialog\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Stopping aggregator\n"), std::string::npos) << out;
    EXPECT_EQ(DeviceMgr::GetInstance()->getActiveConnections().second, 0u);
}

}  // namespace
