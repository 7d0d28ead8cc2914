// Commands that run for a while: logic sequences that move cards through states, interrupts,
// and the update flow, each reported by timed status messages.
#include <gtest/gtest.h>

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

using States = std::vector<SensorState::EnumStateType>;
// One SENSOR_STATE message: (sensor id, state, error flags or empty) per entry.
struct Entry {
    std::uint32_t sensor;
    SensorState::EnumStateType state;
    std::optional<std::uint32_t> flags;
};
using Report = std::vector<Entry>;

SimConfig sequenceConfig(const std::string& address, std::chrono::milliseconds step) {
    SimConfig config;
    config.addresses = {address};
    config.slots = 4;
    config.sensors = 4;
    config.dataTypes = {28};
    config.log = false;
    config.stepInterval = step;
    return config;
}

std::string logicRequest(LogicMessage::EnumLogicType type, std::vector<std::uint32_t> sensors) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::LOGIC_REQ);
    LogicMessage* logic = packet.add_logic_req();
    logic->set_type(type);
    for (const std::uint32_t sensor : sensors) {
        logic->add_sensor_list(sensor);
    }
    return packet.SerializeAsString();
}

std::string interruptRequest(std::vector<std::uint32_t> sensors) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::LOGIC_INTERRUPT_REQ);
    LogicInterruptMessage* interrupt = packet.add_logic_interrupt_req();
    interrupt->set_type(1);
    for (const std::uint32_t sensor : sensors) {
        interrupt->add_sensor_list(sensor);
    }
    return packet.SerializeAsString();
}

Report entriesOf(const StatusPacket& status) {
    Report report;
    for (const SensorState& entry : status.sensor_state()) {
        report.push_back(
            {entry.sensor_id(), entry.state(),
             entry.has_error_flags() ? std::optional(entry.error_flags()) : std::nullopt});
    }
    return report;
}

// SENSOR_STATE reports, in arrival order, until `done` holds for what arrived so far.
std::vector<Report> readReports(TlsTestClient& client,
                                const std::function<bool(const std::vector<Report>&)>& done) {
    std::vector<Report> reports;
    while (!done(reports)) {
        const auto frame = client.waitFor(
            [](const ReceivedFrame& f) { return isStatusOfType(f, StatusPacket::SENSOR_STATE); },
            5s);
        if (!frame) {
            ADD_FAILURE() << "no further SENSOR_STATE report";
            break;
        }
        EXPECT_LE(frame->payload.size(), MAX_RECEIVE_PAYLOAD);
        reports.push_back(entriesOf(*sim_test::asStatusPacket(*frame)));
    }
    return reports;
}

// SENSOR_STATE reports that arrive before the answer to a STATUS_REQ sent now.
std::vector<Report> reportsBeforeMarker(TlsTestClient& client) {
    std::vector<Report> reports;
    EXPECT_TRUE(client.sendCommand(CmdPacket::STATUS_REQ));
    const auto marker = client.waitFor(
        [&](const ReceivedFrame& f) {
            if (isStatusOfType(f, StatusPacket::SENSOR_STATE)) {
                reports.push_back(entriesOf(*sim_test::asStatusPacket(f)));
            }
            return isStatusOfType(f, StatusPacket::STATUS);
        },
        5s);
    EXPECT_TRUE(marker);
    return reports;
}

std::map<std::uint32_t, SensorState::EnumStateType> statesIn(const StatusPacket& complete) {
    std::map<std::uint32_t, SensorState::EnumStateType> states;
    for (const SensorState& entry : complete.sensor_state()) {
        states[entry.sensor_id()] = entry.state();
    }
    return states;
}

}  // namespace

