#include "network_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "device_mgr.h"
#include "link_test_support.h"
#include "net-protocol.pb.h"

namespace {

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using link_test::makeRegisteredLink;
using link_test::RecordingParser;
using link_test::waitUntil;

SimConfig simConfig(const std::string& address) {
    SimConfig config;
    config.addresses = {address};
    config.slots = 4;
    config.sensors = 2;
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    return config;
}

std::string command(CmdPacket::EnumCmdType type, const std::string& uri = {}) {
    CmdPacket packet;
    packet.set_cmd(type);
    if (!uri.empty()) {
        packet.set_uri(uri);
    }
    return packet.SerializePartialAsString();
}

std::vector<int> commandTypes(const ChassisSimulator& sim, const std::string& address) {
    std::vector<int> types;
    for (const auto& c : sim.receivedCommands(address)) {
        types.push_back(c.cmd);
    }
    return types;
}

// A TCP listener that never accepts: the kernel completes the TCP handshake, nobody speaks TLS.
class MuteListener {
public:
    explicit MuteListener(const std::string& address) {
        _fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(7777);
        ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
        _ok = ::bind(_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              ::listen(_fd, 8) == 0;
    }
    ~MuteListener() { ::close(_fd); }
    bool ok() const { return _ok; }

private:
    int _fd = -1;
    bool _ok = false;
};

class NetworkConnectionTest : public testing::Test {
protected:
    void TearDown() override { DeviceMgr::GetInstance()->disconnect(); }
};

TEST_F(NetworkConnectionTest, ConnectsAndSendsCompleteStatusRequestBehindEarlierCommands) {
    const std::string address = "127.0.30.1";
    ChassisSimulator sim(simConfig(address));
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    auto parser = std::make_shared<RecordingParser>();
    auto link = makeRegisteredLink(address, 0, parser, link_test::fastRetries());
    // Queued while disconnected: sent first, in order, after the connect.
    link->queueCmd(command(CmdPacket::SENSOR_CONFIG_REQ));
    link->queueCmd(command(CmdPacket::UPDATE_COMMIT));

    testing::internal::CaptureStdout();
    link->start();
    const bool gotAll = waitUntil([&] { return sim.receivedCommands(address).size() >= 3; });
    const bool gotReplies = waitUntil([&] {
        return !parser->framesOfType(STATUS_PACKET).empty() &&
               !parser->framesOfType(DATA_PACKET).empty();
    });
    const std::string out = testing::internal::GetCapturedStdout();

    ASSERT_TRUE(gotAll);
    EXPECT_TRUE(gotReplies);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(commandTypes(sim, address),
              (std::vector<int>{CmdPacket::SENSOR_CONFIG_REQ, CmdPacket::UPDATE_COMMIT,
                                CmdPacket::COMPLETE_SYSTEM_STATUS_REQ}));
    EXPECT_NE(out.find("Starting network connection\n"), std::string::npos);
    EXPECT_NE(out.find("Starting connection to 127.0.30.1 process: "), std::string::npos);
    EXPECT_NE(out.find("Got SSL connection! With "), std::string::npos);
    EXPECT_NE(out.find("Wrote 6 bytes to 127.0.30.1\n"), std::string::npos);

    for (const auto& frame : parser->frames()) {
        EXPECT_EQ(frame.chassisId, 0u);
    }
    StatusPacket status;
    const auto statusFrame = parser->framesOfType(STATUS_PACKET).front();
    ASSERT_TRUE(status.ParseFromString(statusFrame.payload));
    EXPECT_EQ(status.type(), StatusPacket::COMPLETE_SYSTEM_STATUS);
    EXPECT_EQ(status.chassis_name(), "127.0.30.1:7777");
}

TEST_F(NetworkConnectionTest, SilenceSendsOneStatusRequestThenDrops) {
    const std::string address = "127.0.30.2";
    ChassisSimulator sim(simConfig(address));
    ASSERT_TRUE(sim.start());

    auto timing = link_test::fastRetries();
    timing.statusRequestAfter = 300ms;
    timing.dropAfter = 900ms;
    auto link = makeRegisteredLink(address, 0, std::make_shared<RecordingParser>(), timing);
    link->start();
    ASSERT_TRUE(
        waitUntil([&] { return link->isConnected() && !sim.receivedCommands(address).empty(); }));

    const std::size_t before = sim.receivedCommands(address).size();
    testing::internal::CaptureStderr();
    sim.setSilent(true, address);
    const bool reconnected = waitUntil([&] { return sim.acceptedConnections(address) >= 2; });
    sim.setSilent(false, address);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(reconnected);
    EXPECT_NE(err.find("Disconnecting due to timeout\n"), std::string::npos);

    ASSERT_TRUE(waitUntil([&] {
        const auto types = commandTypes(sim, address);
        return std::count(types.begin(), types.end(), CmdPacket::COMPLETE_SYSTEM_STATUS_REQ) >= 2;
    }));
    // Between the silence and the next link's complete-status request: exactly one STATUS_REQ.
    const auto types = commandTypes(sim, address);
    const auto nextLink = std::find(types.begin() + static_cast<long>(before), types.end(),
                                    CmdPacket::COMPLETE_SYSTEM_STATUS_REQ);
    EXPECT_EQ(
        std::count(types.begin() + static_cast<long>(before), nextLink, CmdPacket::STATUS_REQ), 1);
}

TEST_F(NetworkConnectionTest, AnsweredStatusRequestsKeepAQuietLinkUp) {
    const std::string address = "127.0.30.3";
    ChassisSimulator sim(simConfig(address));
    ASSERT_TRUE(sim.start());

    auto timing = link_test::fastRetries();
    timing.statusRequestAfter = 200ms;
    timing.dropAfter = 600ms;
    auto link = makeRegisteredLink(address, 0, std::make_shared<RecordingParser>(), timing);
    link->start();
    ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));

