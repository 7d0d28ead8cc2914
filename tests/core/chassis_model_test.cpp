#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chassis.h"
#include "network_connection.h"
#include "sensor_card.h"

namespace {

struct Output {
    std::string out;
    std::string err;
};

// Runs `action` and returns what it wrote to standard output and standard error.
template <typename Action>
Output captured(Action&& action) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    Output output;
    output.out = testing::internal::GetCapturedStdout();
    output.err = testing::internal::GetCapturedStderr();
    return output;
}

Chassis chassisWithSlots(std::uint32_t count) {
    Chassis chassis("127.0.5.5:7777");
    captured([&] { chassis.setSlots(count); });
    return chassis;
}

std::shared_ptr<Chassis> chassisNumbered(const std::string& name, std::int32_t num,
                                         std::int32_t total) {
    auto chassis = std::make_shared<Chassis>(name);
    captured([&] { chassis->setNum(num, total); });
    return chassis;
}

TEST(ChassisModel, IpIsFirstNonEmptyPieceOfName) {
    struct Case {
        std::string name;
        std::string ip;
    };
    const std::vector<Case> cases = {
        {"127.0.5.5:7777", "127.0.5.5"},
        {"name", "name"},
        {":7777", "7777"},
        {"::host:1", "host"},
        {"a::b", "a"},
        {"::", ""},
        {":", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        const Chassis chassis(c.name);
        EXPECT_EQ(chassis.getName(), c.name);
        EXPECT_EQ(chassis.getIP(), c.ip);
    }
}

TEST(ChassisModel, SetSlotsSizesOnceAndRebuildsEmptyOnChange) {
    Chassis chassis("127.0.5.5:7777");

    Output output = captured([&] { chassis.setSlots(16); });
    EXPECT_EQ(output.out, "Settings 16 slots\n");
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(chassis.getNumSlots(), 16u);

    std::shared_ptr<SensorCard> first;
    captured([&] {
        first = chassis.addSensorCard(1, "card-1");
        chassis.addSensorCard(16, "card-16");
    });
    ASSERT_NE(first, nullptr);

    output = captured([&] { chassis.setSlots(16); });
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(chassis.getSensor(1), first);
    EXPECT_EQ(chassis.getSensors().size(), 2u);

    // A changed count drops every card and sizes the slots anew in the same call.
    output = captured([&] { chassis.setSlots(8); });
    EXPECT_EQ(output.err, "Previous slot count not same as new\n");
    EXPECT_EQ(output.out, "Settings 8 slots\n");
    EXPECT_EQ(chassis.getNumSlots(), 8u);
    EXPECT_TRUE(chassis.getSensors().empty());
    EXPECT_EQ(chassis.getSensor(1), nullptr);

    output = captured([&] { chassis.setSlots(8); });
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(chassis.getNumSlots(), 8u);

    // The next sensor status recreates the cards in the rebuilt slots.
    std::shared_ptr<SensorCard> again;
    output = captured([&] { again = chassis.addSensorCard(1, "card-1"); });
    EXPECT_EQ(output.err, "");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, first);
}

