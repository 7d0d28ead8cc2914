// Long-running measurement: the simulator's data stream, received through real chassis links,
// over a minute. Prints what it measured.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chassis_simulator.h"
#include "device_mgr.h"
#include "link_test_support.h"
#include "net-protocol.pb.h"

namespace {

using namespace std::chrono_literals;

// Decodes only what the measurement needs: per chassis, every timestamp in arrival order.
class TimestampParser : public ProtoParse {
public:
    void parseMessage(std::uint32_t /*chassisId*/, MessageType type, const std::uint8_t* data,
                      std::uint32_t length) override {
        if (type != DATA_PACKET) {
            return;
        }
        DataPacket packet;
        const bool ok = packet.ParseFromArray(data, static_cast<int>(length));
        std::lock_guard<std::mutex> lock(_mutex);
        if (!ok) {
            ++_undecodable;
            return;
        }
        if (!_timestamps.empty() && packet.timestamp() != _timestamps.back() + 1) {
            ++_gaps;
        }
        _timestamps.push_back(packet.timestamp());
    }

    struct Stats {
        std::size_t count = 0;
        std::size_t gaps = 0;
        std::size_t undecodable = 0;
        std::uint32_t first = 0;
        std::uint32_t last = 0;
    };

    Stats stats() const {
        std::lock_guard<std::mutex> lock(_mutex);
        Stats s;
        s.count = _timestamps.size();
        s.gaps = _gaps;
        s.undecodable = _undecodable;
        if (!_timestamps.empty()) {
            s.first = _timestamps.front();
            s.last = _timestamps.back();
        }
        return s;
    }

private:
    mutable std::mutex _mutex;
    std::vector<std::uint32_t> _timestamps;
    std::size_t _gaps = 0;
    std::size_t _undecodable = 0;
};

TEST(SimulatorStream, SixtySecondsAtOneKilohertzWithoutGapOnTwoChassis) {
    chassis_sim::SimConfig config;
    config.addresses = {"127.0.60.1", "127.0.60.2"};
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    std::vector<std::shared_ptr<TimestampParser>> parsers;
    std::vector<std::shared_ptr<NetworkConnection>> links;
    for (std::uint32_t id = 0; id < config.addresses.size(); ++id) {
        parsers.push_back(std::make_shared<TimestampParser>());
        links.push_back(link_test::makeRegisteredLink(config.addresses[id], id, parsers.back(),
                                                      ConnectionTiming{}));
    }
    for (auto& link : links) {
        link->start();
    }
    ASSERT_TRUE(link_test::waitUntil([&] {
        for (auto& p : parsers) {
            if (p->stats().count == 0)
                return false;
        }
        return true;
    }));

    const auto countNow = [&](std::size_t i) { return parsers[i]->stats().count; };
    const std::size_t countBegin = countNow(0);
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(60s);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const std::size_t countEnd = countNow(0);
    const std::uint32_t simEnd = sim.currentTimestamp();
    // Everything the simulator owed up to now arrives (packets in flight included).
    const bool caughtUp = link_test::waitUntil([&] {
        for (auto& p : parsers) {
            if (p->stats().last < simEnd)
                return false;
        }
        return true;
    });
    DeviceMgr::GetInstance()->disconnect();

    const double rate = static_cast<double>(countEnd - countBegin) / elapsed;
    std::printf("chassis 0 received %.1f packets/s over %.1f s\n", rate, elapsed);
    EXPECT_TRUE(caughtUp);
    std::vector<TimestampParser::Stats> stats;
    for (auto& p : parsers) {
        stats.push_back(p->stats());
    }
    for (std::size_t i = 0; i < stats.size(); ++i) {
        const auto& s = stats[i];
        std::printf("chassis %zu: %zu packets, timestamps %u..%u, %zu gaps, %zu undecodable\n", i,
                    s.count, s.first, s.last, s.gaps, s.undecodable);
        EXPECT_EQ(s.gaps, 0u);
        EXPECT_EQ(s.undecodable, 0u);
        EXPECT_EQ(s.count, static_cast<std::size_t>(s.last - s.first) + 1);
        EXPECT_GE(s.count, 60000u);
    }
    RecordProperty("packets_per_second_x10", static_cast<int>(rate * 10));
}

}  // namespace
