#include "device_mgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "callback_mgr.h"
#include "chassis_simulator.h"
#include "data_aggregator.h"
#include "discovery.pb.h"
#include "link_test_support.h"
#include "net-protocol.pb.h"
#include "recording_handler.h"

namespace {

using namespace std::chrono_literals;
using link_test::RecordingHandler;
using link_test::waitUntil;
using Events = std::vector<std::string>;

StatusPacket status(const std::string& name,
                    StatusPacket::EnumStatusType type = StatusPacket::STATUS) {
    StatusPacket packet;
    packet.set_chassis_name(name);
    packet.set_type(type);
    packet.set_num_sensors(0);
    packet.set_version("1");
    packet.set_status(StatusPacket::RUNNING);
    return packet;
}

void apply(const StatusPacket& packet) {
    DeviceMgr::GetInstance()->updateStatus(std::make_shared<StatusPacket>(packet));
}

void addCard(StatusPacket& packet, std::uint32_t slot, const std::string& serial) {
    auto* card = packet.add_sensor_status();
    card->set_sensor_id(slot);
    card->set_sensor_card_serial_num(serial);
}

void addConfig(StatusPacket& packet, std::uint32_t sensor, std::uint32_t datatype,
               std::uint32_t freq, float calibration = -1.0f) {
    auto* config = packet.add_sensor_config();
    config->set_sensor(sensor);
    config->set_datatype(datatype);
    config->set_freq(freq);
    if (calibration >= 0.0f) {
        config->set_calibration(calibration);
    }
}

std::string describe(const Channel& c) {
    return std::to_string(c.cId) + "/" + std::to_string(c.sId) + "/" + std::to_string(c.datatype) +
           "/" + std::to_string(c.freq) + "/" + std::to_string(c.calibration);
}

std::vector<std::string> describe(const std::vector<Channel>& channels) {
    std::vector<std::string> out;
    for (const auto& c : channels) {
        out.push_back(describe(c));
    }
    return out;
}

class DeviceMgrTest : public testing::Test {
protected:
    void SetUp() override {
        handler = std::make_shared<RecordingHandler>();
        CallbackMgr::GetInstance()->setCallbackHandler(handler);
        NetworkConnection::setDefaultTiming(link_test::fastRetries());
    }
    void TearDown() override {
        DeviceMgr::GetInstance()->disconnect();
        CallbackMgr::GetInstance()->setCallbackHandler(nullptr);
        NetworkConnection::setDefaultTiming(ConnectionTiming{});
    }
    // Chassis ids for addresses where nothing listens: records with connection objects whose
    // first connect fails at once (their threads' lines are captured here).
    void connectUnreachable(const std::vector<std::string>& addresses) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        DeviceMgr::GetInstance()->connect(addresses, nullptr);
        std::this_thread::sleep_for(200ms);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
    // Chassis ids whose records hold connection objects that are never started.
    void attachIdle(const std::vector<std::string>& addresses) {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            DeviceMgr::GetInstance()->attachConnection(
                static_cast<std::int32_t>(i), addresses[i],
                std::make_shared<NetworkConnection>(addresses[i], 7777,
                                                    static_cast<std::uint32_t>(i), nullptr));
        }
    }

    std::shared_ptr<RecordingHandler> handler;
};

TEST_F(DeviceMgrTest, StatusWithoutChassisNameIsRejected) {
    auto packet = std::make_shared<StatusPacket>();
    packet->set_type(StatusPacket::COMPLETE_SYSTEM_STATUS);
    testing::internal::CaptureStderr();
    DeviceMgr::GetInstance()->updateStatus(packet);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "updateStatus: chassis name is not set!\n");
    EXPECT_TRUE(handler->events().empty());
}