    sim.setStreaming(false, address);  // no data, but replies still come
    const auto statusRequests = [&] {
        const auto types = commandTypes(sim, address);
        return std::count(types.begin(), types.end(), CmdPacket::STATUS_REQ);
    };
    ASSERT_TRUE(waitUntil([&] { return statusRequests() >= 4; }));
    EXPECT_EQ(sim.acceptedConnections(address), 1u);
    EXPECT_TRUE(link->isConnected());
}

TEST_F(NetworkConnectionTest, ReconnectScheduleIsFourShortWaitsThenLongOnesAndResets) {
    const std::string address = "127.0.30.4";
    auto sim = std::make_unique<ChassisSimulator>(simConfig(address));
    ASSERT_TRUE(sim->start());

    std::mutex mutex;
    std::vector<std::chrono::milliseconds> waits;
    const auto timing = link_test::fastRetries();
    auto link = makeRegisteredLink(address, 0, std::make_shared<RecordingParser>(), timing);
    link->setRetryObserver([&](std::chrono::milliseconds wait) {
        std::lock_guard<std::mutex> lock(mutex);
        waits.push_back(wait);
    });
    const auto waitCount = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return waits.size();
    };
    link->start();
    ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));
    EXPECT_EQ(waitCount(), 0u);

    testing::internal::CaptureStderr();
    sim->stop();  // link lost; every attempt from now on is refused
    const bool sixWaits = waitUntil([&] { return waitCount() >= 6; });
    sim = std::make_unique<ChassisSimulator>(simConfig(address));
    ASSERT_TRUE(sim->start());
    const bool back = waitUntil([&] { return link->isConnected(); });
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(sixWaits);
    ASSERT_TRUE(back);
    EXPECT_NE(err.find("Failed to connect\n"), std::string::npos);
    EXPECT_TRUE(link->isRunning());

    std::vector<std::chrono::milliseconds> schedule;
    {
        std::lock_guard<std::mutex> lock(mutex);
        schedule = waits;
    }
    const std::vector<std::chrono::milliseconds> expected{timing.retryShort, timing.retryShort,
                                                          timing.retryShort, timing.retryShort,
                                                          timing.retryLong,  timing.retryLong};
    EXPECT_EQ(std::vector<std::chrono::milliseconds>(schedule.begin(), schedule.begin() + 6),
              expected);
    for (std::size_t i = 6; i < schedule.size(); ++i) {
        EXPECT_EQ(schedule[i], timing.retryLong);
    }

    // A successful handshake resets the schedule.
    const std::size_t beforeDrop = schedule.size();
    sim->closeConnections(address);
    ASSERT_TRUE(waitUntil([&] { return waitCount() > beforeDrop; }));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(waits[beforeDrop], timing.retryShort);
}

