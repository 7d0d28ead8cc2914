// Status messages a chassis sends on its own: sensor errors, field and LED readings, progress;
// and what later complete statuses say about them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "chassis_simulator.h"
#include "frame_codec.h"
#include "tls_test_client.h"

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using sim_test::isStatusOfType;
using sim_test::ReceivedFrame;
using sim_test::requestStatus;
using sim_test::TlsTestClient;

namespace {

SimConfig quietConfig(std::vector<std::string> addresses, std::uint32_t sensors = 3) {
    SimConfig config;
    config.addresses = std::move(addresses);
    config.slots = 4;
    config.sensors = sensors;
    config.log = false;
    return config;
}

// The next status of `type`, checked for the frame limit and the required fields.
std::optional<StatusPacket> nextStatus(TlsTestClient& client, StatusPacket::EnumStatusType type) {
    const auto frame =
        client.waitFor([](const ReceivedFrame& f) { return f.type == STATUS_PACKET; }, 5s);
    if (!frame) {
        return std::nullopt;
    }
    EXPECT_LE(frame->payload.size(), MAX_RECEIVE_PAYLOAD);
    const auto status = sim_test::asStatusPacket(*frame);
    EXPECT_TRUE(status) << "a required field is missing";
    if (status) {
        EXPECT_EQ(status->type(), type);
        EXPECT_EQ(status->status(), StatusPacket::RUNNING);
        EXPECT_FALSE(status->version().empty());
        // A sensor_config entry would make the viewer replace its channel set.
        EXPECT_EQ(status->sensor_config_size(), 0);
    }
    return status;
}

std::optional<StatusPacket> completeStatus(TlsTestClient& client) {
    return requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                         StatusPacket::COMPLETE_SYSTEM_STATUS);
}

// error_flags per sensor id for the entries that carry them.
std::map<std::uint32_t, std::uint32_t> flagsOf(const StatusPacket& status) {
    std::map<std::uint32_t, std::uint32_t> flags;
    for (const SensorState& state : status.sensor_state()) {
        if (state.has_error_flags()) {
            flags[state.sensor_id()] = state.error_flags();
        }
    }
    return flags;
}

}  // namespace

