// The chassis' answers to commands, and its record of what it received.
#include <gtest/gtest.h>

#include "chassis_simulator.h"
#include "frame_codec.h"
#include "tls_test_client.h"

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using sim_test::TlsTestClient;

namespace {

bool isStatus(const sim_test::ReceivedFrame& frame) {
    return frame.type == STATUS_PACKET;
}

SimConfig quietConfig(std::vector<std::string> addresses) {
    SimConfig config;
    config.addresses = std::move(addresses);
    config.log = false;
    return config;
}

}  // namespace

TEST(SimStatus, CompleteStatusDescribesEveryChassisOfTheSystem) {
    SimConfig config;  // logging on: the per-command lines run here too
    config.addresses = {"127.0.40.1", "127.0.40.2"};
    config.slots = 8;
    config.sensors = 3;
    config.dataTypes = {28, 50};
    ChassisSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    std::vector<StatusPacket> answers;
    for (const std::string& address : config.addresses) {
        SCOPED_TRACE(address);
        TlsTestClient client;
        ASSERT_TRUE(client.connect(address));
        ASSERT_TRUE(client.sendCommand(CmdPacket::COMPLETE_SYSTEM_STATUS_REQ));
        const auto frame = client.waitFor(isStatus, 5s);
        ASSERT_TRUE(frame);
        EXPECT_LE(frame->payload.size(), MAX_RECEIVE_PAYLOAD);
        const auto status = sim_test::asStatusPacket(*frame);  // every required field present
        ASSERT_TRUE(status);
        answers.push_back(*status);

        const auto commands = sim.receivedCommands(address);
        ASSERT_EQ(commands.size(), 1u);
        EXPECT_EQ(commands[0].address, address);
        EXPECT_EQ(commands[0].cmd, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ);
        EXPECT_EQ(commands[0].payload, std::string("\x08\x1a", 2));
    }

    const std::string hostSerial = answers[0].system_status().serial();
    EXPECT_FALSE(hostSerial.empty());
    EXPECT_NE(answers[1].system_status().serial(), hostSerial);
    for (std::size_t index = 0; index < answers.size(); ++index) {
        SCOPED_TRACE(index);
        const StatusPacket& status = answers[index];
        EXPECT_EQ(status.chassis_name(), config.addresses[index] + ":7777");
        EXPECT_EQ(status.type(), StatusPacket::COMPLETE_SYSTEM_STATUS);
        EXPECT_EQ(status.status(), StatusPacket::RUNNING);
        EXPECT_EQ(status.num_sensors(), 3u);
        EXPECT_FALSE(status.version().empty());

        const SystemStatusMessage& system = status.system_status();
        EXPECT_EQ(system.num(), index + 1);
        EXPECT_EQ(system.total(), 2u);
        EXPECT_EQ(system.master(), hostSerial);
        EXPECT_FALSE(system.serial_short().empty());
        EXPECT_EQ(system.num_slots(), 8u);
        ASSERT_TRUE(status.has_chassis_status());
        EXPECT_FALSE(status.chassis_status().closed_loop());

        ASSERT_EQ(status.sensor_status_size(), 3);
        for (int i = 0; i < 3; ++i) {
            const SensorStatus& card = status.sensor_status(i);
            EXPECT_EQ(card.sensor_id(), static_cast<std::uint32_t>(i + 1));
            EXPECT_TRUE(card.sensor_connected());
            EXPECT_FALSE(card.sensor_card_serial_num().empty());
            EXPECT_FALSE(card.sensor_serial_num().empty());
            EXPECT_FALSE(card.sensor_version().empty());
        }
        // One entry per channel, sensor-major; type 28 calibrated to tesla from fT.
        ASSERT_EQ(status.sensor_config_size(), 6);
        for (int i = 0; i < 6; ++i) {
            const SensorConfig& channel = status.sensor_config(i);
            EXPECT_EQ(channel.sensor(), static_cast<std::uint32_t>(i / 2 + 1));
            EXPECT_EQ(channel.datatype(), i % 2 == 0 ? 28u : 50u);
            EXPECT_EQ(channel.freq(), 1000u);
            ASSERT_TRUE(channel.has_calibration());
            EXPECT_EQ(channel.calibration(), i % 2 == 0 ? 1e-15f : 1e-4f);
        }
    }
}

TEST(SimStatus, StatusRequestGetsTheShortStatus) {
    ChassisSimulator sim(quietConfig({"127.0.40.3"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.40.3"));
    ASSERT_TRUE(client.sendCommand(CmdPacket::STATUS_REQ));
    const auto frame = client.waitFor(isStatus, 5s);
    ASSERT_TRUE(frame);
    const auto status = sim_test::asStatusPacket(*frame);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->type(), StatusPacket::STATUS);
    EXPECT_EQ(status->chassis_name(), "127.0.40.3:7777");
    EXPECT_EQ(status->num_sensors(), 16u);
    EXPECT_EQ(status->status(), StatusPacket::RUNNING);
    EXPECT_EQ(status->sensor_config_size(), 0);
}

// Whatever a client sends, the link survives: undecodable commands are recorded as -1,
// frames of other types and oversized frames are skipped, and the next request is answered.
TEST(SimStatus, HostileInputIsRecordedAndTheLinkSurvives) {
    ChassisSimulator sim(quietConfig({"127.0.40.4"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.40.4"));

    std::string oversized;
    oversized.push_back('\0');
    oversized.push_back('\1');
    oversized.push_back('\x13');  // 0x1388 = 5000 bytes announced ...
    oversized.push_back('\x88');
    oversized.append(5000, '\x01');  // ... and sent, so the stream stays in step

    CmdPacket sensorConfig;
    sensorConfig.set_cmd(CmdPacket::SENSOR_CONFIG_REQ);
    sensorConfig.set_sensor_id(2);

    ASSERT_TRUE(client.sendFrame(CMD_PACKET, std::string("\xff\xff\xff", 3)));  // bad varint
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, ""));  // decodes, but cmd is missing
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, std::string("\x08\x63", 2)));  // cmd 99: unknown
    ASSERT_TRUE(client.sendFrame(DATA_PACKET, "not a command"));
    ASSERT_TRUE(client.sendRaw(oversized));
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, sensorConfig.SerializeAsString()));  // no reply yet
    ASSERT_TRUE(client.sendCommand(CmdPacket::STATUS_REQ));

    // The only status frame is the answer to STATUS_REQ.
    const auto frame = client.waitFor(isStatus, 5s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(sim_test::asStatusPacket(*frame)->type(), StatusPacket::STATUS);
    EXPECT_FALSE(client.waitFor(isStatus, 200ms));
    EXPECT_FALSE(client.closed());

    std::vector<int> recorded;
    for (const auto& command : sim.receivedCommands("127.0.40.4")) {
        recorded.push_back(command.cmd);
    }
    EXPECT_EQ(recorded,
              (std::vector<int>{-1, -1, -1, CmdPacket::SENSOR_CONFIG_REQ, CmdPacket::STATUS_REQ}));
    EXPECT_EQ(sim.receivedCommands("127.0.40.4")[3].payload, sensorConfig.SerializeAsString());
    EXPECT_EQ(sim.openConnections("127.0.40.4"), 1u);
}
