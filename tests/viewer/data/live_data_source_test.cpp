#include "live_data_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "chassis_simulator.h"
#include "device_mgr.h"
#include "link_test_support.h"
#include "network_connection.h"

namespace {

using namespace std::chrono_literals;

class LiveDataSourceTest : public testing::Test {
protected:
    void SetUp() override { NetworkConnection::setDefaultTiming(link_test::fastRetries()); }
    void TearDown() override {
        testing::internal::CaptureStdout();
        DeviceMgr::GetInstance()->disconnect();
        testing::internal::GetCapturedStdout();
    }
};

TEST(LiveDataSourceNames, ChannelIdsAndNames) {
    EXPECT_EQ(LiveDataSource::calcChanId(1, 5, 50), 66866u);
    EXPECT_EQ(LiveDataSource::calcChanId(0, 0, 28), 28u);
    testing::internal::CaptureStdout();
    LiveDataSource source(100, 10000, {});  // no chassis: connected at once, no channels
    testing::internal::GetCapturedStdout();
    const struct {
        std::int32_t chassis;
        std::uint32_t sensor;
        std::uint32_t type;
        const char* name;
    } cases[] = {{1, 5, 50, "VT0105-BZ_CL"},
                 {1, 5, 28, "VT0105-BZ_OL"},
                 {12, 3, 7, "VT1203-7"},
                 {123, 1, 28, "VT12301-BZ_OL"}};
    for (const auto& c : cases) {
        EXPECT_EQ(source.channelName(c.chassis, c.sensor, c.type), c.name);
    }
    testing::internal::CaptureStderr();
    source.Stop();  // never started
    source.Start();
    source.Start();
    source.Stop();
    source.Stop();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "LiveDataSource generator is not running\n"
              "LiveDataSource generator already running\n"
              "LiveDataSource generator is not running\n");
}

TEST_F(LiveDataSourceTest, AChassisThatCanNeverConnectEndsTheWait) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LiveDataSource source(100, 10000, {"127.0.63.1"});
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(source.GetUnreachable(), std::vector<std::string>{"127.0.63.1"});
    EXPECT_EQ(source.GetNumChannels(), 0);
}

// Three chassis, one of which starts streaming late: every channel's ring holds calibration x
// the simulator's value for consecutive instants, the same in every channel.
TEST_F(LiveDataSourceTest, RingsHoldEveryInstantOfEveryChassisCalibrated) {
    chassis_sim::SimConfig config;
    config.addresses = {"127.0.63.2", "127.0.63.3", "127.0.63.4"};
    config.sensors = 16;
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    sim.setStreaming(false, "127.0.63.4");

    testing::internal::CaptureStdout();
    LiveDataSource source(30000, 10000, config.addresses);
    ASSERT_TRUE(source.GetUnreachable().empty());
    ASSERT_EQ(source.GetNumChannels(), 96);
    for (int i = 0; i < 96; ++i) {
        const int chassis = i / 32;
        const int sensor = 1 + (i % 32) / 2;
        const int type = i % 2 == 0 ? 28 : 50;
        EXPECT_EQ(source.GetChannelName(i),
                  source.channelName(chassis, static_cast<std::uint32_t>(sensor),
                                     static_cast<std::uint32_t>(type)));
        EXPECT_EQ(source.GetChannelDataType(i), type);
    }
    source.Start();
    std::this_thread::sleep_for(300ms);
    sim.setStreaming(true, "127.0.63.4");

    std::vector<GraphData> records;
    for (int i = 0; i < 96; ++i) {
        records.emplace_back(30000, Hann);
        records.back().SetTimestamp(0);
    }
    std::vector<std::vector<double>> rings(96);
    ASSERT_TRUE(link_test::waitUntil([&] {
        source.GetData(records);
        return records[0].samples.size() >= 3000;
    }));
    source.Stop();
    source.GetData(records);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Synced on "), std::string::npos);
    EXPECT_NE(out.find("Listing channels\n"), std::string::npos);

    const std::size_t count = records[0].samples.size();
    std::uint32_t firstInstant = 0;
    for (int i = 0; i < 96; ++i) {
        SCOPED_TRACE(source.GetChannelName(i));
        const auto chassis = static_cast<std::uint32_t>(i / 32);
        const auto sensor = static_cast<std::uint32_t>(1 + (i % 32) / 2);
        const std::uint32_t type = i % 2 == 0 ? 28 : 50;
        const double calibration =
            type == 28 ? static_cast<double>(1e-15f) : static_cast<double>(1e-4f);
        const auto& ring = records[static_cast<std::size_t>(i)].samples;
        ASSERT_EQ(ring.size(), count);
        // The instant of the first sample, from its value (the low digits are the timestamp).
        const auto first = static_cast<std::int64_t>(std::llround(ring[0] / calibration));
        const auto instant = static_cast<std::uint32_t>(first % 10000);
        if (i == 0) {
            firstInstant = instant;
        }
        EXPECT_EQ(instant, firstInstant);
        for (std::size_t k = 0; k < count; ++k) {
            const double expected =
                calibration * chassis_sim::deterministicValue(
                                  chassis, sensor, type, instant + static_cast<std::uint32_t>(k));
            ASSERT_EQ(ring[k], expected) << "sample " << k;
        }
    }
}

}  // namespace
