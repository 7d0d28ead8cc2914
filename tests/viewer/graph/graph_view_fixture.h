#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QRect>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graph_view.h"
#include "test_data_source.h"

// Distinctive colours, so that every pixel of a frame can be classified.
namespace test_colors {
inline const QColor BACKGROUND(0, 0, 0);
inline const QColor FRAME(255, 0, 0);
inline const QColor GRID(64, 64, 64);
inline const QColor TRACE(0, 255, 0);
inline const QColor INPUT_TRACE(0, 128, 255);
inline const QColor SWEEP(255, 255, 0);
}  // namespace test_colors

inline void paintWithTestColors(GraphView& view) {
    view.setGraphBackgroundColor(test_colors::BACKGROUND);
    view.setGraphFrameColor(test_colors::FRAME);
    view.setGraphGridColor(test_colors::GRID);
    view.setGraphLineColor(test_colors::TRACE);
    view.setGraphInputLineColor(test_colors::INPUT_TRACE);
    view.setGraphSweepLineColor(test_colors::SWEEP);
}

// Full-scale values of the data types' defaults and calibrations that keep a test signal in
// calibrated units (data type 28 with calibration 1.0 would get a default factor).
inline double fullScale(int dataType) {
    return dataType == 28 ? 2e-11 : dataType == 14 ? 1e-9 : 1.0;
}
inline float calibrationFor(int dataType) {
    return dataType == 28 ? 1e-12f : 1.0f;
}
inline QColor traceColorFor(int dataType) {
    return dataType == 0 || dataType == 14 ? test_colors::INPUT_TRACE : test_colors::TRACE;
}

inline std::string modeName(GraphingType type) {
    return type == Sweep ? "Sweep" : type == Scroll ? "Scroll" : "Spectrum";
}

// Test names from the display mode parameter.
inline std::string modeParamName(const testing::TestParamInfo<GraphingType>& info) {
    return modeName(info.param);
}

// Test names from a `name` field of the parameter.
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Flat channels C0, C1, ... of data type 50.
inline std::vector<TestChannel> namedChannels(int count) {
    std::vector<TestChannel> channels;
    for (int i = 0; i < count; ++i) {
        channels.push_back({"C" + std::to_string(i), 50, 1.0f, {}});
    }
    return channels;
}

// A grabbed frame and the mapping from normalised device coordinates to its pixels.
struct Picture {
    QImage image;

    int width() const { return image.width(); }
    int height() const { return image.height(); }
    int column(float x) const {
        const int c = static_cast<int>(std::floor((x + 1.0f) / 2.0f * static_cast<float>(width())));
        return std::clamp(c, 0, width() - 1);
    }
    int row(float y) const {
        const int r =
            height() - 1 -
            static_cast<int>(std::floor((y + 1.0f) / 2.0f * static_cast<float>(height())));
        return std::clamp(r, 0, height() - 1);
    }
    bool is(int c, int r, const QColor& color) const {
        if (c < 0 || r < 0 || c >= width() || r >= height()) {
            return false;
        }
        return (image.pixel(c, r) & 0xFFFFFFu) == (color.rgb() & 0xFFFFFFu);
    }
    // Any pixel of the colour within `tolerance` pixels of (c, r).
    bool near(int c, int r, const QColor& color, int tolerance = 1) const {
        for (int dc = -tolerance; dc <= tolerance; ++dc) {
            for (int dr = -tolerance; dr <= tolerance; ++dr) {
                if (is(c + dc, r + dr, color)) {
                    return true;
                }
            }
        }
        return false;
    }
    // Rows of the colour in the columns first ... last.
    std::vector<int> rows(int first, int last, const QColor& color) const {
        std::vector<int> found;
        for (int c = first; c <= last; ++c) {
            for (int r = 0; r < height(); ++r) {
                if (is(c, r, color)) {
                    found.push_back(r);
                }
            }
        }
        return found;
    }
    int count(const QRect& area, const QColor& color) const {
        int n = 0;
        for (int c = area.left(); c <= area.right(); ++c) {
            for (int r = area.top(); r <= area.bottom(); ++r) {
                n += is(c, r, color) ? 1 : 0;
            }
        }
        return n;
    }
};

