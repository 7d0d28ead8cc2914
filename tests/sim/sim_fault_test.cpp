// Fault switches: what a chassis does when told to pause, fall silent, drop links or send
// frames a viewer must survive.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chassis_simulator.h"
#include "frame_codec.h"
#include "tls_test_client.h"

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using sim_test::ReceivedFrame;
using sim_test::TlsTestClient;

namespace {

// Packets already generated when a switch flips may still arrive; nothing newer may.
constexpr std::uint32_t IN_FLIGHT_TICKS = 5;

std::unique_ptr<ChassisSimulator> startSim(std::vector<std::string> addresses) {
    SimConfig config;
    config.addresses = std::move(addresses);
    config.sensors = 2;
    config.dataTypes = {28};
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    auto sim = std::make_unique<ChassisSimulator>(config);
    std::string error;
    if (!sim->start(&error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    return sim;
}

// Every frame that arrives within `window`.
std::vector<ReceivedFrame> collect(TlsTestClient& client, std::chrono::milliseconds window) {
    std::vector<ReceivedFrame> frames;
    const auto end = std::chrono::steady_clock::now() + window;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return frames;
        }
        if (auto frame = client.nextFrame(left)) {
            frames.push_back(std::move(*frame));
        }
    }
}

std::optional<std::uint32_t> nextTimestamp(TlsTestClient& client) {
    const auto frame =
        client.waitFor([](const ReceivedFrame& f) { return f.type == DATA_PACKET; }, 2s);
    const auto packet = frame ? sim_test::asDataPacket(*frame) : std::nullopt;
    return packet ? std::optional(packet->timestamp()) : std::nullopt;
}

}  // namespace

TEST(SimFaults, PauseStopsDataPacketsOfOneChassisButNotItsReplies) {
    auto sim = startSim({"127.0.42.1", "127.0.42.2"});
    ASSERT_TRUE(sim);
    TlsTestClient paused;
    TlsTestClient other;
    ASSERT_TRUE(paused.connect("127.0.42.1"));
    ASSERT_TRUE(other.connect("127.0.42.2"));
    ASSERT_TRUE(nextTimestamp(paused));

    sim->setStreaming(false, "127.0.42.1");
    const std::uint32_t pausedAt = sim->currentTimestamp();
    ASSERT_TRUE(paused.sendCommand(CmdPacket::STATUS_REQ));
    int replies = 0;
    for (const ReceivedFrame& frame : collect(paused, 300ms)) {
        if (frame.type == STATUS_PACKET) {
            ++replies;
        } else {
            ASSERT_EQ(frame.type, DATA_PACKET);
            EXPECT_LE(sim_test::asDataPacket(frame)->timestamp(), pausedAt + IN_FLIGHT_TICKS);
        }
    }
    EXPECT_EQ(replies, 1);
    // The other chassis kept streaming.
    EXPECT_TRUE(other.waitFor(
        [&](const ReceivedFrame& f) {
            const auto packet = sim_test::asDataPacket(f);
            return packet && packet->timestamp() > pausedAt + 100;
        },
        2s));

    // Resuming starts at the current millisecond; the paused span is not sent.
    sim->setStreaming(true, "127.0.42.1");
    const std::uint32_t resumedAt = sim->currentTimestamp();
    const auto first = nextTimestamp(paused);
    ASSERT_TRUE(first);
    EXPECT_GE(*first + 1, resumedAt);
    EXPECT_EQ(nextTimestamp(paused), *first + 1);
}

TEST(SimFaults, SilentChassisSendsNothingButStillRecordsCommands) {
    auto sim = startSim({"127.0.42.3"});
    ASSERT_TRUE(sim);
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.42.3"));
    ASSERT_TRUE(nextTimestamp(client));

    sim->setSilent(true);
    const std::uint32_t silentAt = sim->currentTimestamp();
    ASSERT_TRUE(client.sendCommand(CmdPacket::STATUS_REQ));
    ASSERT_TRUE(sim_test::eventually([&] { return sim->receivedCommands().size() == 1; }));
    for (const ReceivedFrame& frame : collect(client, 300ms)) {
        ASSERT_EQ(frame.type, DATA_PACKET);
        EXPECT_LE(sim_test::asDataPacket(frame)->timestamp(), silentAt + IN_FLIGHT_TICKS);
    }
    EXPECT_EQ(sim->receivedCommands()[0].cmd, CmdPacket::STATUS_REQ);
    EXPECT_EQ(sim->openConnections(), 1u);

    // Speaking again resumes the stream; the reply of the silent time is gone for good.
    sim->setSilent(false);
    const std::uint32_t speakingAt = sim->currentTimestamp();
    const auto resumed = client.waitFor(
        [&](const ReceivedFrame& f) {
            EXPECT_NE(f.type, STATUS_PACKET);
            const auto packet = sim_test::asDataPacket(f);
            return packet && packet->timestamp() + 1 >= speakingAt;
        },
        2s);
    ASSERT_TRUE(resumed);
    EXPECT_EQ(nextTimestamp(client), sim_test::asDataPacket(*resumed)->timestamp() + 1);
}

