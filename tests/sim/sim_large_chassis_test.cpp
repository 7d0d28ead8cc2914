// Chassis with many cards: the complete status keeps within a frame by sending card states,
// fields and LEDs in messages of their own; the stated sensor limits; and the clock epoch.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "chassis_messages.h"
#include "chassis_simulator.h"
#include "chassis_state.h"
#include "frame_codec.h"
#include "tls_test_client.h"

using namespace std::chrono_literals;
using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;
using sim_test::ReceivedFrame;
using sim_test::TlsTestClient;

namespace {

using Ids = std::vector<std::uint32_t>;

SimConfig largeConfig(const std::string& address, std::uint32_t sensors,
                      std::vector<std::uint32_t> types) {
    SimConfig config;
    config.addresses = {address};
    config.slots = sensors;
    config.sensors = sensors;
    config.dataTypes = std::move(types);
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    return config;
}

Ids oneTo(std::uint32_t count) {
    Ids ids;
    for (std::uint32_t id = 1; id <= count; ++id) {
        ids.push_back(id);
    }
    return ids;
}

// Sensor ids of the card entries of `type` in `status`, in order.
Ids cardIds(const StatusPacket& status, StatusPacket::EnumStatusType type) {
    Ids ids;
    switch (type) {
        case StatusPacket::SENSOR_STATE:
            for (const auto& entry : status.sensor_state()) {
                ids.push_back(entry.sensor_id());
            }
            break;
        case StatusPacket::SENSOR_FIELD:
            for (const auto& entry : status.sensor_field()) {
                ids.push_back(entry.sensor_id());
            }
            break;
        case StatusPacket::SENSOR_LED:
            for (const auto& entry : status.sensor_led()) {
                ids.push_back(entry.sensor_id());
            }
            break;
        default:
            break;
    }
    return ids;
}

// What the viewer learns from a complete status and the messages that come with it, checked
// for the frame limit and for parts that would mislead it.
void expectWholeChassis(const std::vector<ReceivedFrame>& frames, const SimConfig& config) {
    ASSERT_FALSE(frames.empty());
    std::map<StatusPacket::EnumStatusType, Ids> entries;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(frames[i].payload.size(), MAX_RECEIVE_PAYLOAD);
        const auto status = sim_test::asStatusPacket(frames[i]);
        ASSERT_TRUE(status);  // every required field
        if (i > 0) {
            // A later sensor_config would replace the channel set, a sensor_status re-add cards.
            EXPECT_EQ(status->sensor_config_size(), 0);
            EXPECT_EQ(status->sensor_status_size(), 0);
            EXPECT_FALSE(status->has_system_status());
        }
        for (const auto type :
             {StatusPacket::SENSOR_STATE, StatusPacket::SENSOR_FIELD, StatusPacket::SENSOR_LED}) {
            const Ids ids = cardIds(*status, type);
            if (i > 0 && !ids.empty()) {
                EXPECT_EQ(status->type(), type);
            }
            entries[type].insert(entries[type].end(), ids.begin(), ids.end());
        }
    }
    const StatusPacket complete = *sim_test::asStatusPacket(frames[0]);
    EXPECT_EQ(complete.type(), StatusPacket::COMPLETE_SYSTEM_STATUS);
    EXPECT_EQ(complete.system_status().num_slots(), config.slots);
    EXPECT_TRUE(complete.has_chassis_status());
    Ids cards;
    for (const SensorStatus& card : complete.sensor_status()) {
        cards.push_back(card.sensor_id());
        EXPECT_TRUE(card.sensor_connected());
    }
    EXPECT_EQ(cards, oneTo(config.sensors));
    ASSERT_EQ(complete.sensor_config_size(),
              static_cast<int>(config.sensors * config.dataTypes.size()));
    int n = 0;
    for (const std::uint32_t sensor : oneTo(config.sensors)) {
        for (const std::uint32_t type : config.dataTypes) {
            EXPECT_EQ(complete.sensor_config(n).sensor(), sensor);
            EXPECT_EQ(complete.sensor_config(n).datatype(), type);
            ++n;
        }
    }
    for (const auto& [type, ids] : entries) {
        SCOPED_TRACE(StatusPacket::EnumStatusType_Name(type));
        EXPECT_EQ(ids, oneTo(config.sensors));  // each card once, in order
    }
}

}  // namespace