// Captures standard output or error from construction to take(), and always ends the capture,
// so that a failed assertion in between does not leave it open for the next test.
class CapturedOutput {
public:
    enum Stream { Out, Err };
    explicit CapturedOutput(Stream which) : stream(which) {
        if (stream == Out) {
            testing::internal::CaptureStdout();
        } else {
            testing::internal::CaptureStderr();
        }
    }
    ~CapturedOutput() {
        if (!taken) {
            take();
        }
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string take() {
        taken = true;
        return stream == Out ? testing::internal::GetCapturedStdout()
                             : testing::internal::GetCapturedStderr();
    }

private:
    Stream stream;
    bool taken = false;
};

// Shows a window, waits until it is on screen and stops every refresh timer in it, so that
// frames happen only when a test grabs one.
inline void showAndSettle(QWidget& widget, QSize size) {
    widget.resize(size);
    widget.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    for (QTimer* timer : widget.findChildren<QTimer*>()) {
        timer->stop();
    }
    QCoreApplication::processEvents();
}

// Renders one frame of the view and checks that OpenGL reported no error. A missing context
// fails the test instead of crashing it.
inline Picture grabFrame(GraphView& view) {
    QOpenGLContext* context = view.context();
    if (context == nullptr || !context->isValid()) {
        ADD_FAILURE() << "the view has no valid OpenGL context";
        return {};
    }
    view.makeCurrent();
    QOpenGLFunctions_3_3_Core gl;
    const bool resolved = gl.initializeOpenGLFunctions();
    view.doneCurrent();
    if (!resolved) {
        ADD_FAILURE() << "OpenGL 3.3 core functions unavailable";
        return {};
    }
    Picture picture{view.grabFramebuffer().convertToFormat(QImage::Format_RGB32)};
    view.makeCurrent();
    for (GLenum error = gl.glGetError(); error != GL_NO_ERROR; error = gl.glGetError()) {
        ADD_FAILURE() << "OpenGL error 0x" << std::hex << error;
    }
    view.doneCurrent();
    return picture;
}

// One view on a test data source, shown as a 700 x 450 window unless told otherwise. The
// refresh timer is stopped, so frames happen only when the test grabs one.
class GraphViewTest : public testing::Test {
protected:
    void TearDown() override {
        view.reset();
        source.reset();
    }

    static GraphViewConfig configFor(GraphingType type) {
        GraphViewConfig config;
        config.type = type;
        return config;
    }

    // Creates the source and the view (as the main window does: start once the channels are
    // known), then shows it and waits for its context.
    void open(std::vector<TestChannel> channels, GraphViewConfig config = {},
              QSize size = {700, 450}, bool testColors = true) {
        source = std::make_shared<TestDataSource>(std::move(channels));
        view = std::make_unique<GraphView>(config, source);
        if (testColors) {
            paintWithTestColors(*view);
        }
        view->start();
        showAndSettle(*view, size);
    }

    // Renders one frame; a missing context fails the test instead of crashing it.
    Picture frame() { return grabFrame(*view); }

    Picture pushAndFrame(int samples) {
        source->push(samples);
        return frame();
    }

    // Zero line of slot k in normalised device coordinates.
    float zeroLine(int slot) const {
        return 0.95f -
               static_cast<float>((slot + 1) * view->GetTicksPerGraph()) * view->GetTickSpacing();
    }
    float xOf(int point) const { return view->GetXPositions().at(static_cast<std::size_t>(point)); }

    std::shared_ptr<TestDataSource> source;
    std::unique_ptr<GraphView> view;
};
