#include <gtest/gtest.h>

#include <string>

#include "discovery.pb.h"
#include "net-protocol.pb.h"

namespace {

TEST(WireMessages, StatusRequestIsTwoBytes) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::STATUS_REQ);
    std::string bytes;
    ASSERT_TRUE(packet.SerializePartialToString(&bytes));
    EXPECT_EQ(bytes, std::string("\x08\x02", 2));
}

TEST(WireMessages, PartialSerializeKeepsWhatIsSet) {
    // A packet lacking required fields still encodes; only the set field appears.
    DataPacket packet;
    packet.set_timestamp(5);
    std::string bytes;
    ASSERT_TRUE(packet.SerializePartialToString(&bytes));
    EXPECT_EQ(bytes, std::string("\x08\x05", 2));
}

TEST(WireMessages, MissingRequiredFieldFailsButKeepsDecodedFields) {
    // timestamp 7, num_sensors 1, one frame (sensor 2, datatype 28, val -1); no chassis_name.
    DataPacket source;
    source.set_timestamp(7);
    source.set_num_sensors(1);
    auto* frame = source.add_data();
    frame->set_sensor(2);
    frame->set_datatype(28);
    frame->set_val(-1);
    std::string bytes;
    source.SerializePartialToString(&bytes);

    DataPacket decoded;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(decoded.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(decoded.timestamp(), 7u);
    ASSERT_EQ(decoded.data_size(), 1);
    EXPECT_EQ(decoded.data(0).val(), -1);
    EXPECT_FALSE(decoded.has_chassis_name());
}

TEST(WireMessages, UnknownEnumValueLeavesFieldUnset) {
    // chassis_name "a", type 99 (not a status type), num_sensors 0, version "", status RUNNING.
    const std::string bytes(
        "\x0a\x01"
        "a"
        "\x10\x63\x18\x00\x2a\x00\x48\x02",
        11);
    StatusPacket decoded;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(decoded.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(decoded.has_type());
    EXPECT_EQ(decoded.type(), StatusPacket::STATUS);
    EXPECT_EQ(decoded.chassis_name(), "a");
    EXPECT_EQ(decoded.status(), StatusPacket::RUNNING);
}

TEST(WireMessages, FieldNumbersOnTheWire) {
    // Spot checks of numbers and types that a typo in the schema would break.
    struct Case {
        const char* name;
        std::string (*encode)();
        std::string expected;
    };
    const Case cases[] = {
        {"CmdPacket.num_sync_chassis = 14",
         [] {
             CmdPacket p;
             p.set_cmd(CmdPacket::SYNC_CMD_REQ);
             p.set_num_sync_chassis(0);
             return p.SerializePartialAsString();
         },
         std::string("\x08\x19\x70\x00", 4)},
        {"CmdPacket.closed_loop = 12",
         [] {
             CmdPacket p;
             p.set_cmd(CmdPacket::CLOSED_LOOP_REQ);
             p.set_closed_loop(true);
             return p.SerializePartialAsString();
         },
         std::string("\x08\x16\x60\x01", 4)},
        {"LogicMessage.type = 2, STASIS_OFF = 33",
         [] {
             LogicMessage m;
             m.set_type(LogicMessage::LOGIC_SENSOR_STASIS_OFF);
             return m.SerializePartialAsString();
         },
         std::string("\x10\x21", 2)},
        {"StatusPacket.system_status = 14 with num_slots = 7",
         [] {
             StatusPacket p;
             p.mutable_system_status()->set_num_slots(16);
             return p.SerializePartialAsString();
         },
         std::string("\x72\x02\x38\x10", 4)},
        {"SensorConfig.calibration = 4 is a float",
         [] {
             SensorConfig c;
             c.set_calibration(1.0f);
             return c.SerializePartialAsString();
         },
         std::string("\x25\x00\x00\x80\x3f", 5)},
        {"DeviceInfo.port = 5",
         [] {
             DeviceInfo d;
             d.set_port(7777);
             return d.SerializePartialAsString();
         },
         std::string("\x28\xe1\x3c", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.encode(), c.expected);
    }
}

}  // namespace
