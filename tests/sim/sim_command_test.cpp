// Commands that change a chassis or get a reply: CONFIG_LIST, CLOSED_LOOP_REQ, DEV_MODE_REQ and
// the register accesses.
#include <gtest/gtest.h>

#include <algorithm>

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

struct Channel {
    std::uint32_t sensor;
    std::uint32_t datatype;
    std::uint32_t freq;
    bool operator==(const Channel&) const = default;
};

using Layout = std::vector<std::pair<std::int32_t, std::int32_t>>;  // (sensor, data type)

SimConfig deterministicConfig(std::vector<std::string> addresses) {
    SimConfig config;
    config.addresses = std::move(addresses);
    config.mode = chassis_sim::SignalMode::Deterministic;
    config.log = false;
    return config;
}

std::string configList(const std::vector<Channel>& entries) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::CONFIG_LIST);
    for (const Channel& entry : entries) {
        ConfigMessage* message = packet.add_config_list();
        message->set_sensor_id(entry.sensor);
        message->set_datatype(entry.datatype);
        message->set_freq(entry.freq);
    }
    return packet.SerializeAsString();
}

std::vector<Channel> channelsOf(const StatusPacket& status) {
    std::vector<Channel> channels;
    for (const SensorConfig& entry : status.sensor_config()) {
        channels.push_back({entry.sensor(), entry.datatype(), entry.freq()});
    }
    return channels;
}

Layout layoutOf(const std::vector<Channel>& channels) {
    Layout layout;
    for (const Channel& c : channels) {
        layout.emplace_back(static_cast<std::int32_t>(c.sensor),
                            static_cast<std::int32_t>(c.datatype));
    }
    return layout;
}

Layout layoutOf(const DataPacket& packet) {
    Layout layout;
    for (const DataFrame& frame : packet.data()) {
        layout.emplace_back(frame.sensor(), frame.datatype());
    }
    return layout;
}

std::optional<DataPacket> nextData(TlsTestClient& client) {
    const auto frame =
        client.waitFor([](const ReceivedFrame& f) { return f.type == DATA_PACKET; }, 2s);
    return frame ? sim_test::asDataPacket(*frame) : std::nullopt;
}

// Reads up to the SENSOR_CONFIG report: the data packets before it, and the report.
struct Cut {
    std::vector<DataPacket> before;
    std::optional<StatusPacket> report;
};

Cut readUntilReport(TlsTestClient& client) {
    Cut cut;
    while (auto frame = client.nextFrame(5s)) {
        if (auto packet = sim_test::asDataPacket(*frame)) {
            cut.before.push_back(*packet);
        } else if (isStatusOfType(*frame, StatusPacket::SENSOR_CONFIG)) {
            EXPECT_LE(frame->payload.size(), MAX_RECEIVE_PAYLOAD);
            cut.report = sim_test::asStatusPacket(*frame);
            break;
        }
    }
    return cut;
}

std::optional<CmdPacket> nextReply(TlsTestClient& client) {
    const auto frame =
        client.waitFor([](const ReceivedFrame& f) { return f.type == CMD_PACKET; }, 5s);
    return frame ? sim_test::asCmdPacket(*frame) : std::nullopt;
}

}  // namespace