TEST(ChassisModel, AddSensorCardRefusesSlotsOutsideTheList) {
    struct Case {
        std::uint32_t slots;
        std::uint32_t slot;
    };
    const std::vector<Case> cases = {
        {4, 0},
        {4, 5},
        {4, 0xFFFFFFFFu},
        {0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("slots " + std::to_string(c.slots) + " slot " + std::to_string(c.slot));
        Chassis chassis = chassisWithSlots(c.slots);
        std::shared_ptr<SensorCard> card;
        const Output output = captured([&] { card = chassis.addSensorCard(c.slot, "card"); });
        EXPECT_EQ(card, nullptr);
        EXPECT_EQ(output.err, "Unable to set sensor ID " + std::to_string(c.slot) +
                                  " with number of slots " + std::to_string(c.slots) + "\n");
        EXPECT_EQ(output.out, "");
        EXPECT_TRUE(chassis.getSensors().empty());
        EXPECT_EQ(chassis.getNumSlots(), c.slots);
    }
}

TEST(ChassisModel, AddSensorCardKeepsSameSerialAndReplacesOnNewSerial) {
    Chassis chassis = chassisWithSlots(4);

    std::shared_ptr<SensorCard> card;
    Output output = captured([&] { card = chassis.addSensorCard(4, "A1"); });
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(card->getId(), 4u);
    EXPECT_EQ(card->getSerialShort(), "A1");
    card->updateChannels({Channel(4, 28)});
    card->setLed(1, 2);

    std::shared_ptr<SensorCard> same;
    output = captured([&] { same = chassis.addSensorCard(4, "A1"); });
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(same, card);
    EXPECT_EQ(same->getNumChannels(), 1u);

    std::shared_ptr<SensorCard> fresh;
    output = captured([&] { fresh = chassis.addSensorCard(4, "B2"); });
    EXPECT_EQ(output.err, "New serial of B2 does not match existing A1\n");
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, card);
    EXPECT_EQ(chassis.getSensor(4), fresh);
    EXPECT_EQ(fresh->getId(), 4u);
    EXPECT_EQ(fresh->getSerialShort(), "B2");
    EXPECT_EQ(fresh->getNumChannels(), 0u);
    EXPECT_FALSE(fresh->hasChannel(28));
    EXPECT_EQ(fresh->getLedBlinkState(), 0u);
    EXPECT_EQ(fresh->getLedColor(), 0u);
    // The dropped card is not touched; whoever still holds it sees its old state.
    EXPECT_EQ(card->getSerialShort(), "A1");

    // An absent card serial is the empty string, which differs from an existing serial.
    output = captured([&] { chassis.addSensorCard(4, ""); });
    EXPECT_EQ(output.err, "New serial of  does not match existing B2\n");
    EXPECT_EQ(chassis.getSensor(4)->getSerialShort(), "");
}

TEST(ChassisModel, SensorsInSlotOrderAndLookupBounds) {
    Chassis chassis = chassisWithSlots(4);
    EXPECT_TRUE(chassis.getSensors().empty());
    captured([&] {
        chassis.addSensorCard(3, "C");
        chassis.addSensorCard(1, "A");
        chassis.addSensorCard(4, "D");
    });

    std::vector<std::uint32_t> ids;
    for (const auto& card : chassis.getSensors()) {
        ASSERT_NE(card, nullptr);
        ids.push_back(card->getId());
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 3, 4}));

    struct Case {
        std::uint32_t slot;
        const char* serial;  // nullptr: no card
    };
    const std::vector<Case> cases = {
        {0, nullptr}, {1, "A"},     {2, nullptr},           {3, "C"},
        {4, "D"},     {5, nullptr}, {0xFFFFFFFFu, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("slot " + std::to_string(c.slot));
        const auto card = chassis.getSensor(c.slot);
        if (c.serial == nullptr) {
            EXPECT_EQ(card, nullptr);
        } else {
            ASSERT_NE(card, nullptr);
            EXPECT_EQ(card->getId(), c.slot);
            EXPECT_EQ(card->getSerialShort(), c.serial);
        }
    }
}

