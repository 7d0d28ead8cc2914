// The registry's chassis commands, sent over real links to the simulator: what each chassis
// receives, and the completions that come back as callbacks.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "callback_mgr.h"
#include "chassis_simulator.h"
#include "cmd_gen.h"
#include "device_mgr.h"
#include "frame_codec.h"
#include "link_test_support.h"
#include "net-protocol.pb.h"
#include "network_connection.h"
#include "recording_handler.h"

namespace {

using namespace std::chrono_literals;
using link_test::RecordingHandler;
using link_test::waitUntil;
using Texts = std::vector<std::string>;

// Register reads the tests queue behind the commands under test: a chassis sends in queue
// order, so once the read is answered everything queued before it has arrived and its replies
// have been handled. Markers read card 1 at addresses no test uses, one address per marker.
constexpr std::uint32_t MARKER_SENSOR = 1;
constexpr std::uint32_t MARKER_BASE = 0x7F000000;

bool isMarker(const CmdPacket& packet) {
    return packet.cmd() == CmdPacket::ONE_TIME_READ_REQ && packet.has_raw_cmd() &&
           packet.raw_cmd().register_address() >= MARKER_BASE;
}

// "RawCmdResp chassis sensor register data" of a marker.
bool isMarkerReply(const std::string& event) {
    std::istringstream in(event);
    std::string name;
    std::uint64_t chassis = 0, sensor = 0, address = 0;
    in >> name >> chassis >> sensor >> address;
    return name == "RawCmdResp" && in && address >= MARKER_BASE;
}

// What a command looked like on the wire, field by field as decoded.
std::string text(const CmdPacket& packet) {
    return packet.ShortDebugString();
}

std::string configList(const std::vector<ChannelConfig>& entries) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::CONFIG_LIST);
    for (const auto& e : entries) {
        auto* entry = packet.add_config_list();
        entry->set_sensor_id(e.sensorId);
        entry->set_datatype(e.datatype);
        entry->set_freq(e.freq);
    }
    return text(packet);
}

std::string syncRequest(std::uint32_t count) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::SYNC_CMD_REQ);
    packet.set_num_sync_chassis(count);
    return text(packet);
}

std::string closedLoopRequest(bool on) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::CLOSED_LOOP_REQ);
    packet.set_closed_loop(on);
    return text(packet);
}

std::string devModeRequest(bool enable, const std::string& password) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::DEV_MODE_REQ);
    if (enable) {
        packet.mutable_dev_mode()->set_password(password);
    }
    packet.mutable_dev_mode()->set_enable(enable);
    return text(packet);
}

std::string registerAccess(CmdPacket::EnumCmdType type, std::uint32_t sensor, std::uint32_t address,
                           std::uint32_t data) {
    CmdPacket packet;
    packet.set_cmd(type);
    auto* raw = packet.mutable_raw_cmd();
    raw->set_all_sensors(false);
    raw->set_sensor_num(sensor);
    raw->set_register_address(address);
    raw->set_data(data);
    return text(packet);
}

// "datatype@freq" of each channel, in model order.
Texts rates(const std::vector<Channel>& channels) {
    Texts out;
    for (const auto& c : channels) {
        out.push_back(std::to_string(c.datatype) + "@" + std::to_string(c.freq));
    }
    return out;
}