TEST(SimFaults, CloseDropsTheLinksOfOneChassisWithoutCloseNotify) {
    auto sim = startSim({"127.0.42.4", "127.0.42.5"});
    ASSERT_TRUE(sim);
    TlsTestClient dropped;
    TlsTestClient kept;
    ASSERT_TRUE(dropped.connect("127.0.42.4"));
    ASSERT_TRUE(kept.connect("127.0.42.5"));
    ASSERT_TRUE(sim_test::eventually([&] { return sim->openConnections() == 2; }));

    sim->closeConnections("127.0.42.4");
    EXPECT_EQ(sim->openConnections("127.0.42.4"), 0u);
    EXPECT_EQ(sim->openConnections("127.0.42.5"), 1u);
    while (dropped.nextFrame(2s)) {
        // packets sent before the close
    }
    EXPECT_TRUE(dropped.closed());
    EXPECT_FALSE(dropped.closeNotifyReceived());
    EXPECT_TRUE(nextTimestamp(kept));

    // The chassis takes the next link as usual.
    ASSERT_TRUE(dropped.connect("127.0.42.4"));
    EXPECT_TRUE(nextTimestamp(dropped));
    EXPECT_EQ(sim->acceptedConnections("127.0.42.4"), 2u);
    EXPECT_EQ(sim->acceptedConnections(), 3u);
    EXPECT_TRUE(sim_test::eventually([&] { return sim->openConnections("127.0.42.4") == 1; }));
}

// Malformed, oversized and injected frames are sent whole between data packets, and the
// timestamps of the data packets run on without a gap.
TEST(SimFaults, InjectedFramesKeepTheStreamInStep) {
    auto sim = startSim({"127.0.42.6"});
    ASSERT_TRUE(sim);
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.42.6"));
    ASSERT_TRUE(nextTimestamp(client));

    std::string injected;  // several frames in one record
    appendFrame(injected, 7, "first");
    appendFrame(injected, 8, std::string(3000, 'x'));
    sim->sendMalformed();
    sim->sendOversized(3000);
    sim->injectBytes(injected);

    std::vector<std::string> seen;
    std::optional<std::uint32_t> lastStamp;
    std::uint64_t injectedBegin = 0;
    std::uint64_t injectedEnd = 0;
    int dataAfterInjection = 0;
    for (int frames = 0; dataAfterInjection < 20; ++frames) {
        ASSERT_LT(frames, 2000) << "the injected frames never all arrived";
        const auto frame = client.nextFrame(2s);
        ASSERT_TRUE(frame);
        if (const auto packet = sim_test::asDataPacket(*frame)) {
            if (lastStamp) {
                ASSERT_EQ(packet->timestamp(), *lastStamp + 1);
            }
            lastStamp = packet->timestamp();
            dataAfterInjection += seen.size() == 4 ? 1 : 0;
            continue;
        }
        if (frame->type == DATA_PACKET && frame->payload.size() == 3000) {
            EXPECT_EQ(frame->payload, std::string(3000, '\0'));
            seen.push_back("oversized");
        } else if (frame->type == DATA_PACKET) {
            DataPacket partial;
            EXPECT_FALSE(partial.ParsePartialFromArray(frame->payload.data(),
                                                       static_cast<int>(frame->payload.size())));
            seen.push_back("malformed");
        } else if (frame->type == 7) {
            EXPECT_EQ(frame->payload, "first");
            injectedBegin = frame->streamOffset;
            seen.push_back("first");
        } else {
            ASSERT_EQ(frame->type, 8) << "stream out of step";
            EXPECT_EQ(frame->payload, std::string(3000, 'x'));
            injectedEnd = frame->streamOffset + FRAME_HEADER_SIZE + frame->payload.size();
            seen.push_back("second");
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"malformed", "oversized", "first", "second"}));
    EXPECT_EQ(injectedEnd - injectedBegin, injected.size());
    EXPECT_TRUE(client.receivedInOneRead(injectedBegin, injectedEnd));
}

// Switches flipped from another thread while links come and go: run under
// VIEWER_SANITIZE=thread to check the locking.
TEST(SimFaults, SwitchesRacingLinksLeaveAWorkingChassis) {
    auto sim = startSim({"127.0.42.7", "127.0.42.8"});
    ASSERT_TRUE(sim);
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        std::string frame;
        appendFrame(frame, 9, "ping");
        for (unsigned n = 0; !done.load(); ++n) {
            const std::string address = n % 2 == 0 ? "127.0.42.7" : "";
            sim->setStreaming(n % 3 != 0, address);
            sim->setSilent(n % 5 == 0, address);
            sim->injectBytes(frame, address);
            sim->sendMalformed(address);
            if (n % 7 == 0) {
                sim->closeConnections(address);
            }
            (void)sim->openConnections();
            (void)sim->receivedCommands(address);
            (void)sim->currentTimestamp();
            std::this_thread::sleep_for(2ms);
        }
    });
    for (int round = 0; round < 20; ++round) {
        TlsTestClient client;
        if (client.connect(round % 2 == 0 ? "127.0.42.7" : "127.0.42.8")) {
            client.sendCommand(CmdPacket::COMPLETE_SYSTEM_STATUS_REQ);
            for (int i = 0; i < 20 && client.nextFrame(20ms); ++i) {
            }
        }
    }
    done.store(true);
    flipper.join();

    sim->setSilent(false);
    sim->setStreaming(true);
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.42.8"));
    const auto first = nextTimestamp(client);
    ASSERT_TRUE(first);
    EXPECT_EQ(nextTimestamp(client), *first + 1);
    sim->stop();
    EXPECT_EQ(sim->openConnections(), 0u);
}