TEST(ChassisModel, SetNumSizesAgentSlotsOnlyOnAHost) {
    struct Case {
        std::int32_t num;
        std::int32_t total;
        bool announced;
        std::size_t agentSlots;
    };
    const std::vector<Case> cases = {
        {1, 3, true, 2},  {1, 2, true, 1},  {1, 1, false, 0},
        {2, 3, false, 0}, {0, 0, false, 0}, {1, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("num " + std::to_string(c.num) + " total " + std::to_string(c.total));
        Chassis chassis("host:7777");
        const Output output = captured([&] { chassis.setNum(c.num, c.total); });
        EXPECT_EQ(output.out, c.announced ? "Total number of devices changed to " +
                                                std::to_string(c.total) + " for host:7777\n"
                                          : "");
        EXPECT_EQ(output.err, "");
        EXPECT_EQ(chassis.getNum(), c.num);
        EXPECT_EQ(chassis.getTotal(), c.total);
        EXPECT_EQ(chassis.getNameList().size(), 1 + c.agentSlots);
    }
}

TEST(ChassisModel, SetAgentLinksByNumberAndSetNumChangeUnlinks) {
    const auto host = chassisNumbered("127.0.5.1:7777", 1, 3);
    const auto second = chassisNumbered("127.0.5.2:7777", 2, 3);
    const auto third = chassisNumbered("127.0.5.3:7777", 3, 3);
    const auto beyond = chassisNumbered("127.0.5.4:7777", 4, 3);
    const auto another = chassisNumbered("127.0.5.5:7777", 1, 3);
    const auto unnumbered = std::make_shared<Chassis>("127.0.5.6:7777");

    for (const auto& agent : {beyond, another, unnumbered}) {
        host->setAgent(agent);
    }
    host->setAgent(nullptr);
    EXPECT_EQ(host->getNameList(), (std::vector<std::string>{"127.0.5.1:7777", "", ""}));

    host->setAgent(third);
    host->setAgent(second);
    EXPECT_EQ(host->getNameList(),
              (std::vector<std::string>{"127.0.5.1:7777", "127.0.5.2:7777", "127.0.5.3:7777"}));

    // The same numbers again keep the links.
    Output output = captured([&] { host->setNum(1, 3); });
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(host->getNameList().size(), 3u);
    EXPECT_EQ(host->getNameList()[2], "127.0.5.3:7777");

    // A new total rebuilds the agent slots empty.
    output = captured([&] { host->setNum(1, 2); });
    EXPECT_EQ(output.out, "Total number of devices changed to 2 for 127.0.5.1:7777\n");
    EXPECT_EQ(host->getNameList(), (std::vector<std::string>{"127.0.5.1:7777", ""}));

    host->setAgent(second);
    ASSERT_EQ(host->getNameList()[1], "127.0.5.2:7777");
    // No longer the host: no agent slots at all, so agents are ignored.
    output = captured([&] { host->setNum(2, 2); });
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(host->getNameList(), (std::vector<std::string>{"127.0.5.1:7777"}));
    host->setAgent(second);
    EXPECT_EQ(host->getNameList().size(), 1u);
}

TEST(ChassisModel, DeviceListsWithFilledAndEmptyAgentSlot) {
    const auto host = chassisNumbered("127.0.5.1:7777", 1, 3);
    const auto agent = chassisNumbered("127.0.5.2:7777", 2, 3);
    host->setAgent(agent);

    EXPECT_EQ(host->getNameList(),
              (std::vector<std::string>{"127.0.5.1:7777", "127.0.5.2:7777", ""}));
    EXPECT_EQ(host->getIpList(), (std::vector<std::string>{"127.0.5.1", "127.0.5.2", ""}));
    EXPECT_EQ(host->getDeviceList(), (std::vector<DeviceInfoStruct>{
                                         DeviceInfoStruct("127.0.5.1:7777", "127.0.5.1"),
                                         DeviceInfoStruct("127.0.5.2:7777", "127.0.5.2"),
                                         DeviceInfoStruct("", ""),
                                     }));

    // A chassis outside a system lists itself only.
    const Chassis single("127.0.5.9:7777");
    EXPECT_EQ(single.getDeviceList(),
              (std::vector<DeviceInfoStruct>{DeviceInfoStruct("127.0.5.9:7777", "127.0.5.9")}));
    EXPECT_EQ(single.getIpList(), (std::vector<std::string>{"127.0.5.9"}));
}

TEST(ChassisModel, ConnectionClearsCompleteStatusMark) {
    Chassis chassis("127.0.0.1:7777");
    EXPECT_FALSE(chassis.isConnected());
    chassis.setCompleteSystemStatus();

    // Never started: only the stored object matters, not the state of its link.
    auto connection = std::make_shared<NetworkConnection>("127.0.0.1", 7777, 0, nullptr);
    chassis.setConnection(connection);
    EXPECT_TRUE(chassis.isConnected());
    EXPECT_EQ(chassis.getConnection(), connection);
    EXPECT_FALSE(chassis.hasCompleteSystemStatus());

    chassis.setCompleteSystemStatus();
    chassis.resetConnection();
    EXPECT_FALSE(chassis.hasCompleteSystemStatus());
    EXPECT_TRUE(chassis.isConnected());

    chassis.setCompleteSystemStatus();
    chassis.setConnection(nullptr);
    EXPECT_FALSE(chassis.isConnected());
    EXPECT_FALSE(chassis.hasCompleteSystemStatus());
}

// Chassis-level and card channels follow the same rules.
template <typename Holder>
void checkUpdateChannels(Holder& holder, std::uint32_t sensorId) {
    Channel slow(sensorId, 28);
    slow.freq = 500;
    slow.calibration = 0.5f;
    const std::vector<Channel> first = {Channel(sensorId, 50), slow, Channel(sensorId, 28)};
    holder.updateChannels(first);
    EXPECT_EQ(holder.getNumChannels(), 3u);
    EXPECT_EQ(holder.getChannels(), first);
    EXPECT_TRUE(holder.hasChannel(28));
    EXPECT_TRUE(holder.hasChannel(50));
    EXPECT_FALSE(holder.hasChannel(0));

    // A new list replaces the old one completely, types included.
    holder.updateChannels({Channel(sensorId, 0)});
    EXPECT_EQ(holder.getChannels(), (std::vector<Channel>{Channel(sensorId, 0)}));
    EXPECT_TRUE(holder.hasChannel(0));
    EXPECT_FALSE(holder.hasChannel(28));
    EXPECT_FALSE(holder.hasChannel(50));

    holder.updateChannels({});
    EXPECT_EQ(holder.getNumChannels(), 0u);
    EXPECT_TRUE(holder.getChannels().empty());
    EXPECT_FALSE(holder.hasChannel(0));
}

TEST(ChassisModel, UpdateChannelsReplacesListAndTypes) {
    Chassis chassis("127.0.5.5:7777");
    {
        SCOPED_TRACE("chassis");
        checkUpdateChannels(chassis, 0);
    }
    SensorCard card(2, "S2");
    {
        SCOPED_TRACE("card");
        checkUpdateChannels(card, 2);
    }
}

TEST(SensorCardModel, FieldComponentsStoreValueOnlyWhenKnown) {
    SensorCard card(1, "S1");
    card.setFieldX(true, 1.5f);
    card.setFieldY(false, 2.5f);
    card.setFieldZ(true, -3.0f);
    EXPECT_TRUE(card.hasFieldX());
    EXPECT_EQ(card.getFieldX(), 1.5f);
    EXPECT_FALSE(card.hasFieldY());
    EXPECT_EQ(card.getFieldY(), 0.0f);
    EXPECT_TRUE(card.hasFieldZ());
    EXPECT_EQ(card.getFieldZ(), -3.0f);

    card.setFieldX(false, 7.0f);
    EXPECT_FALSE(card.hasFieldX());
    EXPECT_EQ(card.getFieldX(), 0.0f);
}

TEST(SensorCardModel, DisconnectClearsSensorAndFields) {
    SensorCard card(3, "S3");
    card.setSensorConnected("Z-100");
    card.setFieldX(true, 1.0f);
    card.setFieldY(true, 2.0f);
    card.setFieldZ(true, 3.0f);
    card.setLed(1, 4);
    card.updateChannels({Channel(3, 28)});
    ASSERT_TRUE(card.isSensorConnected());
    ASSERT_EQ(card.getSensorSerial(), "Z-100");

    card.setSensorDisconnected();
    EXPECT_FALSE(card.isSensorConnected());
    EXPECT_EQ(card.getSensorSerial(), "");
    EXPECT_FALSE(card.hasFieldX());
    EXPECT_FALSE(card.hasFieldY());
    EXPECT_FALSE(card.hasFieldZ());
    EXPECT_EQ(card.getFieldX(), 0.0f);
    EXPECT_EQ(card.getFieldY(), 0.0f);
    EXPECT_EQ(card.getFieldZ(), 0.0f);
    // The card itself is still there: its LED and channels stay.
    EXPECT_EQ(card.getLedBlinkState(), 1u);
    EXPECT_EQ(card.getLedColor(), 4u);
    EXPECT_TRUE(card.hasChannel(28));

    card.setSensorConnected("Z-200");
    EXPECT_TRUE(card.isSensorConnected());
    EXPECT_EQ(card.getSensorSerial(), "Z-200");
}

}  // namespace