Texts linesContaining(const std::string& output, const std::string& part) {
    Texts lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.find(part) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string statusFrame(const StatusPacket& packet) {
    std::string payload;
    packet.SerializePartialToString(&payload);
    std::string bytes;
    appendFrame(bytes, STATUS_PACKET, payload);
    return bytes;
}

class DeviceCommandsTest : public testing::Test {
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
        if (sim) {
            sim->stop();
        }
    }

    // One simulated chassis per address (4 slots, cards in slots 1..3 with data types 28 and
    // 50 at 1000), connected through the registry. Data streaming is off: only commands,
    // replies and status messages travel.
    void connectChassis(const std::vector<std::string>& chassisAddresses) {
        addresses = chassisAddresses;
        chassis_sim::SimConfig config;
        config.addresses = addresses;
        config.slots = 4;
        config.sensors = 3;
        config.log = false;
        sim = std::make_unique<chassis_sim::ChassisSimulator>(config);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        sim->setStreaming(false);
        registry->connect(addresses, nullptr);
        ASSERT_TRUE(waitUntil([&] { return registry->allConnected(); }));
        // The adopting cycle of connect has ended too: every chassis sent its first status.
        ASSERT_TRUE(waitUntil([&] { return count("ClosedLoopComplete 0") == 1; }));
        handler->clear();
    }

    // The commands each chassis received since the previous call, in arrival order, leaving
    // out the status requests the links send by themselves and the markers.
    std::vector<Texts> received() {
        const std::uint32_t markerAddress = MARKER_BASE + ++markers;
        for (std::size_t id = 0; id < addresses.size(); ++id) {
            CmdGen::GetInstance()->genCmdOneTimeRead(static_cast<std::int32_t>(id), MARKER_SENSOR,
                                                     markerAddress);
        }
        std::vector<Texts> out(addresses.size());
        for (std::size_t id = 0; id < addresses.size(); ++id) {
            const std::string reply = "RawCmdResp " + std::to_string(id) + " " +
                                      std::to_string(MARKER_SENSOR) + " " +
                                      std::to_string(markerAddress) + " ";
            EXPECT_TRUE(waitUntil([&] {
                const auto events = handler->events();
                return std::any_of(events.begin(), events.end(),
                                   [&](const std::string& e) { return e.rfind(reply, 0) == 0; });
            })) << "chassis "
                << id << " did not answer marker " << markerAddress;
            const auto commands = sim->receivedCommands(addresses[id]);
            std::size_t& from = cursor[id];
            for (; from < commands.size(); ++from) {
                CmdPacket packet;
                packet.ParsePartialFromString(commands[from].payload);
                if (isMarker(packet) && packet.raw_cmd().register_address() == markerAddress) {
                    ++from;
                    break;
                }
                if (isMarker(packet) || packet.cmd() == CmdPacket::STATUS_REQ ||
                    packet.cmd() == CmdPacket::COMPLETE_SYSTEM_STATUS_REQ) {
                    continue;
                }
                out[id].push_back(text(packet));
            }
        }
        return out;
    }

    // The completions and register replies so far, those to markers left out (status
    // callbacks also come from the links' own status requests).
    Texts events() const {
        Texts out;
        for (const auto& e : handler->events()) {
            if ((e.rfind("RawCmdResp ", 0) == 0 && !isMarkerReply(e)) ||
                e.rfind("DevModeComplete ", 0) == 0 || e.rfind("ClosedLoopComplete ", 0) == 0) {
                out.push_back(e);
            }
        }
        return out;
    }

    std::size_t count(const std::string& event) const {
        const auto all = handler->events();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), event));
    }

    std::size_t countStartingWith(const std::string& prefix) const {
        const auto all = handler->events();
        return static_cast<std::size_t>(std::count_if(
            all.begin(), all.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }

    std::shared_ptr<RecordingHandler> handler;
    DeviceMgr* registry = DeviceMgr::GetInstance().get();
    std::unique_ptr<chassis_sim::ChassisSimulator> sim;
    std::vector<std::string> addresses;
    std::map<std::size_t, std::size_t> cursor;
    std::uint32_t markers = 0;
};

// Each case works on a sensor of its own, so the chassis' answers to earlier cases leave its
// current channels alone.
TEST_F(DeviceCommandsTest, ConfigureChannelListSendsRemovalsThenEveryWantedChannel) {
    connectChassis({"127.0.35.1"});

    struct Case {
        const char* name;
        std::uint32_t chassis;
        std::uint32_t sensor;
        std::vector<Channel> wanted;
        std::vector<ChannelConfig> sent;  // empty: nothing is sent
        Texts removedLines;
        Texts channelsAfter;  // of that sensor, once the chassis reported them back
    };
    const auto channel = [](std::uint32_t sensor, std::uint32_t datatype, std::uint32_t freq) {
        Channel c(sensor, datatype);
        c.freq = freq;
        return c;
    };
    const std::vector<Case> cases = {
        {"a current type not wanted is removed first",
         0,
         3,
         {channel(3, 50, 1000)},
         {{3, 28, 0}, {3, 50, 1000}},
         {"Chassis 0 Sensor 3 removed channel 28"},
         {"50@1000"}},
        {"wanted equals current: every channel again, no removal",
         0,
         2,
         {channel(2, 28, 1000), channel(2, 50, 1000)},
         {{2, 28, 1000}, {2, 50, 1000}},
         {},
         {"28@1000", "50@1000"}},
        {"a new rate is sent without a removal",
         0,
         1,
         {channel(1, 50, 250), channel(1, 28, 1000)},
         {{1, 50, 250}, {1, 28, 1000}},
         {},
         {"28@1000", "50@250"}},
        {"nothing wanted removes everything",
         0,
         2,
         {},
         {{2, 28, 0}, {2, 50, 0}},
         {"Chassis 0 Sensor 2 removed channel 28", "Chassis 0 Sensor 2 removed channel 50"},
         {}},
        {"nothing wanted of an empty sensor sends nothing", 0, 2, {}, {}, {}, {}},
        {"nothing wanted of the empty chassis-level list sends nothing", 0, 0, {}, {}, {}, {}},
        {"a slot without card has no current channels",
         0,
         4,
         {channel(4, 28, 500)},
         {{4, 28, 500}},
         {},
         {}},
        {"a chassis without record gets nothing", 7, 1, {channel(1, 28, 1000)}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        registry->configureChannelList(c.chassis, c.sensor, c.wanted);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(linesContaining(out, " removed channel "), c.removedLines);
        if (c.chassis == 7) {
            EXPECT_EQ(err, "Error Chassis: unable to find 7\n");  // the lookup only, no command
        }
        const Texts expected = c.sent.empty() ? Texts{} : Texts{configList(c.sent)};
        EXPECT_EQ(received()[0], expected);
        if (c.chassis == 0) {
            EXPECT_TRUE(waitUntil([&] {
                return rates(registry->getChannels(0, c.sensor)) == c.channelsAfter;
            })) << testing::PrintToString(rates(registry->getChannels(0, c.sensor)));
        }
    }

    // Chassis-level channels are the current list of sensor 0.
    StatusPacket config;
    config.set_chassis_name(addresses[0] + ":7777");
    config.set_type(StatusPacket::SENSOR_CONFIG);
    config.set_num_sensors(3);
    config.set_version("1");
    config.set_status(StatusPacket::RUNNING);
    for (const std::uint32_t datatype : {0u, 28u}) {
        auto* entry = config.add_sensor_config();
        entry->set_sensor(0);
        entry->set_datatype(datatype);
        entry->set_freq(1000);
    }
    sim->injectBytes(statusFrame(config));
    ASSERT_TRUE(waitUntil([&] { return registry->getChannels(0, 0).size() == 2; }));
    testing::internal::CaptureStdout();
    registry->configureChannelList(0, 0, {channel(0, 28, 1000)});
    EXPECT_EQ(linesContaining(testing::internal::GetCapturedStdout(), " removed channel "),
              Texts{"Chassis 0 Sensor 0 removed channel 0"});
    EXPECT_EQ(received()[0], Texts{configList({{0, 0, 0}, {0, 28, 1000}})});
}

// The wanted set goes to the chassis named, and the chassis' report of its new set is what the
// registry then shows; the other chassis keeps its channels.
TEST_F(DeviceCommandsTest, ConfiguredChannelsComeBackFromTheChassis) {
    connectChassis({"127.0.35.10", "127.0.35.11"});
    Channel keep(2, 50);
    keep.freq = 250;
    Channel add(2, 7);
    testing::internal::CaptureStdout();
    registry->configureChannelList(1, 2, {keep, add});
    EXPECT_EQ(linesContaining(testing::internal::GetCapturedStdout(), " removed channel "),
              Texts{"Chassis 1 Sensor 2 removed channel 28"});
    EXPECT_EQ(received(),
              (std::vector<Texts>{{}, {configList({{2, 28, 0}, {2, 50, 250}, {2, 7, 1000}})}}));
    EXPECT_TRUE(waitUntil([&] {
        return rates(registry->getChannels(1, 2)) == Texts{"50@250", "7@1000"};
    })) << testing::PrintToString(rates(registry->getChannels(1, 2)));
    EXPECT_EQ(rates(registry->getChannels(0, 2)), (Texts{"28@1000", "50@1000"}));
    EXPECT_EQ(rates(registry->getChannels(1, 1)), (Texts{"28@1000", "50@1000"}));
    EXPECT_EQ(registry->getAllChannels().size(), 12u);
}

TEST_F(DeviceCommandsTest, QuickChannelConfigSendsEverySensorAndTypeInOrder) {
    connectChassis({"127.0.35.20"});
    struct Case {
        const char* name;
        std::vector<std::uint32_t> sensors;
        std::vector<std::uint32_t> types;
        std::uint32_t freq;
        std::vector<ChannelConfig> sent;
    };
    const std::vector<Case> cases = {
        {"sensor by sensor, types in list order",
         {1, 2},
         {28, 50},
         500,
         {{1, 28, 500}, {1, 50, 500}, {2, 28, 500}, {2, 50, 500}}},
        {"the model is not consulted: a present channel is sent again",
         {3},
         {28},
         1000,
         {{3, 28, 1000}}},
        {"no sensors: nothing", {}, {28, 50}, 500, {}},
        {"no types: nothing", {1, 2}, {}, 500, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        registry->quickChannelConfig(0, c.sensors, c.types, c.freq);
        const Texts expected = c.sent.empty() ? Texts{} : Texts{configList(c.sent)};
        EXPECT_EQ(received()[0], expected);
    }
    EXPECT_TRUE(waitUntil([&] {
        return rates(registry->getChannels(0, 1)) == Texts{"28@500", "50@500"};
    }));
}

// Logic commands and interrupts are announced to chassis 0 with the number of chassis that
// receive them; each chassis then gets its sensors in selection order.
TEST_F(DeviceCommandsTest, SynchronisedCommandsAnnounceTheirChassisCountToChassisZero) {
    connectChassis({"127.0.35.30", "127.0.35.31"});
    const auto logic = [](std::uint32_t type, const std::vector<std::uint32_t>& sensors) {
        CmdPacket packet;
        packet.set_cmd(CmdPacket::LOGIC_REQ);
        auto* entry = packet.add_logic_req();
        entry->set_type(static_cast<LogicMessage::EnumLogicType>(type));
        for (const auto s : sensors) {
            entry->add_sensor_list(s);
        }
        return text(packet);
    };
    const auto interrupt = [](std::uint32_t type, const std::vector<std::uint32_t>& sensors) {
        CmdPacket packet;
        packet.set_cmd(CmdPacket::LOGIC_INTERRUPT_REQ);
        auto* entry = packet.add_logic_interrupt_req();
        entry->set_type(type);
        for (const auto s : sensors) {
            entry->add_sensor_list(s);
        }
        return text(packet);
    };
    using Send = std::function<void(const std::vector<SensorSelect>&, std::uint32_t)>;
    using Expect = std::function<std::string(std::uint32_t, const std::vector<std::uint32_t>&)>;
    struct Kind {
        const char* name;
        Send send;
        Expect expect;
        std::uint32_t type;
    };
    const std::vector<Kind> kinds = {
        {"logic",
         [&](const auto& selection, std::uint32_t type) {
             registry->sendLogicCommand(selection, type);
         },
         logic, LogicMessage::LOGIC_SENSOR_COARSE_ZERO},
        {"interrupt",
         [&](const auto& selection, std::uint32_t type) {
             registry->sendLogicInterruptCommand(selection, type);
         },
         interrupt, 9},
    };
    struct Case {
        const char* name;
        std::vector<SensorSelect> selection;
        std::function<std::vector<Texts>(const Kind&)> expected;
    };
    const std::vector<Case> cases = {
        {"grouped by chassis in id order",
         {{1, 4}, {0, 2}, {1, 3}},
         [&](const Kind& k) {
             return std::vector<Texts>{{syncRequest(2), k.expect(k.type, {2})},
                                       {k.expect(k.type, {4, 3})}};
         }},
        {"chassis 0 announces also when it is not a receiver",
         {{1, 1}},
         [&](const Kind& k) {
             return std::vector<Texts>{{syncRequest(1)}, {k.expect(k.type, {1})}};
         }},
        {"repetitions are kept",
         {{0, 3}, {0, 1}, {0, 3}},
         [&](const Kind& k) {
             return std::vector<Texts>{{syncRequest(1), k.expect(k.type, {3, 1, 3})}, {}};
         }},
        {"an empty selection sends nothing",
         {},
         [](const Kind&) {
             return std::vector<Texts>{{}, {}};
         }},
    };
    for (const auto& kind : kinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kind.name) + ": " + c.name);
            kind.send(c.selection, kind.type);
            EXPECT_EQ(received(), c.expected(kind));
        }
    }
}

