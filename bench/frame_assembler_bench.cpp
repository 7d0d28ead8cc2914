// Frame reassembly on the receive path: one chassis sends 1000 data frames per second, each
// read of up to 2048 bytes is cut into frames here.

#include <benchmark/benchmark.h>

#include <string>

#include "frame_codec.h"

namespace {

void BM_ReassembleDataFrames(benchmark::State& state) {
    const auto payloadSize = static_cast<std::size_t>(state.range(0));
    std::string stream;
    for (int i = 0; i < 64; ++i) {
        appendFrame(stream, DATA_PACKET, std::string(payloadSize, static_cast<char>(i)));
    }
    std::size_t frames = 0;
    FrameAssembler assembler([&](int, const std::uint8_t*, std::uint16_t) { ++frames; });
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    for (auto _ : state) {
        // Chunks of 2048 bytes, as the TLS reads deliver them.
        for (std::size_t pos = 0; pos < stream.size(); pos += 2048) {
            assembler.feed(bytes + pos, std::min<std::size_t>(2048, stream.size() - pos));
        }
    }
    benchmark::DoNotOptimize(frames);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 64);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReassembleDataFrames)->Arg(300)->Arg(1200)->Arg(2048);

}  // namespace