TEST_F(NetworkConnectionTest, FirstConnectFailureEndsTheThread) {
    const struct {
        const char* name;
        const char* address;
    } cases[] = {
        {"closed loopback port", "127.0.30.5"},
        {"not a dotted IPv4 address", "chassis-one"},
        {"incomplete address", "127.0.30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> retried{false};
        auto link = std::make_shared<NetworkConnection>(c.address, 7777, 0, nullptr,
                                                        link_test::fastRetries());
        link->setRetryObserver([&](std::chrono::milliseconds) { retried = true; });
        testing::internal::CaptureStderr();
        link->start();
        const bool ended = waitUntil([&] { return !link->isRunning(); });
        link->stop();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ended);
        EXPECT_FALSE(retried);
        EXPECT_FALSE(link->isConnected());
        EXPECT_EQ(err, "Failed to connect\n");
    }
}

TEST_F(NetworkConnectionTest, HandshakeTimeoutIsAFailedAttemptAndRetried) {
    const std::string address = "127.0.30.6";
    MuteListener listener(address);
    ASSERT_TRUE(listener.ok());
    auto timing = link_test::fastRetries();
    timing.handshakeTimeout = 100ms;
    bool retried = false;
    std::mutex mutex;
    auto link = std::make_shared<NetworkConnection>(address, 7777, 0, nullptr, timing);
    link->setRetryObserver([&](std::chrono::milliseconds) {
        std::lock_guard<std::mutex> lock(mutex);
        retried = true;
    });
    testing::internal::CaptureStderr();
    link->start();
    const bool sawRetry = waitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return retried;
    });
    link->stop();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(sawRetry);
    EXPECT_NE(err.find("Failed to do SSL_connect\n"), std::string::npos);
}

TEST_F(NetworkConnectionTest, StopNeverHangs) {
    // Default waits: 5 s / 15 s reconnects, 5 s connect and handshake time-outs.
    const auto stopTime = [](NetworkConnection& link) {
        const auto begin = std::chrono::steady_clock::now();
        link.stop();
        return std::chrono::steady_clock::now() - begin;
    };
    {
        SCOPED_TRACE("peer accepts TCP but never completes the handshake");
        MuteListener listener("127.0.30.7");
        ASSERT_TRUE(listener.ok());
        NetworkConnection link("127.0.30.7", 7777, 0, nullptr);
        link.start();
        std::this_thread::sleep_for(200ms);
        EXPECT_LT(stopTime(link), 2s);
    }
    {
        SCOPED_TRACE("waiting to reconnect to a lost chassis");
        auto sim = std::make_unique<ChassisSimulator>(simConfig("127.0.30.8"));
        ASSERT_TRUE(sim->start());
        auto link = makeRegisteredLink("127.0.30.8", 0, nullptr, ConnectionTiming{});
        link->start();
        ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));
        sim->stop();
        ASSERT_TRUE(waitUntil([&] { return !link->isConnected(); }));
        std::this_thread::sleep_for(100ms);
        EXPECT_LT(stopTime(*link), 2s);
    }
}

TEST_F(NetworkConnectionTest, PayloadOf1020BytesIsSentAnd1021DropsTheLink) {
    const std::string address = "127.0.30.9";
    ChassisSimulator sim(simConfig(address));
    ASSERT_TRUE(sim.start());
    auto link = makeRegisteredLink(address, 0, std::make_shared<RecordingParser>(),
                                   link_test::fastRetries());
    link->start();
    ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));

    const std::string fits = command(CmdPacket::UPDATE, std::string(1015, 'u'));
    const std::string tooLarge = command(CmdPacket::UPDATE, std::string(1016, 'u'));
    ASSERT_EQ(fits.size(), 1020u);
    ASSERT_EQ(tooLarge.size(), 1021u);

    const auto payloadSizes = [&] {
        std::vector<std::size_t> sizes;
        for (const auto& c : sim.receivedCommands(address)) {
            sizes.push_back(c.payload.size());
        }
        return sizes;
    };
    link->queueCmd(fits);
    ASSERT_TRUE(waitUntil([&] {
        const auto sizes = payloadSizes();
        return std::find(sizes.begin(), sizes.end(), 1020u) != sizes.end();
    }));

    testing::internal::CaptureStderr();
    link->queueCmd(tooLarge);
    const bool reconnected =
        waitUntil([&] { return sim.acceptedConnections(address) >= 2 && link->isConnected(); });
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(reconnected);
    EXPECT_NE(err.find("msg of size 1021 too large for buffer\n"), std::string::npos);
    const auto sizes = payloadSizes();
    EXPECT_EQ(std::find(sizes.begin(), sizes.end(), 1021u), sizes.end());
}