TEST_F(DeviceMgrTest, CallbacksComeAfterTheUpdateInTheirOrderAndTheFirstCycleAdoptsClosedLoop) {
    connectUnreachable({"127.0.32.1", "127.0.32.2"});
    handler->clear();

    StatusPacket first = status("127.0.32.1:7777", StatusPacket::COMPLETE_SYSTEM_STATUS);
    first.mutable_chassis_status()->set_closed_loop(true);
    first.mutable_system_status()->set_num_slots(2);
    addCard(first, 1, "C1");
    auto* state = first.add_sensor_state();
    state->set_sensor_id(1);
    state->set_error_flags(4);
    first.set_progress(50);
    first.set_progress_msg("flashing");
    apply(first);
    EXPECT_EQ(handler->events(),
              (Events{"ConfigUpdate", "SystemStatus 127.0.32.1:7777 2",
                      "SensorError 127.0.32.1:7777 1 4", "Progress 127.0.32.1:7777 50 flashing"}));

    // The last chassis of the cycle completes it; its state is adopted whatever it is.
    handler->clear();
    StatusPacket second = status("127.0.32.2:7777");
    second.mutable_chassis_status()->set_closed_loop(false);
    second.set_status(StatusPacket::FLASHING);
    apply(second);
    EXPECT_EQ(handler->events(),
              (Events{"ConfigUpdate", "ClosedLoopComplete 0", "SystemStatus 127.0.32.2:7777 1"}));

    // A name outside the id table makes a record of its own and raises nothing.
    handler->clear();
    testing::internal::CaptureStdout();
    apply(status("127.0.99.9:7777", StatusPacket::COMPLETE_SYSTEM_STATUS));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("_getAndInsertChassis adding new chassis 127.0.99.9:7777\n"),
              std::string::npos);
    EXPECT_TRUE(handler->events().empty());
}

TEST_F(DeviceMgrTest, SensorConfigurationReplacesTheWholeChannelSet) {
    attachIdle({"127.0.32.3"});
    StatusPacket describe0 = status("127.0.32.3:7777", StatusPacket::COMPLETE_SYSTEM_STATUS);
    describe0.mutable_system_status()->set_num_slots(4);
    describe0.mutable_system_status()->set_serial_short("CH");
    addCard(describe0, 1, "A");
    addCard(describe0, 3, "B");
    addConfig(describe0, 1, 28, 1000, 1e-15f);
    addConfig(describe0, 1, 50, 1000);  // no calibration: 0
    addConfig(describe0, 3, 28, 500, 2.0f);
    addConfig(describe0, 2, 28, 1000);  // slot without card: dropped
    addConfig(describe0, 5, 28, 1000);  // beyond the slots: skipped
    addConfig(describe0, 0, 0, 250);    // chassis level: fixed calibration, freq 1000
    addConfig(describe0, 0, 28, 500);   // chassis level: calibration 0, freq 1000
    testing::internal::CaptureStdout();
    apply(describe0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Got sensor config size 7\n"), std::string::npos);
    EXPECT_NE(out.find("sensor 3 datatype 28 freq 500\n"), std::string::npos);

    auto* registry = DeviceMgr::GetInstance().get();
    EXPECT_EQ(describe(registry->getAllChannels()), describe(std::vector<Channel>{
                                                        [] {
                                                            Channel c(0, 0);
                                                            c.cId = 0;
                                                            c.calibration = 2.9802322e-07f;
                                                            return c;
                                                        }(),
                                                        [] {
                                                            Channel c(0, 28);
                                                            c.cId = 0;
                                                            return c;
                                                        }(),
                                                        [] {
                                                            Channel c(1, 28);
                                                            c.cId = 0;
                                                            c.calibration = 1e-15f;
                                                            return c;
                                                        }(),
                                                        [] {
                                                            Channel c(1, 50);
                                                            c.cId = 0;
                                                            return c;
                                                        }(),
                                                        [] {
                                                            Channel c(3, 28);
                                                            c.cId = 0;
                                                            c.freq = 500;
                                                            c.calibration = 2.0f;
                                                            return c;
                                                        }(),
                                                    }));
    EXPECT_EQ(registry->getChannels(0, 3).size(), 1u);
    EXPECT_TRUE(registry->getChannels(0, 2).empty());

    const auto rows = registry->getSensorInfo();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].sId, 0u);
    EXPECT_EQ(rows[0].numChannels, 2u);
    EXPECT_EQ(rows[0].serial, "CH");
    EXPECT_EQ(rows[1].sId, 1u);
    EXPECT_EQ(rows[1].numChannels, 2u);
    EXPECT_EQ(rows[2].sId, 3u);
    EXPECT_EQ(rows[2].serial, "B");

    // Only slot 3 configured: slot 1 and the chassis level lose their channels.
    StatusPacket onlyThree = status("127.0.32.3:7777", StatusPacket::SENSOR_CONFIG);
    addConfig(onlyThree, 3, 50, 1000);
    testing::internal::CaptureStdout();
    apply(onlyThree);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(describe(registry->getAllChannels()), (std::vector<std::string>{describe([] {
                  Channel c(3, 50);
                  c.cId = 0;
                  return c;
              }())}));

    // A configuration message without entries empties everything.
    testing::internal::CaptureStdout();
    apply(status("127.0.32.3:7777", StatusPacket::SENSOR_CONFIG));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(registry->getAllChannels().empty());
}