// Each logic type as the viewer sees it: every listed card (once, cards only) moves through
// the type's states, cards moving together share a message, a card in error keeps its flags
// and shows ERROR where it would be READY, and the complete status reports where cards ended.
TEST(SimSequences, LogicTypesReportTheirStatesInOrder) {
    ChassisSimulator sim(sequenceConfig("127.0.48.1", 5ms));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.48.1"));
    ASSERT_TRUE(sim.setSensorError(3, 0x5));
    ASSERT_TRUE(client.waitFor(
        [](const ReceivedFrame& f) { return isStatusOfType(f, StatusPacket::SENSOR_STATE); }, 5s));

    using L = LogicMessage;
    using S = SensorState;
    struct Case {
        L::EnumLogicType type;
        States states;  // as reported for a card without error; empty: no report
        S::EnumStateType after;
    };
    const std::vector<Case> cases = {
        {L::LOGIC_SENSOR_RESTART, {S::RESTART, S::RESTART_COMPLETE, S::READY}, S::READY},
        {L::LOGIC_SENSOR_COARSE_ZERO,
         {S::COARSE_ZERO, S::COARSE_ZERO_COMPLETE, S::READY},
         S::READY},
        {L::LOGIC_SENSOR_FINE_ZERO, {S::FINE_ZERO, S::FINE_ZERO_COMPLETE, S::READY}, S::READY},
        {L::LOGIC_SENSOR_OFF, {S::OFF}, S::OFF},
        {L::LOGIC_SENSOR_STASIS_ON, {}, S::OFF},
        {L::LOGIC_SENSOR_IDLE, {S::IDLE}, S::IDLE},
        {L::LOGIC_SENSOR_STASIS_OFF, {}, S::IDLE},
        {L::LOGIC_SENSOR_RESTART, {S::RESTART, S::RESTART_COMPLETE, S::READY}, S::READY},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(LogicMessage::EnumLogicType_Name(test.type));
        // 9 is no card; the repeated 2 moves once.
        ASSERT_TRUE(client.sendFrame(CMD_PACKET, logicRequest(test.type, {2, 3, 9, 2})));
        const auto reports = readReports(
            client, [&](const std::vector<Report>& r) { return r.size() == test.states.size(); });
        ASSERT_EQ(reports.size(), test.states.size());
        for (std::size_t step = 0; step < reports.size(); ++step) {
            SCOPED_TRACE(step);
            const Report& report = reports[step];
            ASSERT_EQ(report.size(), 2u);
            EXPECT_EQ(report[0].sensor, 2u);
            EXPECT_EQ(report[0].state, test.states[step]);
            EXPECT_FALSE(report[0].flags);
            EXPECT_EQ(report[1].sensor, 3u);
            EXPECT_EQ(report[1].state,
                      test.states[step] == S::READY ? S::ERROR : test.states[step]);
            EXPECT_EQ(report[1].flags, 0x5u);
        }
        EXPECT_TRUE(reportsBeforeMarker(client).empty());

        const auto complete = requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                            StatusPacket::COMPLETE_SYSTEM_STATUS);
        ASSERT_TRUE(complete);
        const auto states = statesIn(*complete);
        EXPECT_EQ(states.at(1), S::READY);
        EXPECT_EQ(states.at(2), test.after);
        EXPECT_EQ(states.at(3), test.after == S::READY ? S::ERROR : test.after);
        EXPECT_EQ(states.at(4), S::READY);
    }

    // Requests without a type or without a card in the list move nothing.
    CmdPacket untyped;
    untyped.set_cmd(CmdPacket::LOGIC_REQ);
    untyped.add_logic_req()->add_sensor_list(1);
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, untyped.SerializeAsString()));
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, logicRequest(L::LOGIC_SENSOR_OFF, {0, 5})));
    EXPECT_TRUE(reportsBeforeMarker(client).empty());
}

// An interrupt ends the listed cards' sequences at once: they report IDLE and nothing more,
// while the other cards of the same request go on to the end.
TEST(SimSequences, InterruptStopsARunningSequence) {
    // Long enough that the interrupt, sent on the first report, lands before the next step;
    // should the test thread be held up past it, the round is repeated.
    constexpr auto STEP = 250ms;
    ChassisSimulator sim(sequenceConfig("127.0.48.2", STEP));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.48.2"));

    bool stoppedMidway = false;
    for (int round = 0; round < 5 && !stoppedMidway; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(client.sendFrame(
            CMD_PACKET, logicRequest(LogicMessage::LOGIC_SENSOR_COARSE_ZERO, {1, 2, 4})));
        auto reports = readReports(client, [](const auto& r) { return r.size() == 1; });
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_TRUE(client.sendFrame(CMD_PACKET, interruptRequest({2, 4, 7})));

        // Card 1 runs to the end; cards 2 and 4 show IDLE once, and after it nothing.
        std::map<std::uint32_t, States> seen;
        const auto record = [&](const std::vector<Report>& rs) {
            for (const Report& report : rs) {
                for (const Entry& entry : report) {
                    seen[entry.sensor].push_back(entry.state);
                }
            }
        };
        record(reports);
        reports = readReports(client, [&](const std::vector<Report>& r) {
            return !r.empty() && r.back().front().sensor == 1 &&
                   r.back().front().state == SensorState::READY;
        });
        record(reports);
        record(reportsBeforeMarker(client));

        EXPECT_EQ(seen[1], (States{SensorState::COARSE_ZERO, SensorState::COARSE_ZERO_COMPLETE,
                                   SensorState::READY}));
        for (const std::uint32_t card : {2u, 4u}) {
            SCOPED_TRACE(card);
            const States& states = seen[card];
            ASSERT_GE(states.size(), 2u);
            EXPECT_EQ(states.back(), SensorState::IDLE);
            EXPECT_EQ(std::count(states.begin(), states.end(), SensorState::IDLE), 1);
            stoppedMidway = states.size() == 2;  // COARSE_ZERO, then IDLE
        }
        EXPECT_EQ(seen.count(7), 0u);

        const auto complete = requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                            StatusPacket::COMPLETE_SYSTEM_STATUS);
        ASSERT_TRUE(complete);
        const auto states = statesIn(*complete);
        EXPECT_EQ(states.at(1), SensorState::READY);
        EXPECT_EQ(states.at(2), SensorState::IDLE);
        EXPECT_EQ(states.at(3), SensorState::READY);
        EXPECT_EQ(states.at(4), SensorState::IDLE);
    }
    EXPECT_TRUE(stoppedMidway);
}

