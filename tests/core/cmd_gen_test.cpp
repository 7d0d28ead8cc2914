#include "cmd_gen.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "device_mgr.h"
#include "link_test_support.h"
#include "net-protocol.pb.h"

namespace {

using link_test::waitUntil;

// Every generator, sent through the registry and a real link, as the chassis receives it.
TEST(CmdGen, EveryCommandArrivesAsBuilt) {
    const std::string address = "127.0.31.5";
    chassis_sim::SimConfig config;
    config.addresses = {address};
    config.slots = 2;
    config.sensors = 1;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    auto link = link_test::makeRegisteredLink(address, 0, nullptr, link_test::fastRetries());
    link->start();
    // The link's own request comes first.
    ASSERT_TRUE(waitUntil([&] { return !sim.receivedCommands(address).empty(); }));

    struct Case {
        const char* name;
        std::function<void(CmdGen&)> generate;
        std::function<void(const CmdPacket&, const std::string& bytes)> check;
    };
    const std::vector<Case> cases = {
        {"status request is the two bytes 08 02", [](CmdGen& g) { g.genCmdStatusReq(0); },
         [](const CmdPacket&, const std::string& bytes) {
             EXPECT_EQ(bytes, std::string("\x08\x02", 2));
         }},
        {"sensor config request", [](CmdGen& g) { g.genCmdSensorConfigReq(0); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::SENSOR_CONFIG_REQ);
         }},
        {"complete status request", [](CmdGen& g) { g.genCmdCompleteSystemStatusReq(0); },
         [](const CmdPacket& p, const std::string& bytes) {
             EXPECT_EQ(p.cmd(), CmdPacket::COMPLETE_SYSTEM_STATUS_REQ);
             EXPECT_EQ(bytes.size(), 2u);
         }},
        {"developer mode on", [](CmdGen& g) { g.genCmdDevModeOn(0, "secret"); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::DEV_MODE_REQ);
             EXPECT_EQ(p.dev_mode().password(), "secret");
             EXPECT_TRUE(p.dev_mode().enable());
             EXPECT_FALSE(p.dev_mode().has_valid());
         }},
        {"developer mode off has no password", [](CmdGen& g) { g.genCmdDevModeOff(0); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::DEV_MODE_REQ);
             EXPECT_TRUE(p.dev_mode().has_enable());
             EXPECT_FALSE(p.dev_mode().enable());
             EXPECT_FALSE(p.dev_mode().has_password());
         }},
        {"channel list in order",
         [](CmdGen& g) {
             g.genCmdConfigSensorList(0, {ChannelConfig(3, 28, 0), ChannelConfig(3, 50, 1000)});
         },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::CONFIG_LIST);
             ASSERT_EQ(p.config_list_size(), 2);
             EXPECT_EQ(p.config_list(0).sensor_id(), 3u);
             EXPECT_EQ(p.config_list(0).datatype(), 28u);
             EXPECT_TRUE(p.config_list(0).has_freq());
             EXPECT_EQ(p.config_list(0).freq(), 0u);
             EXPECT_EQ(p.config_list(1).freq(), 1000u);
         }},
        {"empty channel list still sent", [](CmdGen& g) { g.genCmdConfigSensorList(0, {}); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::CONFIG_LIST);
             EXPECT_EQ(p.config_list_size(), 0);
         }},
        {"sync request with zero present", [](CmdGen& g) { g.genCmdSyncReq(0, 0); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::SYNC_CMD_REQ);
             EXPECT_TRUE(p.has_num_sync_chassis());
             EXPECT_EQ(p.num_sync_chassis(), 0u);
         }},
        {"logic command",
         [](CmdGen& g) {
             g.genCmdLogic(0, {4, 3}, LogicMessage::LOGIC_SENSOR_FINE_ZERO);
         },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::LOGIC_REQ);
             ASSERT_EQ(p.logic_req_size(), 1);
             EXPECT_EQ(p.logic_req(0).type(), LogicMessage::LOGIC_SENSOR_FINE_ZERO);
             EXPECT_FALSE(p.logic_req(0).has_sensor_id());
             EXPECT_EQ(std::vector<std::uint32_t>(p.logic_req(0).sensor_list().begin(),
                                                  p.logic_req(0).sensor_list().end()),
                       (std::vector<std::uint32_t>{4, 3}));
         }},
        {"logic interrupt", [](CmdGen& g) { g.genCmdLogicInterrupt(0, {2}, 9); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::LOGIC_INTERRUPT_REQ);
             ASSERT_EQ(p.logic_interrupt_req_size(), 1);
             EXPECT_EQ(p.logic_interrupt_req(0).type(), 9u);
             ASSERT_EQ(p.logic_interrupt_req(0).sensor_list_size(), 1);
         }},
        {"closed loop", [](CmdGen& g) { g.genCmdClosedLoop(0, true); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::CLOSED_LOOP_REQ);
             EXPECT_TRUE(p.closed_loop());
         }},
        {"update start", [](CmdGen& g) { g.genCmdUpdateStart(0, "http://127.0.0.1/u.bin"); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::UPDATE);
             EXPECT_EQ(p.uri(), "http://127.0.0.1/u.bin");
         }},
        {"update commit", [](CmdGen& g) { g.genCmdUpdateCommit(0); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::UPDATE_COMMIT);
         }},
        {"register write", [](CmdGen& g) { g.genCmdRawCmd(0, 5, 0x1234, 99); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::RAW_CMD);
             EXPECT_TRUE(p.raw_cmd().has_all_sensors());
             EXPECT_FALSE(p.raw_cmd().all_sensors());
             EXPECT_EQ(p.raw_cmd().sensor_num(), 5u);
             EXPECT_EQ(p.raw_cmd().register_address(), 0x1234u);
             EXPECT_EQ(p.raw_cmd().data(), 99u);
         }},
        {"one-time read", [](CmdGen& g) { g.genCmdOneTimeRead(0, 5, 0x20); },
         [](const CmdPacket& p, const std::string&) {
             EXPECT_EQ(p.cmd(), CmdPacket::ONE_TIME_READ_REQ);
             EXPECT_TRUE(p.raw_cmd().has_data());
             EXPECT_EQ(p.raw_cmd().data(), 0u);
             EXPECT_EQ(p.raw_cmd().register_address(), 0x20u);
         }},
    };

    auto generator = CmdGen::GetInstance();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = sim.receivedCommands(address).size();
        c.generate(*generator);
        ASSERT_TRUE(waitUntil([&] { return sim.receivedCommands(address).size() > before; }));
        const auto received = sim.receivedCommands(address)[before];
        CmdPacket packet;
        ASSERT_TRUE(packet.ParseFromString(received.payload));
        EXPECT_FALSE(packet.has_sensor_id());
        EXPECT_FALSE(packet.has_datatype());
        EXPECT_FALSE(packet.has_freq());
        c.check(packet, received.payload);
    }
    DeviceMgr::GetInstance()->disconnect();
}

TEST(CmdGen, ConcurrentFirstUseYieldsOneInstance) {
    std::vector<std::thread> threads;
    std::vector<CmdGen*> seen(8, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = CmdGen::GetInstance().get(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (auto* p : seen) {
        EXPECT_EQ(p, seen.front());
    }
}

}  // namespace