TEST_F(DeviceMgrTest, SlotCountChangeDropsCardsAndAChangedSerialReplacesTheCard) {
    attachIdle({"127.0.32.4"});
    auto* registry = DeviceMgr::GetInstance().get();
    StatusPacket sixteen = status("127.0.32.4:7777", StatusPacket::COMPLETE_SYSTEM_STATUS);
    sixteen.mutable_system_status()->set_num_slots(16);
    addCard(sixteen, 2, "A");
    addConfig(sixteen, 2, 28, 1000);
    testing::internal::CaptureStdout();
    apply(sixteen);

    // Same slot, new serial: a fresh card without channels.
    StatusPacket swapped = status("127.0.32.4:7777");
    addCard(swapped, 2, "B");
    testing::internal::CaptureStderr();
    apply(swapped);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "New serial of B does not match existing A\n");
    EXPECT_TRUE(registry->getChannels(0, 2).empty());

    StatusPacket eight = status("127.0.32.4:7777");
    eight.mutable_system_status()->set_num_slots(8);
    testing::internal::CaptureStderr();
    apply(eight);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Previous slot count not same as new\n");
    EXPECT_EQ(registry->getSensorInfo().size(), 1u);  // the chassis row only

    StatusPacket again = status("127.0.32.4:7777");
    addCard(again, 8, "C");
    addCard(again, 9, "D");
    testing::internal::CaptureStderr();
    apply(again);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to set sensor ID 9 with number of slots 8\n");
    testing::internal::GetCapturedStdout();
    const auto rows = registry->getSensorInfo();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].sId, 8u);

    // Hostile sizes are refused before anything is sized from them.
    StatusPacket hostile = status("127.0.32.4:7777");
    hostile.mutable_system_status()->set_num_slots(4000000000u);
    hostile.mutable_system_status()->set_num(1);
    hostile.mutable_system_status()->set_total(2147483647u);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    apply(hostile);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Chassis 127.0.32.4:7777 reports a system of 2147483647 chassis; ignored\n"
              "Chassis 127.0.32.4:7777 reports 4000000000 slots; ignored\n");
    EXPECT_EQ(registry->getSensorInfo().size(), 2u);
}

