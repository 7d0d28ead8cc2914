// The data stream: values, timestamps shared by all chassis, and no gaps for slow readers.
#include <gtest/gtest.h>

#include <thread>

#include "chassis_simulator.h"
#include "frame_codec.h"
#include "tls_test_client.h"

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using sim_test::TlsTestClient;

namespace {

SimConfig deterministicConfig(std::vector<std::string> addresses) {
    SimConfig config;
    config.addresses = std::move(addresses);
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    return config;
}

std::optional<DataPacket> nextData(TlsTestClient& client, std::chrono::milliseconds timeout = 2s) {
    const auto frame = client.waitFor(
        [](const sim_test::ReceivedFrame& f) { return f.type == DATA_PACKET; }, timeout);
    return frame ? sim_test::asDataPacket(*frame) : std::nullopt;
}

}  // namespace

TEST(SimStream, DeterministicPacketsCarryEveryChannelWithTheDocumentedValue) {
    SimConfig config = deterministicConfig({"127.0.40.10", "127.0.40.11"});
    config.sensors = 3;
    config.slots = 4;
    config.dataTypes = {50, 28, 7};  // frames follow the configured type order
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());

    for (std::uint32_t chassis = 0; chassis < 2; ++chassis) {
        SCOPED_TRACE(config.addresses[chassis]);
        TlsTestClient client;
        ASSERT_TRUE(client.connect(config.addresses[chassis]));
        for (int n = 0; n < 50; ++n) {
            const auto packet = nextData(client);
            ASSERT_TRUE(packet) << "packet " << n;  // decodes with every required field
            EXPECT_EQ(packet->chassis_name(), config.addresses[chassis] + ":7777");
            EXPECT_EQ(packet->num_sensors(), 3);
            ASSERT_EQ(packet->data_size(), 9);
            for (int i = 0; i < 9; ++i) {
                const DataFrame& frame = packet->data(i);
                const auto sensor = static_cast<std::uint32_t>(i / 3 + 1);
                const std::uint32_t type = config.dataTypes[static_cast<std::size_t>(i % 3)];
                EXPECT_EQ(frame.sensor(), static_cast<std::int32_t>(sensor));
                EXPECT_EQ(frame.datatype(), static_cast<std::int32_t>(type));
                EXPECT_EQ(frame.val(), chassis_sim::deterministicValue(chassis, sensor, type,
                                                                       packet->timestamp()));
            }
        }
    }
}

TEST(SimStream, DeterministicValueFormula) {
    EXPECT_EQ(chassis_sim::deterministicValue(0, 0, 0, 0), 0);
    EXPECT_EQ(chassis_sim::deterministicValue(1, 2, 28, 12345),
              100000000 + 2000000 + 280000 + 2345);
    // Every term wraps, and the largest value still fits 32 signed bits.
    EXPECT_EQ(chassis_sim::deterministicValue(21, 100, 100, 10000), 0);
    EXPECT_EQ(chassis_sim::deterministicValue(20, 99, 99, 9999), 2099999999);
    EXPECT_EQ(chassis_sim::deterministicValue(4294967295u, 4294967295u, 4294967295u, 4294967295u),
              100000000 * 3 + 1000000 * 95 + 10000 * 95 + 7295);
}

// A chassis that gets its first link late still stamps from the shared epoch, and both
// streams count every millisecond over a couple of seconds.
TEST(SimStream, AllChassisStreamOneContiguousTimeline) {
    ChassisSimulator sim(deterministicConfig({"127.0.40.12", "127.0.40.13"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient early;
    TlsTestClient late;
    ASSERT_TRUE(early.connect("127.0.40.12"));
    std::this_thread::sleep_for(300ms);
    const std::uint32_t before = sim.currentTimestamp();
    ASSERT_TRUE(late.connect("127.0.40.13"));
    const std::uint32_t after = sim.currentTimestamp();

    std::vector<std::uint32_t> stamps[2];
    TlsTestClient* clients[2] = {&early, &late};
    const std::uint32_t end = after + 2000;
    while (stamps[0].empty() || stamps[0].back() < end || stamps[1].empty() ||
           stamps[1].back() < end) {
        for (int c = 0; c < 2; ++c) {
            if (stamps[c].empty() || stamps[c].back() < end) {
                const auto packet = nextData(*clients[c]);
                ASSERT_TRUE(packet);
                stamps[c].push_back(packet->timestamp());
            }
        }
    }
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        for (std::size_t i = 1; i < stamps[c].size(); ++i) {
            ASSERT_EQ(stamps[c][i], stamps[c][i - 1] + 1) << "at packet " << i;
        }
    }
    EXPECT_LT(stamps[0].front(), before);
    EXPECT_GE(stamps[1].front(), before);
    EXPECT_LE(stamps[1].front(), after + 1);
}

// A client that stops reading for a second gets the missed packets afterwards, in order and
// with no timestamp missing, while the server only buffers a bounded backlog.
TEST(SimStream, SlowReaderGetsEveryTimestamp) {
    SimConfig config = deterministicConfig({"127.0.40.14"});
    config.dataTypes = {28, 50, 14, 7};  // large packets fill the socket buffers sooner
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.40.14", 7777, 4096));

    auto first = nextData(client);
    ASSERT_TRUE(first);
    std::uint32_t last = first->timestamp();
    std::this_thread::sleep_for(1s);
    const std::uint32_t resumedAt = sim.currentTimestamp();
    bool behind = false;
    while (last < resumedAt + 300) {
        const auto packet = nextData(client);
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->timestamp(), last + 1);
        last = packet->timestamp();
        behind = behind || last + 500 < sim.currentTimestamp();
    }
    EXPECT_TRUE(behind) << "the pause never put the reader behind";
}

// Chassis 1 stamps every instant 3 higher. Paused while the links come up and resumed in one
// call, chassis 0's first packet carries T and chassis 1's T + 3, and both go on one per
// millisecond with values that follow their own timestamps.
TEST(SimStream, TimestampOffsetsShiftOneChassisAgainstTheOther) {
    SimConfig config = deterministicConfig({"127.0.47.1", "127.0.47.2"});
    config.sensors = 2;
    config.timestampOffsets = {0, 3};
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    sim.setStreaming(false);
    TlsTestClient clients[2];
    for (int c = 0; c < 2; ++c) {
        ASSERT_TRUE(clients[c].connect(config.addresses[static_cast<std::size_t>(c)]));
    }
    const std::uint32_t resumedAt = sim.currentTimestamp();
    sim.setStreaming(true);

    std::vector<std::uint32_t> stamps[2];
    for (std::uint32_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        for (int n = 0; n < 200; ++n) {
            const auto packet = nextData(clients[c]);
            ASSERT_TRUE(packet);
            stamps[c].push_back(packet->timestamp());
            for (const DataFrame& frame : packet->data()) {
                ASSERT_EQ(frame.val(),
                          chassis_sim::deterministicValue(
                              c, static_cast<std::uint32_t>(frame.sensor()),
                              static_cast<std::uint32_t>(frame.datatype()), packet->timestamp()));
            }
        }
        for (std::size_t i = 1; i < stamps[c].size(); ++i) {
            ASSERT_EQ(stamps[c][i], stamps[c][i - 1] + 1) << "at packet " << i;
        }
    }
    EXPECT_EQ(stamps[1].front(), stamps[0].front() + 3);
    EXPECT_GE(stamps[0].front(), resumedAt);
    EXPECT_LE(stamps[0].front(), sim.currentTimestamp());
}