// UPDATE: FLASHING with progress in steps up to 100, then PENDING_COMMIT; UPDATE_COMMIT:
// RUNNING with the new version. Every link of the chassis sees it, and later statuses carry
// the current system status.
TEST(SimSequences, UpdateRunsToPendingCommitAndCommitRestoresRunning) {
    ChassisSimulator sim(sequenceConfig("127.0.48.3", 5ms));
    ASSERT_TRUE(sim.start());
    TlsTestClient client;
    TlsTestClient watcher;
    ASSERT_TRUE(client.connect("127.0.48.3"));
    ASSERT_TRUE(watcher.connect("127.0.48.3"));

    const auto before = requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                      StatusPacket::COMPLETE_SYSTEM_STATUS);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->status(), StatusPacket::RUNNING);
    const std::string oldVersion = before->system_status().version();
    EXPECT_EQ(before->version(), oldVersion);

    // Committing with nothing pending changes and sends nothing.
    ASSERT_TRUE(client.sendCommand(CmdPacket::UPDATE_COMMIT));
    auto status = requestStatus(client, CmdPacket::STATUS_REQ, StatusPacket::STATUS);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status(), StatusPacket::RUNNING);

    const std::string uri = "https://updates.invalid/chassis/2.0.bin";
    CmdPacket update;
    update.set_cmd(CmdPacket::UPDATE);
    update.set_uri(uri);
    ASSERT_TRUE(client.sendFrame(CMD_PACKET, update.SerializeAsString()));

    for (TlsTestClient* link : {&client, &watcher}) {
        SCOPED_TRACE(link == &client ? "asking link" : "other link");
        std::vector<StatusPacket> progress;
        const auto pending = link->waitFor(
            [&](const ReceivedFrame& f) {
                const auto s = sim_test::asStatusPacket(f);
                if (s && s->type() == StatusPacket::PROGRESS) {
                    EXPECT_LE(f.payload.size(), MAX_RECEIVE_PAYLOAD);
                    progress.push_back(*s);
                }
                return s && s->status() == StatusPacket::PENDING_COMMIT;
            },
            5s);
        ASSERT_TRUE(pending);
        EXPECT_TRUE(isStatusOfType(*pending, StatusPacket::STATUS));
        ASSERT_GE(progress.size(), 3u);
        EXPECT_EQ(progress.front().progress(), 0u);
        EXPECT_EQ(progress.front().progress_msg(), "Downloading " + uri);
        EXPECT_EQ(progress.back().progress(), 100u);
        for (std::size_t i = 0; i < progress.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(progress[i].has_progress() && progress[i].has_progress_msg());
            EXPECT_FALSE(progress[i].progress_msg().empty());
            EXPECT_EQ(progress[i].status(), StatusPacket::FLASHING);
            if (i > 0) {
                EXPECT_GT(progress[i].progress(), progress[i - 1].progress());
            }
        }
    }

    status = requestStatus(client, CmdPacket::STATUS_REQ, StatusPacket::STATUS);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status(), StatusPacket::PENDING_COMMIT);
    auto complete = requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                                  StatusPacket::COMPLETE_SYSTEM_STATUS);
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->status(), StatusPacket::PENDING_COMMIT);
    EXPECT_EQ(complete->system_status().version(), oldVersion);

    ASSERT_TRUE(client.sendCommand(CmdPacket::UPDATE_COMMIT));
    for (TlsTestClient* link : {&client, &watcher}) {
        const auto committed = link->waitFor(
            [](const ReceivedFrame& f) {
                const auto s = sim_test::asStatusPacket(f);
                return s && s->type() == StatusPacket::STATUS &&
                       s->status() == StatusPacket::RUNNING;
            },
            5s);
        ASSERT_TRUE(committed);
        EXPECT_NE(sim_test::asStatusPacket(*committed)->version(), oldVersion);
    }
    complete = requestStatus(client, CmdPacket::COMPLETE_SYSTEM_STATUS_REQ,
                             StatusPacket::COMPLETE_SYSTEM_STATUS);
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->status(), StatusPacket::RUNNING);
    EXPECT_NE(complete->system_status().version(), oldVersion);
    EXPECT_EQ(complete->system_status().version(), complete->version());
}