TEST_F(DeviceCommandsTest, UpdateCommandsGoToEveryChassisWithoutSynchronisation) {
    connectChassis({"127.0.35.40", "127.0.35.41"});
    CmdPacket start;
    start.set_cmd(CmdPacket::UPDATE);
    start.set_uri("https://127.0.0.1/update.bin");
    CmdPacket commit;
    commit.set_cmd(CmdPacket::UPDATE_COMMIT);

    registry->sendUpdateStartCommand("https://127.0.0.1/update.bin");
    registry->sendUpdateCommitCommand();
    EXPECT_EQ(received(),
              (std::vector<Texts>{{text(start), text(commit)}, {text(start), text(commit)}}));
}

// Register access goes to the one chassis named; its replies reach the handler with that
// chassis' id, in request order.
TEST_F(DeviceCommandsTest, RegisterAccessRepliesReachTheHandler) {
    connectChassis({"127.0.35.50", "127.0.35.51"});
    registry->sendRawCmd(1, 3, 0x40, 77);
    registry->sendOneTimeRead(1, 3, 0x40);
    registry->sendOneTimeRead(0, 3, 0x40);  // never written on chassis 0
    EXPECT_EQ(received(),
              (std::vector<Texts>{{registerAccess(CmdPacket::ONE_TIME_READ_REQ, 3, 0x40, 0)},
                                  {registerAccess(CmdPacket::RAW_CMD, 3, 0x40, 77),
                                   registerAccess(CmdPacket::ONE_TIME_READ_REQ, 3, 0x40, 0)}}));
    Texts replies = events();
    // Chassis 1's replies stay in order; chassis 0's may come anywhere among them.
    std::stable_partition(replies.begin(), replies.end(),
                          [](const std::string& e) { return e.rfind("RawCmdResp 1 ", 0) == 0; });
    EXPECT_EQ(replies, (Texts{"RawCmdResp 1 3 64 77", "RawCmdResp 1 3 64 77",
                              "RawCmdResp 0 3 64 " +
                                  std::to_string(chassis_sim::registerReadValue(3, 0x40))}));
}

