// Heap allocations of the graph view's frames, counted by interposing the C allocator for this
// runner alone: operator new, Qt's containers and the OpenGL driver all end up there. Each one
// is attributed to the library that called the allocator.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QOpenGLFunctions>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "graph_view_fixture.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

// Only allocations of the thread that counts, while it counts: the caller of each, in a fixed
// array so that recording allocates nothing.
thread_local bool counting = false;
std::array<const void*, 1 << 16> callers;
std::size_t recorded = 0;

inline void record(const void* caller) {
    if (counting && recorded < callers.size()) {
        callers[recorded++] = caller;
    }
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
    record(__builtin_return_address(0));
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    record(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
    record(__builtin_return_address(0));
    return __libc_realloc(pointer, size);
}
}

namespace {

struct Allocations {
    long driver = 0;  // inside the OpenGL implementation
    long other = 0;   // the view, Qt, the C++ library, ...
};

// Mesa's software rasterizer allocates per draw call of its own accord; it is outside the view.
bool inOpenGLDriver(const void* caller) {
    Dl_info info{};
    if (dladdr(caller, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    const std::string_view file(info.dli_fname);
    return file.find("/dri/") != std::string_view::npos ||
           file.find("libGLX") != std::string_view::npos ||
           file.find("libGL.") != std::string_view::npos ||
           file.find("libglapi") != std::string_view::npos ||
           file.find("libLLVM") != std::string_view::npos;
}

template <typename Work>
Allocations countAllocations(Work work) {
    recorded = 0;
    counting = true;
    work();
    counting = false;
    Allocations n;
    for (std::size_t i = 0; i < recorded; ++i) {
        (inOpenGLDriver(callers[i]) ? n.driver : n.other) += 1;
    }
    return n;
}

class CountingView : public GraphView {
public:
    using GraphView::GraphView;
    using GraphView::renderGraph;
};

struct AllocCase {
    const char* name;
    GraphingType type;
    float seconds;
    int warmUp;  // samples before counting
};

class GraphViewAllocTest : public testing::TestWithParam<AllocCase> {};

// Frames in the steady state allocate nothing: traces, spectra and buffers were sized by the
// layout, and the hand-over only copies. What the OpenGL driver allocates, and what Qt's painter
// allocates for the channel names, is reported, not asserted.
TEST_P(GraphViewAllocTest, SteadyFramesAllocateNothing) {
    const AllocCase& c = GetParam();
    auto source = std::make_shared<TestDataSource>(std::vector<TestChannel>{
        {"MEG1", 28, 1e-12f, {0.0, 2e-11, 7.0, 0}},
        {"MEG2", 50, 1.0f, {1.0, 1.0, 62.5, 0}},
        {"Input3", 14, 1.0f, {0.5, 1e-9, 3.0, 0}},
    });
    GraphViewConfig config;
    config.type = c.type;
    CountingView view(config, source);
    paintWithTestColors(view);
    view.start();
    showAndSettle(view, {700, 450});
    view.SetDivisions(c.seconds);
    if (c.type == Spectrum) {
        view.EnableFft(true);
    }
    // Warm up: the first hand-over, the autoscale notice, the first spectra, the driver's
    // first use of every buffer.
    source->push(10);
    ASSERT_FALSE(grabFrame(view).image.isNull());
    for (int pushed = 0; pushed < c.warmUp; pushed += 1000) {
        source->push(1000);
        grabFrame(view);
    }
    for (int i = 0; i < 5; ++i) {
        source->push(16);
        grabFrame(view);
    }

    view.makeCurrent();
    QOpenGLFunctions* gl = view.context()->functions();
    Allocations frames;
    Allocations labels;
    constexpr int FRAMES = 30;
    for (int i = 0; i < FRAMES; ++i) {
        source->push(16);
        const Allocations frame = countAllocations([&] {
            view.renderGraph();
            gl->glFinish();
        });
        const Allocations names = countAllocations([&] { view.drawChannelLabels(); });
        frames.driver += frame.driver;
        frames.other += frame.other;
        labels.driver += names.driver;
        labels.other += names.other;
    }
    view.doneCurrent();
    EXPECT_EQ(frames.other, 0) << "over " << FRAMES << " frames";
    std::cout << c.name << ", per frame: " << frames.other << " allocations outside and "
              << frames.driver / FRAMES << " inside the OpenGL driver; the channel names "
              << labels.other / FRAMES << " outside and " << labels.driver / FRAMES << " inside\n";
}

INSTANTIATE_TEST_SUITE_P(Modes, GraphViewAllocTest,
                         testing::Values(AllocCase{"SweepFilling", Sweep, 10.0f, 2000},
                                         AllocCase{"SweepFull", Sweep, 2.0f, 3000},
                                         AllocCase{"Scroll", Scroll, 2.0f, 3000},
                                         AllocCase{"Spectrum", Spectrum, 10.0f, 3000}),
                         caseName<AllocCase>);

}  // namespace