// The viewer's pattern: removals, then the wanted channels. The new set is the chassis', so
// every link switches, each exactly at the report: packets before it carry the old set,
// packets after it the new one; a link made later starts with the new set.
TEST(SimCommands, ConfigListChangesTheChannelSetOfTheChassis) {
    SimConfig config = deterministicConfig({"127.0.45.1"});
    config.slots = 4;
    config.sensors = 3;
    config.dataTypes = {28, 50};
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    TlsTestClient asking;
    TlsTestClient other;
    ASSERT_TRUE(asking.connect("127.0.45.1"));
    ASSERT_TRUE(other.connect("127.0.45.1"));
    ASSERT_TRUE(nextData(asking));
    ASSERT_TRUE(nextData(other));

    CmdPacket list;
    list.ParseFromString(configList({
        {2, 28, 0},     // removed
        {2, 50, 0},     // removed
        {2, 7, 500},    // added to a sensor that has no channel left
        {1, 50, 250},   // rate changed in place
        {3, 14, 1000},  // added after the sensor's other channels
        {0, 28, 1000},  // sensor 0: ignored
        {4, 28, 1000},  // beyond the cards: ignored
        {1, 99, 0},     // removing what is not there changes nothing
    }));
    list.add_config_list()->set_sensor_id(1);  // incomplete entry: ignored
    ASSERT_TRUE(asking.sendFrame(CMD_PACKET, list.SerializeAsString()));

    const std::vector<Channel> oldSet = {{1, 28, 1000}, {1, 50, 1000}, {2, 28, 1000},
                                         {2, 50, 1000}, {3, 28, 1000}, {3, 50, 1000}};
    const std::vector<Channel> newSet = {{1, 28, 1000}, {1, 50, 250},  {2, 7, 500},
                                         {3, 28, 1000}, {3, 50, 1000}, {3, 14, 1000}};
    for (TlsTestClient* client : {&asking, &other}) {
        SCOPED_TRACE(client == &asking ? "asking link" : "other link");
        const Cut cut = readUntilReport(*client);
        ASSERT_TRUE(cut.report);  // with every required field
        EXPECT_EQ(cut.report->chassis_name(), "127.0.45.1:7777");
        EXPECT_EQ(channelsOf(*cut.report), newSet);
        for (const SensorConfig& entry : cut.report->sensor_config()) {
            const float expected = entry.datatype() == 28   ? 1e-15f
                                   : entry.datatype() == 14 ? 1e-13f
                                                            : 1e-4f;
            EXPECT_EQ(entry.calibration(), expected) << entry.datatype();
        }
        for (const DataPacket& packet : cut.before) {
            ASSERT_EQ(layoutOf(packet), layoutOf(oldSet)) << "at " << packet.timestamp();
        }
        std::optional<std::uint32_t> last;
        if (!cut.before.empty()) {
            last = cut.before.back().timestamp();
        }
        for (int n = 0; n < 30; ++n) {
            const auto packet = nextData(*client);
            ASSERT_TRUE(packet);
            ASSERT_EQ(layoutOf(*packet), layoutOf(newSet)) << "at " << packet->timestamp();
            if (last) {
                EXPECT_EQ(packet->timestamp(), *last + 1);  // no gap at the switch
            }
            last = packet->timestamp();
            for (const DataFrame& frame : packet->data()) {
                EXPECT_EQ(frame.val(), chassis_sim::deterministicValue(
                                           0, static_cast<std::uint32_t>(frame.sensor()),
                                           static_cast<std::uint32_t>(frame.datatype()), *last));
            }
        }
    }

    TlsTestClient later;
    ASSERT_TRUE(later.connect("127.0.45.1"));
    const auto first = nextData(later);
    ASSERT_TRUE(first);
    EXPECT_EQ(layoutOf(*first), layoutOf(newSet));
    const auto complete = requestStatus(later, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                        StatusPacket::COMPLETE_SYSTEM_STATUS);
    ASSERT_TRUE(complete);
    EXPECT_EQ(channelsOf(*complete), newSet);
    EXPECT_EQ(complete->sensor_status_size(), 3);  // the cards stay, channels or not
}

