// Merging of the data packets of a full system into time points: 8 chassis with 48 channels
// each (24 sensors, data types 28 and 50), and the dispatcher's decode and queue of one such
// packet on the receive path.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "data_aggregator.h"
#include "net-protocol.pb.h"
#include "proto_parse.h"

namespace {

constexpr int CHASSIS = 8;
constexpr int SENSORS = 24;
constexpr int DATA_TYPES[] = {28, 50};

std::string packetBytes(std::uint32_t timestamp, int chassis) {
    DataPacket packet;
    packet.set_timestamp(timestamp);
    packet.set_chassis_name("127.0.0." + std::to_string(chassis + 1) + ":7777");
    packet.set_num_sensors(SENSORS);
    for (int sensor = 0; sensor < SENSORS; ++sensor) {
        for (int datatype : DATA_TYPES) {
            auto* frame = packet.add_data();
            frame->set_sensor(sensor);
            frame->set_datatype(datatype);
            // Raw values span the 24-bit range, so the varints have a realistic length.
            frame->set_val(
                static_cast<int>((timestamp * 7919u + static_cast<unsigned>(sensor)) % 16777216u) -
                8388608);
        }
    }
    std::string bytes;
    packet.SerializePartialToString(&bytes);
    return bytes;
}

void feed(ProtoParse& parser, int chassis, const std::string& bytes) {
    parser.parseMessage(static_cast<std::uint32_t>(chassis), DATA_PACKET,
                        reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()));
}

// Time from start until N time points have been retrieved, with every dispatcher holding N
// aligned packets beforehand: the rate at which a backlog is worked off.
void BM_MergeTimePoints(benchmark::State& state) {
    const auto points = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::vector<std::string>> packets(CHASSIS);
    for (int c = 0; c < CHASSIS; ++c) {
        for (std::uint32_t t = 1; t <= points; ++t) {
            packets[static_cast<std::size_t>(c)].push_back(packetBytes(t, c));
        }
    }

    for (auto _ : state) {
        DataAggregator aggregator;
        std::vector<std::shared_ptr<ProtoParse>> parsers;
        for (int c = 0; c < CHASSIS; ++c) {
            parsers.push_back(std::make_shared<ProtoParse>(aggregator.getDataReady()));
            aggregator.addParser(parsers.back());
            for (const auto& bytes : packets[static_cast<std::size_t>(c)]) {
                feed(*parsers.back(), c, bytes);
            }
        }

        const auto begin = std::chrono::steady_clock::now();
        aggregator.start();
        std::size_t retrieved = 0;
        while (retrieved < points) {
            // The consumer also frees the points, as the live source does.
            retrieved += aggregator.retrieveAllDataPoints().size();
            if (retrieved < points) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        const auto end = std::chrono::steady_clock::now();
        aggregator.stop();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * points);
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * points * CHASSIS * SENSORS * 2,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MergeTimePoints)
    ->Arg(2000)
    ->Arg(ProtoParse::MAX_QUEUED_PACKETS)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One 48-channel packet decoded and queued, then taken out again so the queue stays short.
void BM_DecodeAndQueuePacket(benchmark::State& state) {
    const std::string bytes = packetBytes(12345, 0);
    ProtoParse parser(std::make_shared<DataReadyStruct>());
    for (auto _ : state) {
        feed(parser, 0, bytes);
        benchmark::DoNotOptimize(parser.getData());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeAndQueuePacket);

}  // namespace