TEST_F(NetworkConnectionTest, StreamStaysInStepAcrossOversizedAndLargeFrames) {
    const std::string address = "127.0.30.10";
    ChassisSimulator sim(simConfig(address));
    ASSERT_TRUE(sim.start());
    auto parser = std::make_shared<RecordingParser>();
    auto link = makeRegisteredLink(address, 0, parser, link_test::fastRetries());
    link->start();
    ASSERT_TRUE(waitUntil([&] { return parser->framesOfType(DATA_PACKET).size() >= 10; }));

    // A 2052-byte frame in one TLS record is read in two chunks and reassembled.
    std::string largeFrame;
    std::string largePayload(2048, '\0');
    for (std::size_t i = 0; i < largePayload.size(); ++i) {
        largePayload[i] = static_cast<char>(i * 7);
    }
    appendFrame(largeFrame, 9, largePayload);

    testing::internal::CaptureStderr();
    sim.sendOversized(3000, address);
    sim.injectBytes(largeFrame, address);
    const bool gotLarge = waitUntil([&] { return !parser->framesOfType(9).empty(); });
    const std::size_t dataBefore = parser->framesOfType(DATA_PACKET).size();
    const bool moreData =
        waitUntil([&] { return parser->framesOfType(DATA_PACKET).size() >= dataBefore + 50; });
    const std::string err = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(gotLarge);
    ASSERT_TRUE(moreData);
    EXPECT_EQ(parser->framesOfType(9).front().payload, largePayload);
    EXPECT_NE(err.find("with length: 3000 is too large to fit in buffer!\n"), std::string::npos);
    EXPECT_EQ(sim.acceptedConnections(address), 1u);

    // Every data frame still decodes, with no timestamp lost around the injected frames.
    std::uint32_t previous = 0;
    bool first = true;
    for (const auto& frame : parser->framesOfType(DATA_PACKET)) {
        DataPacket packet;
        ASSERT_TRUE(packet.ParseFromString(frame.payload));
        if (!first) {
            ASSERT_EQ(packet.timestamp(), previous + 1);
        }
        previous = packet.timestamp();
        first = false;
    }
}

TEST_F(NetworkConnectionTest, CommandsQueuedFromManyThreadsAllArriveInPerThreadOrder) {
    const std::string address = "127.0.30.11";
    ChassisSimulator sim(simConfig(address));
    ASSERT_TRUE(sim.start());
    auto link = makeRegisteredLink(address, 0, std::make_shared<RecordingParser>(),
                                   link_test::fastRetries());
    link->start();
    ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));

    // Each command carries "thread:index" in its uri, so order and loss are visible.
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PER_THREAD; ++i) {
                link->queueCmd(
                    command(CmdPacket::UPDATE, std::to_string(t) + ":" + std::to_string(i)));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto updates = [&] {
        std::vector<std::string> uris;
        for (const auto& c : sim.receivedCommands(address)) {
            CmdPacket packet;
            if (c.cmd == CmdPacket::UPDATE && packet.ParseFromString(c.payload)) {
                uris.push_back(packet.uri());
            }
        }
        return uris;
    };
    ASSERT_TRUE(waitUntil([&] { return updates().size() >= THREADS * PER_THREAD; }));
    std::vector<int> next(THREADS, 0);
    for (const auto& uri : updates()) {
        const int t = std::stoi(uri.substr(0, uri.find(':')));
        const int i = std::stoi(uri.substr(uri.find(':') + 1));
        EXPECT_EQ(i, next[t]) << uri;
        next[t] = i + 1;
    }
    EXPECT_EQ(next, std::vector<int>(THREADS, PER_THREAD));
}

}  // namespace