// Additions beyond the 2048-byte packet are refused one by one, the rest of the list still
// applies, and space that removals free can be taken again.
TEST(SimCommands, ConfigListRefusesAdditionsBeyondTheFrameLimit) {
    SimConfig config = deterministicConfig({"127.0.45.2"});
    config.slots = 1;
    config.sensors = 1;
    config.dataTypes = {200};  // every type here takes two varint bytes, so sizes are uniform
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.45.2"));

    std::vector<Channel> additions;
    for (std::uint32_t type = 201; type <= 330; ++type) {
        additions.push_back({1, type, 1000});
    }
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, configList(additions)));
    const Cut grown = readUntilReport(client);
    ASSERT_TRUE(grown.report);
    const std::vector<Channel> kept = channelsOf(*grown.report);
    ASSERT_GT(kept.size(), 1u);
    ASSERT_LT(kept.size(), additions.size() + 1) << "nothing was refused";

    // What was kept is the longest prefix that fits.
    SimConfig shape = config;
    shape.dataTypes.clear();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].datatype, 200 + i);
        shape.dataTypes.push_back(static_cast<std::uint32_t>(200 + i));
    }
    EXPECT_LE(chassis_sim::worstCaseDataPacketSize(shape), MAX_RECEIVE_PAYLOAD);
    shape.dataTypes.push_back(static_cast<std::uint32_t>(200 + kept.size()));
    EXPECT_GT(chassis_sim::worstCaseDataPacketSize(shape), MAX_RECEIVE_PAYLOAD);
    const auto full =
        client.waitFor([](const ReceivedFrame& f) { return f.type == DATA_PACKET; }, 2s);
    ASSERT_TRUE(full);
    EXPECT_LE(full->payload.size(), MAX_RECEIVE_PAYLOAD);
    EXPECT_EQ(sim_test::asDataPacket(*full)->data_size(), static_cast<int>(kept.size()));

    // At the limit one more is refused, but after a removal one of the same size fits.
    ASSERT_TRUE(
        client.sendFrame(CMD_PACKET, configList({{1, 900, 1000}, {1, 200, 0}, {1, 901, 1000}})));
    const Cut swapped = readUntilReport(client);
    ASSERT_TRUE(swapped.report);
    std::vector<Channel> expected(kept.begin() + 1, kept.end());
    expected.push_back({1, 901, 1000});
    EXPECT_EQ(channelsOf(*swapped.report), expected);
}

// The closed-loop state belongs to the chassis: every link of it gets the confirming STATUS,
// later statuses report it, and other chassis keep theirs.
TEST(SimCommands, ClosedLoopRequestIsConfirmedInStatuses) {
    ChassisSimulator sim(deterministicConfig({"127.0.45.3", "127.0.45.4"}));
    ASSERT_TRUE(sim.start());
    TlsTestClient asking;
    TlsTestClient sameChassis;
    TlsTestClient otherChassis;
    ASSERT_TRUE(asking.connect("127.0.45.3"));
    ASSERT_TRUE(sameChassis.connect("127.0.45.3"));
    ASSERT_TRUE(otherChassis.connect("127.0.45.4"));

    for (const bool on : {true, false}) {
        SCOPED_TRACE(on);
        CmdPacket packet;
        packet.set_cmd(CmdPacket::CLOSED_LOOP_REQ);
        packet.set_closed_loop(on);
        ASSERT_TRUE(asking.sendFrame(CMD_PACKET, packet.SerializeAsString()));
        for (TlsTestClient* client : {&asking, &sameChassis}) {
            const auto frame = client->waitFor(
                [](const ReceivedFrame& f) { return isStatusOfType(f, StatusPacket::STATUS); }, 5s);
            ASSERT_TRUE(frame);
            const auto status = sim_test::asStatusPacket(*frame);
            ASSERT_TRUE(status->has_chassis_status());
            ASSERT_TRUE(status->chassis_status().has_closed_loop());
            EXPECT_EQ(status->chassis_status().closed_loop(), on);
        }
        const auto keepAlive = requestStatus(asking, CmdPacket::STATUS_REQ, StatusPacket::STATUS);
        ASSERT_TRUE(keepAlive);
        EXPECT_EQ(keepAlive->chassis_status().closed_loop(), on);
        const auto complete = requestStatus(asking, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                            StatusPacket::COMPLETE_SYSTEM_STATUS);
        ASSERT_TRUE(complete);
        EXPECT_EQ(complete->chassis_status().closed_loop(), on);
        const auto untouched = requestStatus(otherChassis, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                             StatusPacket::COMPLETE_SYSTEM_STATUS);
        ASSERT_TRUE(untouched);
        EXPECT_FALSE(untouched->chassis_status().closed_loop());
    }
}

