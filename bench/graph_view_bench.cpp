// One frame of the graph view in sweep mode, in the steady state (full rings): the hand-over of
// 16 ms of samples, the trace rebuild, the uploads, the drawing and the channel names, finished
// by the OpenGL implementation. Reported as process CPU time, which includes the rasterizer's
// threads; run under Xvfb with a screen large enough for 1920 x 1080.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "graph_view.h"
#include "test_data_source.h"
#include "test_qt_resources.h"

namespace {

class BenchView : public GraphView {
public:
    using GraphView::GraphView;
    using GraphView::paintGL;
};

// The view's layout lines would drown the table.
class QuietStdout {
public:
    QuietStdout() : saved(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        if (std::FILE* null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), STDOUT_FILENO);
            std::fclose(null);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved;
};

constexpr int SAMPLES_PER_FRAME = 16;  // 16 ms at 1 kHz

void frame(BenchView& view, QOpenGLFunctions& gl) {
    view.paintGL();
    gl.glFinish();
}

void BM_SweepFrame(benchmark::State& state, int width, int height, int channels, float seconds) {
    std::vector<TestChannel> list;
    for (int c = 0; c < channels; ++c) {
        // Full-scale sines of different frequencies: every trace spans its slot.
        list.push_back({"MEG" + std::to_string(c), 28, 1e-12f, {0.0, 2e-11, 3.0 + 0.7 * c, 0}});
    }
    std::shared_ptr<TestDataSource> source;
    std::unique_ptr<BenchView> owner;
    {
        const QuietStdout quiet;
        source = std::make_shared<TestDataSource>(std::move(list));
        owner = std::make_unique<BenchView>(GraphViewConfig{}, source);
    }
    BenchView& view = *owner;
    view.setGraphBackgroundColor(QColor("#F5F6F6"));
    view.setGraphLineColor(QColor("#27637A"));
    view.setGraphFrameColor(QColor("#051C26"));
    view.setGraphGridColor(QColor("#E2E2E2"));
    view.setGraphSweepLineColor(QColor("#69777D"));
    {
        const QuietStdout quiet;
        view.start();
        view.resize(width, height);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view) || view.context() == nullptr) {
            state.SkipWithError("no OpenGL context");
            return;
        }
        view.findChild<QTimer*>()->stop();
        view.SetDivisions(seconds);
        // Fill the rings: the first hand-over takes ten samples, later ones at most what the
        // source holds.
        source->push(10);
        view.grabFramebuffer();
        for (int held = 0; held < view.GetNumPoints();
             held += static_cast<int>(TestDataSource::CAPACITY)) {
            source->push(static_cast<int>(TestDataSource::CAPACITY));
            view.grabFramebuffer();
        }
    }
    if (view.size() != QSize(width, height)) {
        state.SkipWithError("the window did not get its size; enlarge the screen");
        return;
    }

    view.makeCurrent();
    QOpenGLFunctions* gl = view.context()->functions();
    for (int i = 0; i < 5; ++i) {
        source->push(SAMPLES_PER_FRAME);
        frame(view, *gl);
    }
    for (auto _ : state) {
        state.PauseTiming();
        source->push(SAMPLES_PER_FRAME);
        state.ResumeTiming();
        frame(view, *gl);
    }
    view.doneCurrent();
    state.counters["visible"] = view.GetNumGraphsOnScreen();
    state.counters["points"] = view.GetNumPoints();
}

}  // namespace

int main(int argc, char** argv) {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    initTestQtResources();

    benchmark::Initialize(&argc, argv);
    struct Size {
        int width;
        int height;
    };
    for (const Size size : {Size{700, 450}, Size{1920, 1080}}) {
        for (const int channels : {8, 40}) {
            for (const float seconds : {10.0f, 120.0f}) {
                const std::string name = "SweepFrame/" + std::to_string(size.width) + "x" +
                                         std::to_string(size.height) +
                                         "/channels:" + std::to_string(channels) +
                                         "/seconds:" + std::to_string(static_cast<int>(seconds));
                benchmark::RegisterBenchmark(name.c_str(), BM_SweepFrame, size.width, size.height,
                                             channels, seconds)
                    ->MeasureProcessCPUTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