TEST(SimStatusPush, SensorErrorIsSentAndReportedUntilCleared) {
    ChassisSimulator sim(quietConfig({"127.0.46.1", "127.0.46.2"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    TlsTestClient otherChassis;
    ASSERT_TRUE(client.connect("127.0.46.1"));
    ASSERT_TRUE(otherChassis.connect("127.0.46.2"));

    ASSERT_TRUE(sim.setSensorError(2, 0x5, "127.0.46.1"));
    const auto raised = nextStatus(client, StatusPacket::SENSOR_STATE);
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->chassis_name(), "127.0.46.1:7777");
    ASSERT_EQ(raised->sensor_state_size(), 1);
    EXPECT_EQ(raised->sensor_state(0).sensor_id(), 2u);
    EXPECT_EQ(raised->sensor_state(0).state(), SensorState::ERROR);
    EXPECT_EQ(flagsOf(*raised), (std::map<std::uint32_t, std::uint32_t>{{2, 5}}));

    // Every card has a state entry; only the card in error carries flags.
    auto complete = completeStatus(client);
    ASSERT_TRUE(complete);
    ASSERT_EQ(complete->sensor_state_size(), 3);
    for (int i = 0; i < 3; ++i) {
        const SensorState& state = complete->sensor_state(i);
        EXPECT_EQ(state.sensor_id(), static_cast<std::uint32_t>(i + 1));
        EXPECT_EQ(state.state(), i == 1 ? SensorState::ERROR : SensorState::READY);
    }
    EXPECT_EQ(flagsOf(*complete), (std::map<std::uint32_t, std::uint32_t>{{2, 5}}));
    const auto other = completeStatus(otherChassis);
    ASSERT_TRUE(other);
    EXPECT_TRUE(flagsOf(*other).empty());

    // Clearing says 0 explicitly: the viewer reports every entry that carries flags.
    ASSERT_TRUE(sim.setSensorError(2, 0, "127.0.46.1"));
    const auto cleared = nextStatus(client, StatusPacket::SENSOR_STATE);
    ASSERT_TRUE(cleared);
    EXPECT_EQ(flagsOf(*cleared), (std::map<std::uint32_t, std::uint32_t>{{2, 0}}));
    EXPECT_EQ(cleared->sensor_state(0).state(), SensorState::READY);
    complete = completeStatus(client);
    ASSERT_TRUE(complete);
    EXPECT_TRUE(flagsOf(*complete).empty());

    EXPECT_FALSE(sim.setSensorError(0, 1));
    EXPECT_FALSE(sim.setSensorError(4, 1));
    EXPECT_FALSE(sim.setSensorError(1, 1, "127.0.46.9"));
}

TEST(SimStatusPush, FieldLedAndProgressMessagesCarryTheirPartsAndRequiredFields) {
    ChassisSimulator sim(quietConfig({"127.0.46.3"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.46.3"));

    struct Case {
        const char* name;
        std::function<bool()> send;
        StatusPacket::EnumStatusType type;
        std::function<void(const StatusPacket&)> check;
    };
    const std::vector<Case> cases = {
        {"field", [&] { return sim.setSensorField(1, 0.5f, -1.25f, 2.0f); },
         StatusPacket::SENSOR_FIELD,
         [](const StatusPacket& s) {
             ASSERT_EQ(s.sensor_field_size(), 1);
             const SensorField& field = s.sensor_field(0);
             EXPECT_EQ(field.sensor_id(), 1u);
             ASSERT_TRUE(field.has_field_x() && field.has_field_y() && field.has_field_z());
             EXPECT_EQ(field.field_x(), 0.5f);
             EXPECT_EQ(field.field_y(), -1.25f);
             EXPECT_EQ(field.field_z(), 2.0f);
         }},
        {"LED", [&] { return sim.setSensorLed(2, 1, 3); }, StatusPacket::SENSOR_LED,
         [](const StatusPacket& s) {
             ASSERT_EQ(s.sensor_led_size(), 1);
             EXPECT_EQ(s.sensor_led(0).sensor_id(), 2u);
             ASSERT_TRUE(s.sensor_led(0).has_blink_state() && s.sensor_led(0).has_color());
             EXPECT_EQ(s.sensor_led(0).blink_state(), 1u);
             EXPECT_EQ(s.sensor_led(0).color(), 3u);
         }},
        {"progress", [&] { return sim.sendProgress(40, "Flashing sensors"); },
         StatusPacket::PROGRESS,
         [](const StatusPacket& s) {
             ASSERT_TRUE(s.has_progress() && s.has_progress_msg());
             EXPECT_EQ(s.progress(), 40u);
             EXPECT_EQ(s.progress_msg(), "Flashing sensors");
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(test.send());
        const auto status = nextStatus(client, test.type);
        ASSERT_TRUE(status);
        EXPECT_EQ(status->chassis_name(), "127.0.46.3:7777");
        EXPECT_EQ(status->num_sensors(), 3u);
        test.check(*status);
    }

    // The complete status has a field and an LED entry per card: the ones just set, and
    // for the others fixed residual fields within a few nanotesla and a steady LED.
    const auto complete = completeStatus(client);
    ASSERT_TRUE(complete);
    ASSERT_EQ(complete->sensor_field_size(), 3);
    ASSERT_EQ(complete->sensor_led_size(), 3);
    EXPECT_EQ(complete->sensor_field(0).field_y(), -1.25f);
    const SensorField& plain = complete->sensor_field(2);
    EXPECT_EQ(plain.sensor_id(), 3u);
    ASSERT_TRUE(plain.has_field_x() && plain.has_field_y() && plain.has_field_z());
    for (const float component : {plain.field_x(), plain.field_y(), plain.field_z()}) {
        EXPECT_LE(std::fabs(component), 5.0f);
    }
    EXPECT_EQ(complete->sensor_led(1).color(), 3u);
    EXPECT_EQ(complete->sensor_led(0).blink_state(), 0u);
    EXPECT_EQ(complete->sensor_led(0).color(), 1u);

    EXPECT_FALSE(sim.sendProgress(1, std::string(3000, 'x')));  // would not fit a frame
    EXPECT_FALSE(sim.setSensorField(9, 0, 0, 0));
    EXPECT_FALSE(sim.setSensorLed(0, 0, 0));
}

// Large flags and LED codes take more bytes. They are never refused: the complete status keeps
// within 2048 bytes, and what no longer fits it follows in messages of its own.
TEST(SimStatusPush, LargeCardValuesMoveCardEntriesOutOfTheCompleteStatus) {
    SimConfig config = quietConfig({"127.0.46.4"}, 16);
    config.slots = 16;
    config.dataTypes = {28, 50, 14, 7};  // a complete status close to the limit already
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.46.4"));

    // Before: everything in the one message.
    auto frames = sim_test::completeStatusWithFollowUps(client);
    ASSERT_EQ(frames.size(), 1u);
    auto complete = sim_test::asStatusPacket(frames[0]);
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->sensor_state_size(), 16);

    std::map<std::uint32_t, std::uint32_t> raised;
    for (std::uint32_t sensor = 1; sensor <= 16; ++sensor) {
        ASSERT_TRUE(sim.setSensorError(sensor, 0xFFFFFFFF - sensor));
        ASSERT_TRUE(sim.setSensorLed(sensor, 0xFFFFFFFF, 0xFFFFFFFF));
        raised[sensor] = 0xFFFFFFFF - sensor;
    }
    for (int n = 0; n < 32; ++n) {
        ASSERT_TRUE(client.waitFor(
            [](const ReceivedFrame& f) {
                return isStatusOfType(f, StatusPacket::SENSOR_STATE) ||
                       isStatusOfType(f, StatusPacket::SENSOR_LED);
            },
            5s));
    }

    frames = sim_test::completeStatusWithFollowUps(client);
    ASSERT_GT(frames.size(), 1u);
    complete = sim_test::asStatusPacket(frames[0]);
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->sensor_status_size(), 16);
    EXPECT_EQ(complete->sensor_config_size(), 64);
    EXPECT_EQ(
        complete->sensor_state_size() + complete->sensor_field_size() + complete->sensor_led_size(),
        0);
    std::map<std::uint32_t, std::uint32_t> flags;
    std::map<std::uint32_t, std::uint32_t> colours;
    for (const ReceivedFrame& frame : frames) {
        EXPECT_LE(frame.payload.size(), MAX_RECEIVE_PAYLOAD);
        const auto status = sim_test::asStatusPacket(frame);
        ASSERT_TRUE(status);
        flags.merge(flagsOf(*status));
        for (const SensorLed& led : status->sensor_led()) {
            colours[led.sensor_id()] = led.color();
        }
    }
    EXPECT_EQ(flags, raised);
    EXPECT_EQ(colours.size(), 16u);
    EXPECT_EQ(colours[16], 0xFFFFFFFFu);
}