TEST_F(DeviceCommandsTest, ClosedLoopCompletesOnceEveryChassisConfirms) {
    connectChassis({"127.0.35.60", "127.0.35.61"});
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "on" : "off");
        handler->clear();
        const std::string complete = std::string("ClosedLoopComplete ") + (on ? "1" : "0");
        registry->setClosedLoop(on);
        EXPECT_TRUE(waitUntil([&] { return count(complete) == 1; }));
        EXPECT_EQ(received(), (std::vector<Texts>{{syncRequest(2), closedLoopRequest(on)},
                                                  {closedLoopRequest(on)}}));

        // Later statuses of a finished cycle complete nothing.
        const std::size_t statuses = countStartingWith("SystemStatus ");
        CmdGen::GetInstance()->genCmdStatusReq(0);
        CmdGen::GetInstance()->genCmdStatusReq(1);
        received();
        EXPECT_TRUE(waitUntil([&] { return countStartingWith("SystemStatus ") >= statuses + 2; }));
        EXPECT_EQ(events(), Texts{complete});
    }
}

// A request made while the cycle that connect started is still open does not end the
// adoption: the state the chassis report replaces the requested one.
TEST_F(DeviceCommandsTest, ClosedLoopRequestDuringTheAdoptingCycleGivesWayToTheAdoptedState) {
    // Nothing listens there: the links give up at once, and the statuses are applied here.
    const std::vector<std::string> unreachable{"127.0.35.70", "127.0.35.71"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    registry->connect(unreachable, nullptr);
    EXPECT_TRUE(waitUntil([&] { return registry->getAbandonedAddresses().size() == 2; }));
    registry->setClosedLoop(true);
    for (const auto& address : unreachable) {
        auto status = std::make_shared<StatusPacket>();
        status->set_chassis_name(address + ":7777");
        status->set_type(StatusPacket::STATUS);
        status->mutable_chassis_status()->set_closed_loop(false);
        registry->updateStatus(status);
    }
    testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    const auto all = handler->events();
    EXPECT_EQ(std::count(all.begin(), all.end(), "ClosedLoopComplete 0"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "ClosedLoopComplete 1"), 0);
}

TEST_F(DeviceCommandsTest, DevModeCompletesOnceAfterTheLastChassisConfirms) {
    connectChassis({"127.0.35.80", "127.0.35.81"});
    // Chassis 1 acts on the request but its confirmation is held back.
    sim->setSilent(true, addresses[1]);
    registry->setDevMode(true, "dev");
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& c : sim->receivedCommands(addresses[1])) {
            if (c.cmd == CmdPacket::DEV_MODE_REQ) {
                return true;
            }
        }
        return false;
    }));
    sim->setSilent(false, addresses[1]);
    EXPECT_EQ(received(),
              (std::vector<Texts>{{devModeRequest(true, "dev")}, {devModeRequest(true, "dev")}}));
    EXPECT_EQ(count("DevModeComplete 1"), 0u) << "chassis 0 alone completed it";

    CmdPacket confirmation;
    confirmation.set_cmd(CmdPacket::DEV_MODE_REQ);
    confirmation.mutable_dev_mode()->set_valid(true);
    confirmation.mutable_dev_mode()->set_enable(true);
    std::string payload;
    confirmation.SerializePartialToString(&payload);
    std::string frame;
    appendFrame(frame, CMD_PACKET, payload);
    sim->injectBytes(frame, addresses[1]);
    EXPECT_TRUE(waitUntil([&] { return count("DevModeComplete 1") == 1; }));

    // A chassis that is no longer waiting confirms again: ignored.
    sim->injectBytes(frame, addresses[1]);
    received();
    EXPECT_EQ(events(), Texts{"DevModeComplete 1"});
}