TEST_F(DeviceMgrTest, HostsLinkAgentsThatNameTheirSerial) {
    auto* registry = DeviceMgr::GetInstance().get();
    const auto systemOf = [&](const std::string& hostName) {
        for (const auto& system : registry->getDeviceInfo()) {
            if (!system.empty() && system.front().name == hostName) {
                return system;
            }
        }
        return std::vector<DeviceInfoStruct>{};
    };
    const auto member = [](const std::string& name, std::uint32_t num, std::uint32_t total,
                           const std::string& serial, const std::string& master) {
        StatusPacket packet = status(name);
        auto* system = packet.mutable_system_status();
        system->set_num(num);
        system->set_total(total);
        system->set_serial(serial);
        if (!master.empty()) {
            system->set_master(master);
        }
        return packet;
    };

    testing::internal::CaptureStdout();
    apply(member("127.0.33.1:7777", 1, 2, "H1", ""));
    EXPECT_EQ(systemOf("127.0.33.1:7777"),
              (std::vector<DeviceInfoStruct>{{"127.0.33.1:7777", "127.0.33.1"}, {"", ""}}));
    apply(member("127.0.33.2:7777", 2, 2, "A1", "H1"));
    EXPECT_EQ(systemOf("127.0.33.1:7777"),
              (std::vector<DeviceInfoStruct>{{"127.0.33.1:7777", "127.0.33.1"},
                                             {"127.0.33.2:7777", "127.0.33.2"}}));

    apply(member("127.0.33.3:7777", 1, 2, "H2", ""));
    testing::internal::CaptureStderr();
    apply(member("127.0.33.4:7777", 2, 3, "A2", "H2"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Total mismatch for host 127.0.33.3:7777 and agent 127.0.33.4:7777\n"),
              std::string::npos);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(systemOf("127.0.33.3:7777")[1], (DeviceInfoStruct{"", ""}));
}

TEST_F(DeviceMgrTest, RegistryEdges) {
    auto* registry = DeviceMgr::GetInstance().get();
    {
        SCOPED_TRACE("command for an unknown id");
        testing::internal::CaptureStderr();
        registry->queueCmd(7, "x");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Error Chassis: unable to find 7\nError: chassis 7 not found\n");
    }
    {
        SCOPED_TRACE("empty address list");
        registry->connect({}, nullptr);
        EXPECT_TRUE(registry->allConnected());
        EXPECT_EQ(registry->getActiveConnections(),
                  (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
        EXPECT_TRUE(registry->allVersionsEqual());
    }
    {
        SCOPED_TRACE("a repeated address is ignored");
        connectUnreachable({"127.0.32.5", "127.0.32.5", "127.0.32.6"});
        const auto info = registry->getChassisInfo();
        ASSERT_EQ(info.size(), 2u);
        EXPECT_EQ(info[0].name, "127.0.32.5:7777");
        EXPECT_EQ(info[1].name, "127.0.32.6:7777");
        EXPECT_FALSE(registry->allConnected());  // the links never came up
    }
    {
        SCOPED_TRACE("a second connect replaces the first");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        registry->connect({"127.0.32.7"}, nullptr);
        testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Stopping device\n"), std::string::npos);
        ASSERT_EQ(registry->getChassisInfo().size(), 1u);
        EXPECT_EQ(registry->getChassisInfo()[0].name, "127.0.32.7:7777");
    }
    {
        SCOPED_TRACE("disconnect twice");
        testing::internal::CaptureStdout();
        registry->disconnect();
        registry->disconnect();
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(registry->getChassisInfo().empty());
    }
}

TEST_F(DeviceMgrTest, RegisterReadRepliesReachTheHandler) {
    auto reply = std::make_shared<CmdPacket>();
    reply->set_cmd(CmdPacket::RAW_CMD_RESP);
    auto* raw = reply->mutable_raw_cmd();
    raw->set_all_sensors(true);
    raw->set_sensor_num(3);
    raw->set_register_address(0x40);
    raw->set_data(77);
    DeviceMgr::GetInstance()->handleCmd(2, reply);

    // A developer-mode confirmation nobody waits for, and other packets, are ignored.
    auto devMode = std::make_shared<CmdPacket>();
    devMode->set_cmd(CmdPacket::DEV_MODE_REQ);
    devMode->mutable_dev_mode()->set_valid(true);
    devMode->mutable_dev_mode()->set_enable(false);
    DeviceMgr::GetInstance()->handleCmd(0, devMode);
    auto other = std::make_shared<CmdPacket>();
    other->set_cmd(CmdPacket::STATUS_REQ);
    DeviceMgr::GetInstance()->handleCmd(0, other);

    EXPECT_EQ(handler->events(), (Events{"RawCmdResp 2 3 64 77"}));
}

TEST_F(DeviceMgrTest, DiscoveryReplyMakesTheHeadOfAOneChassisSystem) {
    DeviceInfo info;
    info.set_name("127.0.34.1:7777");
    info.set_device_type("chassis");
    const std::string bytes = info.SerializeAsString();
    testing::internal::CaptureStdout();
    DeviceMgr::GetInstance()->parseDiscovery(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             static_cast<std::int32_t>(bytes.size()));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Device name: 127.0.34.1:7777\n"), std::string::npos);
    EXPECT_NE(out.find("Device type: chassis\n"), std::string::npos);
    bool found = false;
    for (const auto& system : DeviceMgr::GetInstance()->getDeviceInfo()) {
        if (system == std::vector<DeviceInfoStruct>{{"127.0.34.1:7777", "127.0.34.1"}}) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(DeviceMgrTest, AllConnectedWaitsForACompleteStatusAfterALinkDrop) {
    const std::string address = "127.0.31.1";
    chassis_sim::SimConfig config;
    config.addresses = {address};
    config.slots = 4;
    config.sensors = 2;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    auto* registry = DeviceMgr::GetInstance().get();
    registry->connect({address}, nullptr);
    ASSERT_TRUE(waitUntil([&] { return registry->allConnected(); }));
    EXPECT_EQ(registry->getAllChannels().size(), 4u);

    // The chassis comes back but stays silent: linked, yet not described.
    sim.setSilent(true);
    sim.closeConnections();
    ASSERT_TRUE(waitUntil([&] { return sim.acceptedConnections() >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return registry->getActiveConnections().first == 1; }));
    // The new link's complete-status request has reached the chassis, and went unanswered.
    ASSERT_TRUE(waitUntil([&] { return sim.receivedCommands(address).size() >= 2; }));
    EXPECT_FALSE(registry->allConnected());
    sim.setSilent(false);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(registry->allConnected());  // status replies are not a complete status

    sim.closeConnections();
    EXPECT_TRUE(waitUntil([&] { return registry->allConnected(); }));
    const auto events = handler->events();
    EXPECT_NE(std::find(events.begin(), events.end(), "ConnectionStatus 0/1"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "ConnectionStatus 1/1"), events.end());
}

// Three chassis end to end: channel list, merged time points holding one instant of every
// chassis, also after one chassis lost its link and came back.
TEST_F(DeviceMgrTest, ThreeChassisMergeIntoConsistentTimePoints) {
    chassis_sim::SimConfig config;
    config.addresses = {"127.0.31.2", "127.0.31.3", "127.0.31.4"};
    config.slots = 4;
    config.sensors = 2;
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());

    auto aggregator = std::make_shared<DataAggregator>();
    auto* registry = DeviceMgr::GetInstance().get();
    testing::internal::CaptureStdout();
    registry->connect(config.addresses, aggregator);
    ASSERT_TRUE(waitUntil([&] { return registry->allConnected(); }));

    const auto channels = registry->getAllChannels();
    ASSERT_EQ(channels.size(), 12u);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        EXPECT_EQ(channels[i].cId, static_cast<std::int32_t>(i / 4));
        EXPECT_EQ(channels[i].sId, 1 + (i / 2) % 2);
        EXPECT_EQ(channels[i].datatype, i % 2 == 0 ? 28u : 50u);
    }
    aggregator->start();

    std::size_t checked = 0;
    const auto checkPoints = [&](std::size_t want) {
        std::size_t seen = 0;
        const bool enough = waitUntil([&] {
            for (const auto& point : aggregator->retrieveAllDataPoints()) {
                ++seen;
                EXPECT_EQ(point->frames.size(), 12u);
                for (std::size_t i = 0; i < point->frames.size(); ++i) {
                    const auto& f = point->frames[i];
                    EXPECT_EQ(f.cId, static_cast<std::int32_t>(i / 4));
                    // Every sample belongs to the time point's own instant.
                    EXPECT_EQ(f.val, chassis_sim::deterministicValue(
                                         static_cast<std::uint32_t>(f.cId),
                                         static_cast<std::uint32_t>(f.sId),
                                         static_cast<std::uint32_t>(f.datatype), point->timestamp))
                        << "timestamp " << point->timestamp << " frame " << f.key;
                }
            }
            return seen >= want;
        });
        checked += seen;
        return enough;
    };
    EXPECT_TRUE(checkPoints(300));

    sim.closeConnections("127.0.31.3");
    ASSERT_TRUE(waitUntil([&] { return sim.acceptedConnections("127.0.31.3") >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return registry->allConnected(); }));
    EXPECT_TRUE(checkPoints(300));
    aggregator->stop();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Synced on "), std::string::npos);
    EXPECT_GE(checked, 600u);
}

// Status messages of several chassis arrive on their connection threads while the
// application queries the model.
TEST_F(DeviceMgrTest, ConcurrentStatusUpdatesAndQueries) {
    const std::vector<std::string> addresses{"127.0.32.8", "127.0.32.9", "127.0.32.10"};
    attachIdle(addresses);
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    testing::internal::CaptureStdout();
    for (const auto& address : addresses) {
        writers.emplace_back([&, address] {
            for (int round = 0; round < 200; ++round) {
                StatusPacket packet =
                    status(address + ":7777", StatusPacket::COMPLETE_SYSTEM_STATUS);
                packet.mutable_system_status()->set_num_slots(4);
                addCard(packet, 1 + round % 4, "S");
                addConfig(packet, 1 + round % 4, 28, 1000);
                packet.mutable_chassis_status()->set_closed_loop(round % 2 == 0);
                apply(packet);
            }
        });
    }
    std::size_t queries = 0;
    auto* registry = DeviceMgr::GetInstance().get();
    while (!done.load()) {
        registry->getAllChannels();
        registry->getSensorInfo();
        registry->getChassisInfo();
        registry->allConnected();
        registry->getActiveConnections();
        ++queries;
        done = queries > 300;
    }
    for (auto& writer : writers) {
        writer.join();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(registry->getAllChannels().size(), 3u);
}

}  // namespace
