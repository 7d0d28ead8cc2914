#include "vt_fft.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int kN = 1024;

std::vector<double> noise(std::size_t count) {
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(count);
    for (double& v : x) {
        v = dist(gen);
    }
    return x;
}

// Half a block per iteration, so every iteration stores 512 samples and completes exactly one
// windowed transform; items are samples, giving the mean cost of one AddVal.
void BM_AddVal(benchmark::State& state) {
    VtFFT fft(kN, static_cast<WindowingTypes>(state.range(0)));
    const auto x = noise(kN / 2);
    for (int i = 0; i < kN / 2; ++i) {
        fft.AddVal(0.0);
    }
    for (auto _ : state) {
        for (double v : x) {
            fft.AddVal(v);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()));
}
BENCHMARK(BM_AddVal)->ArgName("window")->Arg(Hann)->Arg(Flattop);

// One read of the averaged spectrum; the cost grows with the number of averages.
void BM_GetValues(benchmark::State& state) {
    VtFFT fft(kN, Hann);
    fft.SetNumAverages(static_cast<int>(state.range(0)));
    const auto x = noise(kN * 16);
    for (double v : x) {
        fft.AddVal(v);
    }
    std::vector<double> out(kN / 2 - 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fft.GetValues(out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GetValues)->ArgName("averages")->Arg(1)->Arg(4)->Arg(16);

// Making and dropping one estimator: buffers, plan and window, as the graph view does per
// channel when it (re)creates its records.
void BM_ConstructDestroy(benchmark::State& state) {
    for (auto _ : state) {
        VtFFT fft(kN, Hann);
        benchmark::DoNotOptimize(&fft);
    }
}
BENCHMARK(BM_ConstructDestroy);

}  // namespace