TEST_F(DeviceCommandsTest, DevModeRefusalsLeaveTheCycleOpenAndANewRequestReplacesIt) {
    connectChassis({"127.0.35.90", "127.0.35.91"});
    struct Case {
        const char* name;
        bool enable;
        std::string password;
        Texts callbacks;
    };
    const std::vector<Case> cases = {
        {"a wrong password is refused: no callback", true, "wrong", {}},
        {"switching off needs no password and completes", false, "dev", {"DevModeComplete 0"}},
        {"the right password completes", true, "dev", {"DevModeComplete 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handler->clear();
        registry->setDevMode(c.enable, c.password);
        // received() waits for each chassis' reply to the request.
        EXPECT_EQ(received(), (std::vector<Texts>{{devModeRequest(c.enable, c.password)},
                                                  {devModeRequest(c.enable, c.password)}}));
        EXPECT_EQ(events(), c.callbacks);
    }
}

// With no chassis, the commands find nobody; the synchronisation request to chassis 0 is still
// made and dropped by the registry.
TEST_F(DeviceCommandsTest, CommandsWithNoChassis) {
    const std::string dropped = "Error Chassis: unable to find 0\nError: chassis 0 not found\n";
    struct Case {
        const char* name;
        std::function<void()> run;
        std::string stderrText;
    };
    const std::vector<Case> cases = {
        {"closed loop: the synchronisation request only", [&] { registry->setClosedLoop(true); },
         dropped},
        {"logic: synchronisation and command",
         [&] {
             registry->sendLogicCommand({{0, 1}}, 1);
         },
         dropped + dropped},
        {"developer mode: nothing", [&] { registry->setDevMode(true, "dev"); }, ""},
        {"update: nothing", [&] { registry->sendUpdateCommitCommand(); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        c.run();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderrText);
    }
    EXPECT_TRUE(handler->events().empty());
}

}  // namespace