TEST(SimCommands, DevModeRequestIsAnsweredWithValidityAndTheRequestedState) {
    SimConfig config = deterministicConfig({"127.0.45.5"});
    ChassisSimulator strict(config);  // password "dev"
    config.addresses = {"127.0.45.6"};
    config.devPassword.clear();  // any non-empty password
    ChassisSimulator open(config);
    ASSERT_TRUE(strict.start());
    ASSERT_TRUE(open.start());

    struct Case {
        const char* name;
        const char* address;
        std::optional<bool> enable;  // unset: no dev_mode at all
        std::optional<std::string> password;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"right password", "127.0.45.5", true, "dev", true},
        {"wrong password", "127.0.45.5", true, "Dev", false},
        {"empty password", "127.0.45.5", true, "", false},
        {"no password", "127.0.45.5", true, std::nullopt, false},
        {"switching off", "127.0.45.5", false, std::nullopt, true},
        {"no dev_mode", "127.0.45.5", std::nullopt, std::nullopt, false},
        {"open: any password", "127.0.45.6", true, "letmein", true},
        {"open: still not empty", "127.0.45.6", true, "", false},
    };
    TlsTestClient strictClient;
    TlsTestClient openClient;
    ASSERT_TRUE(strictClient.connect("127.0.45.5"));
    ASSERT_TRUE(openClient.connect("127.0.45.6"));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TlsTestClient& client =
            std::string(test.address) == "127.0.45.5" ? strictClient : openClient;
        CmdPacket packet;
        packet.set_cmd(CmdPacket::DEV_MODE_REQ);
        if (test.enable) {
            packet.mutable_dev_mode()->set_enable(*test.enable);
        }
        if (test.password) {
            packet.mutable_dev_mode()->set_password(*test.password);
        }
        ASSERT_TRUE(client.sendFrame(CMD_PACKET, packet.SerializeAsString()));
        const auto reply = nextReply(client);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->cmd(), CmdPacket::DEV_MODE_REQ);
        ASSERT_TRUE(reply->dev_mode().has_valid() && reply->dev_mode().has_enable());
        EXPECT_EQ(reply->dev_mode().valid(), test.valid);
        EXPECT_EQ(reply->dev_mode().enable(), test.enable.value_or(false));
        EXPECT_FALSE(reply->dev_mode().has_password());
    }
}

