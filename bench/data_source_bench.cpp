// The data source's hot paths: one sample through the full filter chain, and one generator
// cycle plus one redraw hand-over for a full system.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data_source.h"

namespace {

class BenchSource : public DataSource {
public:
    explicit BenchSource(unsigned capacity) : DataSource(capacity, 10000) {}

    // One generator cycle: `points` time points for every channel, under the lock.
    void cycle(int channels, int points, double base) {
        std::lock_guard<std::mutex> lock(_mutex);
        for (int c = 0; c < channels; ++c) {
            for (int p = 0; p < points; ++p) {
                AddData(c, base + p + c);
            }
        }
        SetTimestamp(1);
        AddNewSampleCount(points);
    }
    void append(double raw) {
        std::lock_guard<std::mutex> lock(_mutex);
        AddData(0, raw);
    }
};

// Construction and filter rebuilds print their lines; keep them out of the measurement output.
void silenced(const std::function<void()>& action) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int sink = ::open("/dev/null", O_WRONLY);
    ::dup2(sink, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(sink);
}

void BM_SampleThroughFullChain(benchmark::State& state) {
    std::unique_ptr<BenchSource> source;
    silenced([&] {
        source = std::make_unique<BenchSource>(30000);
        source->AddChannel("a", 28, 1.0f);
        source->SetFilterOrder(4);
        source->SetFilter(true, LineFreq);
        source->SetFilter(true, LowPass);
        source->SetFilter(true, HighPass);
    });
    double raw = 0.0;
    for (auto _ : state) {
        source->append(raw);
        raw += 1.0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SampleThroughFullChain);

// 384 channels (8 chassis x 48), 10 samples each: one 10 ms generator cycle with every stage
// on at order 4, then the hand-over of one redraw into 384 filled records.
void BM_CycleAndHandOver384x10(benchmark::State& state) {
    constexpr int CHANNELS = 384;
    std::unique_ptr<BenchSource> source;
    silenced([&] {
        source = std::make_unique<BenchSource>(30000);
        for (int c = 0; c < CHANNELS; ++c) {
            std::string name = "c";  // built in two steps: g++ 12 -O3 warns falsely on "c" + ...
            name += std::to_string(c);
            source->AddChannel(name, 28, 1.0f);
        }
        source->SetFilterOrder(4);
        source->SetFilter(true, LineFreq);
        source->SetFilter(true, LowPass);
        source->SetFilter(true, HighPass);
    });
    std::vector<GraphData> records;
    for (int c = 0; c < CHANNELS; ++c) {
        records.emplace_back(10000, Hann);
        records.back().SetTimestamp(0);
    }
    double base = 0.0;
    for (auto _ : state) {
        source->cycle(CHANNELS, 10, base);
        benchmark::DoNotOptimize(source->GetData(records));
        base += 10.0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * CHANNELS * 10);
}
BENCHMARK(BM_CycleAndHandOver384x10)->Unit(benchmark::kMicrosecond);

}  // namespace