// 24 cards of two data types, and the largest chassis of a few data type sets (the limits the
// README states): the complete status carries every card and channel, the card entries come
// right after it, and a data packet carries every channel. One card more is refused.
TEST(SimLargeChassis, LargestChassisAreServedWhole) {
    const std::string address = "127.0.48.10";
    struct Case {
        std::uint32_t sensors;
        std::vector<std::uint32_t> types;
        bool atLimit;
    };
    const std::vector<Case> cases = {
        {24, {28, 50}, false},    {34, {28, 50}, true},        {45, {28}, true},
        {27, {28, 50, 14}, true}, {22, {28, 50, 14, 7}, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.sensors) + " x " + testing::PrintToString(test.types));
        const SimConfig config = largeConfig(address, test.sensors, test.types);
        ChassisSimulator sim(config);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        TlsTestClient client;
        ASSERT_TRUE(client.connect(address));

        const auto frames = sim_test::completeStatusWithFollowUps(client);
        expectWholeChassis(frames, config);
        EXPECT_GT(frames.size(), 1u) << "the card entries should not have fit";

        const auto data =
            client.waitFor([](const ReceivedFrame& f) { return f.type == DATA_PACKET; }, 2s);
        ASSERT_TRUE(data);
        EXPECT_LE(data->payload.size(), MAX_RECEIVE_PAYLOAD);
        const auto packet = sim_test::asDataPacket(*data);
        ASSERT_TRUE(packet);
        ASSERT_EQ(packet->data_size(), static_cast<int>(test.sensors * test.types.size()));
        const DataFrame& last = packet->data(packet->data_size() - 1);
        EXPECT_EQ(last.sensor(), static_cast<std::int32_t>(test.sensors));
        EXPECT_EQ(last.val(), chassis_sim::deterministicValue(0, test.sensors, test.types.back(),
                                                              packet->timestamp()));
        sim.stop();

        if (test.atLimit) {
            ChassisSimulator tooLarge(largeConfig(address, test.sensors + 1, test.types));
            EXPECT_FALSE(tooLarge.start(&error));
            EXPECT_NE(error.find("complete status"), std::string::npos) << error;
        }
    }
}

// The card reports on their own: any number of cards is cut into messages that fit a frame,
// states first, then fields, then LEDs, each card once and in order; a small chassis keeps
// them in the complete status.
TEST(SimLargeChassis, CardReportsAreCutToFitFrames) {
    SimConfig config = largeConfig("127.0.48.11", 300, {1});
    chassis_sim::ChassisState state(config, 0);
    for (const std::uint32_t id : oneTo(300)) {
        state.sensor(id).errorFlags = 0xFFFFFFFF;
        state.sensor(id).ledColor = 0xFFFFFFFF;
    }
    const chassis_sim::ChassisMessages messages(config, 0);
    const auto reports = messages.cardReports(state);
    EXPECT_GT(reports.size(), 3u);
    std::vector<StatusPacket::EnumStatusType> order;
    std::map<StatusPacket::EnumStatusType, Ids> entries;
    for (const std::string& payload : reports) {
        EXPECT_LE(payload.size(), MAX_RECEIVE_PAYLOAD);
        StatusPacket status;
        ASSERT_TRUE(status.ParseFromString(payload));
        if (order.empty() || order.back() != status.type()) {
            order.push_back(status.type());
        }
        const Ids ids = cardIds(status, status.type());
        EXPECT_FALSE(ids.empty());
        entries[status.type()].insert(entries[status.type()].end(), ids.begin(), ids.end());
    }
    EXPECT_EQ(order, (std::vector{StatusPacket::SENSOR_STATE, StatusPacket::SENSOR_FIELD,
                                  StatusPacket::SENSOR_LED}));
    for (const auto& [type, ids] : entries) {
        EXPECT_EQ(ids, oneTo(300));
    }

    const Ids some = {7, 3, 250};
    const auto states = messages.sensorStates(state, some);
    ASSERT_EQ(states.size(), 1u);
    StatusPacket status;
    ASSERT_TRUE(status.ParseFromString(states[0]));
    EXPECT_EQ(cardIds(status, StatusPacket::SENSOR_STATE), some);
    EXPECT_EQ(status.sensor_state(0).error_flags(), 0xFFFFFFFFu);

    SimConfig small = largeConfig("127.0.48.11", 3, {28, 50});
    const chassis_sim::ChassisState smallState(small, 0);
    const auto complete = chassis_sim::ChassisMessages(small, 0).completeStatus(smallState);
    ASSERT_EQ(complete.size(), 1u);
    ASSERT_TRUE(status.ParseFromString(complete[0]));
    EXPECT_EQ(status.sensor_state_size(), 3);
    EXPECT_EQ(status.sensor_field_size(), 3);
    EXPECT_EQ(status.sensor_led_size(), 3);
}

// Timestamp t is due at the epoch plus t milliseconds; the epoch is Unix wall-clock time, so
// epoch + current timestamp is the wall clock now, give or take rounding.
TEST(SimLargeChassis, EpochPlusTimestampIsTheWallClock) {
    ChassisSimulator sim(largeConfig("127.0.48.12", 1, {28}));
    ASSERT_TRUE(sim.start());
    const auto unixMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::int64_t before = unixMs();
    const std::int64_t due = sim.epochUnixMs() + sim.currentTimestamp();
    const std::int64_t after = unixMs();
    EXPECT_GE(due, before - 2);
    EXPECT_LE(due, after + 1);
}