// Each card has a register file: a write is kept and echoed, a read reports the written value
// or, for a register never written, 65536 * sensor + register. A slot without a card is
// answered with 0 and keeps nothing. Commands that only get recorded, or lack what they would
// act on, cause no frame at all.
TEST(SimCommands, RegisterAccessesAreAnsweredAndOtherCommandsOnlyRecorded) {
    ChassisSimulator sim(deterministicConfig({"127.0.45.7"}));  // 16 cards
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.45.7"));

    constexpr auto WRITE = CmdPacket::RAW_CMD;
    constexpr auto READ = CmdPacket::ONE_TIME_READ_REQ;
    struct Case {
        const char* name;
        CmdPacket::EnumCmdType cmd;
        std::uint32_t sensor, reg, data, expected;
    };
    const std::vector<Case> cases = {
        {"never written", READ, 3, 0x1234, 0, 0x00031234},
        {"write", WRITE, 3, 0x1234, 0xCAFE, 0xCAFE},
        {"read back", READ, 3, 0x1234, 0, 0xCAFE},
        {"neighbour register untouched", READ, 3, 0x1235, 0, 0x00031235},
        {"same register of another card untouched", READ, 5, 0x1234, 0, 0x00051234},
        {"the read's data field is ignored", READ, 3, 0x1234, 7, 0xCAFE},
        {"overwrite with 0", WRITE, 3, 0x1234, 0, 0},
        {"0 is kept, not the default", READ, 3, 0x1234, 0, 0},
        {"largest values", WRITE, 16, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
        {"largest values read back", READ, 16, 0xFFFFFFFF, 0, 0xFFFFFFFF},
        {"slot 0 write", WRITE, 0, 0, 0xFFFFFFFF, 0},
        {"slot 0 read", READ, 0, 0, 0, 0},
        {"empty slot write", WRITE, 17, 0x20, 5, 0},
        {"empty slot not kept", READ, 17, 0x20, 0, 0},
        {"far beyond the slots", READ, 0x10002, 0x30004, 0, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        CmdPacket packet;
        packet.set_cmd(test.cmd);
        RawCommand* raw = packet.mutable_raw_cmd();
        raw->set_all_sensors(false);
        raw->set_sensor_num(test.sensor);
        raw->set_register_address(test.reg);
        raw->set_data(test.data);
        ASSERT_TRUE(client.sendFrame(CMD_PACKET, packet.SerializeAsString()));
        const auto reply = nextReply(client);  // decodes with every required field
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->cmd(), CmdPacket::RAW_CMD_RESP);
        ASSERT_TRUE(reply->has_raw_cmd());
        EXPECT_FALSE(reply->raw_cmd().all_sensors());
        EXPECT_EQ(reply->raw_cmd().sensor_num(), test.sensor);
        EXPECT_EQ(reply->raw_cmd().register_address(), test.reg);
        EXPECT_EQ(reply->raw_cmd().data(), test.expected);
    }
    EXPECT_EQ(chassis_sim::registerReadValue(3, 0x1234), 0x00031234u);
    EXPECT_EQ(chassis_sim::registerReadValue(0x10002, 0x30004), 0x00020004u);

    // The register file belongs to the chassis, not to the link.
    TlsTestClient later;
    ASSERT_TRUE(later.connect("127.0.45.7"));
    CmdPacket read;
    read.set_cmd(READ);
    read.mutable_raw_cmd()->set_all_sensors(false);
    read.mutable_raw_cmd()->set_sensor_num(16);
    read.mutable_raw_cmd()->set_register_address(0xFFFFFFFF);
    read.mutable_raw_cmd()->set_data(0);
    ASSERT_TRUE(later.sendFrame(CMD_PACKET, read.SerializeAsString()));
    const auto kept = nextReply(later);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->raw_cmd().data(), 0xFFFFFFFFu);

    const std::vector<CmdPacket::EnumCmdType> recordedOnly = {
        CmdPacket::SYNC_CMD_REQ, CmdPacket::LOGIC_REQ, CmdPacket::LOGIC_INTERRUPT_REQ,
        CmdPacket::UPDATE, CmdPacket::UPDATE_COMMIT};
    for (const auto cmd : recordedOnly) {
        ASSERT_TRUE(client.sendCommand(cmd));
    }
    ASSERT_TRUE(client.sendCommand(CmdPacket::STATUS_REQ));
    const auto next =
        client.waitFor([](const ReceivedFrame& f) { return f.type != DATA_PACKET; }, 5s);
    ASSERT_TRUE(next);
    EXPECT_TRUE(isStatusOfType(*next, StatusPacket::STATUS));

    std::vector<int> recorded;
    for (const auto& command : sim.receivedCommands("127.0.45.7")) {
        recorded.push_back(command.cmd);
    }
    std::vector<int> expected(cases.size());
    std::transform(cases.begin(), cases.end(), expected.begin(),
                   [](const Case& c) { return static_cast<int>(c.cmd); });
    expected.push_back(READ);  // from the later link
    expected.insert(expected.end(), recordedOnly.begin(), recordedOnly.end());
    expected.push_back(CmdPacket::STATUS_REQ);
    EXPECT_EQ(recorded, expected);
}
