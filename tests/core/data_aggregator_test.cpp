#include "data_aggregator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link_test_support.h"
#include "net-protocol.pb.h"
#include "proto_parse.h"

namespace {

using link_test::waitUntil;
using Points = std::vector<std::shared_ptr<DataPoint>>;

struct Sample {
    int sensor;
    int datatype;
    int val;
};

std::string packetBytes(std::uint32_t timestamp, const std::vector<Sample>& samples) {
    DataPacket packet;
    packet.set_timestamp(timestamp);
    packet.set_chassis_name("127.0.0.1:7777");
    packet.set_num_sensors(static_cast<int>(samples.size()));
    for (const auto& s : samples) {
        auto* frame = packet.add_data();
        frame->set_sensor(s.sensor);
        frame->set_datatype(s.datatype);
        frame->set_val(s.val);
    }
    std::string bytes;
    packet.SerializePartialToString(&bytes);
    return bytes;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) {
        ++count;
    }
    return count;
}

// One aggregator fed through real dispatchers; stdout is captured from start to finish.
class AggregatorTest : public testing::Test {
protected:
    void TearDown() override {
        if (_capturing) {
            testing::internal::GetCapturedStdout();
        }
    }

    void addChassis(int count) {
        for (int i = 0; i < count; ++i) {
            auto parser = std::make_shared<ProtoParse>(aggregator.getDataReady());
            aggregator.addParser(parser);
            parsers.push_back(parser);
        }
    }

    void send(int chassis, std::uint32_t timestamp, const std::vector<Sample>& samples) {
        const std::string bytes = packetBytes(timestamp, samples);
        parsers[static_cast<std::size_t>(chassis)]->parseMessage(
            static_cast<std::uint32_t>(chassis), DATA_PACKET,
            reinterpret_cast<const std::uint8_t*>(bytes.data()),
            static_cast<std::uint32_t>(bytes.size()));
    }

    // One sample per chassis whose value is the timestamp, so mixed instants show.
    void sendStamp(int chassis, std::uint32_t timestamp) {
        send(chassis, timestamp, {{1, 50, static_cast<int>(timestamp)}});
    }

    void start() {
        testing::internal::CaptureStdout();
        _capturing = true;
        aggregator.start();
    }

    // Retrieves until at least `count` points arrived, or the bound passes.
    void collect(std::size_t count) {
        waitUntil([&] {
            retrieve();
            return points.size() >= count;
        });
    }

    void retrieve() {
        for (auto& point : aggregator.retrieveAllDataPoints()) {
            points.push_back(std::move(point));
        }
    }

    // Stops, takes what is left and returns what the aggregator wrote to stdout.
    std::string finish() {
        aggregator.stop();
        retrieve();
        _capturing = false;
        return testing::internal::GetCapturedStdout();
    }

    bool queuesDrained() const {
        for (const auto& parser : parsers) {
            if (parser->queuedPackets() != 0) {
                return false;
            }
        }
        return true;
    }

    std::vector<std::uint32_t> stamps() const {
        std::vector<std::uint32_t> out;
        for (const auto& point : points) {
            out.push_back(point->timestamp);
        }
        return out;
    }

    // Every point holds the one sample of each of `chassisCount` chassis, from its own instant.
    void expectUnmixed(int chassisCount) const {
        for (const auto& point : points) {
            SCOPED_TRACE(point->timestamp);
            ASSERT_EQ(point->frames.size(), static_cast<std::size_t>(chassisCount));
            for (int c = 0; c < chassisCount; ++c) {
                EXPECT_EQ(point->frames[static_cast<std::size_t>(c)].cId, c);
                EXPECT_EQ(point->frames[static_cast<std::size_t>(c)].val,
                          static_cast<int>(point->timestamp));
            }
        }
    }

    DataAggregator aggregator;
    std::vector<std::shared_ptr<ProtoParse>> parsers;
    Points points;

private:
    bool _capturing = false;
};

TEST_F(AggregatorTest, AlignsOnFirstCommonTimestampThenMergesInChassisOrder) {
    addChassis(2);
    for (std::uint32_t t = 100; t <= 105; ++t) {
        send(0, t, {{3, 50, static_cast<int>(t)}, {3, 28, -static_cast<int>(t)}});
    }
    for (std::uint32_t t = 103; t <= 105; ++t) {
        send(1, t, {{3, 50, static_cast<int>(t) + 1000}});
    }
    start();
    collect(3);
    const std::string out = finish();

    EXPECT_NE(out.find("Starting aggregator with process: "), std::string::npos);
    EXPECT_NE(out.find(" thread: "), std::string::npos);
    EXPECT_EQ(occurrences(out, "Synced on "), 1u);
    EXPECT_NE(out.find("Synced on 103\n"), std::string::npos);
    EXPECT_NE(out.find("Stopping aggregator\n"), std::string::npos);
    ASSERT_EQ(stamps(), (std::vector<std::uint32_t>{103, 104, 105}));

    const DataPoint& first = *points.front();
    struct Expected {
        const char* key;
        const char* sensorKey;
        int cId;
        int datatype;
        int val;
    };
    const std::vector<Expected> expected = {
        {"00:03:50", "00:03", 0, 50, 103},
        {"00:03:28", "00:03", 0, 28, -103},
        {"01:03:50", "01:03", 1, 50, 1103},
    };
    ASSERT_EQ(first.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& frame = first.frames[i];
        EXPECT_EQ(frame.key, expected[i].key);
        EXPECT_EQ(frame.sensorKey, expected[i].sensorKey);
        EXPECT_EQ(frame.cId, expected[i].cId);
        EXPECT_EQ(frame.sId, 3);
        EXPECT_EQ(frame.datatype, expected[i].datatype);
        EXPECT_EQ(frame.val, expected[i].val);
        EXPECT_EQ(first.index.at(expected[i].key), i);
    }
    EXPECT_EQ(first.index.size(), expected.size());
}

TEST_F(AggregatorTest, SingleChassisSyncsAtOnceAndFormatsSignedFields) {
    addChassis(1);
    const std::vector<Sample> samples = {
        {3, 50, 1}, {-1, 28, 2}, {100, 7, 3}, {0, -5, 4}, {2147483647, -2147483647 - 1, 5}};
    for (std::uint32_t t = 7; t <= 9; ++t) {
        send(0, t, samples);
    }
    start();
    collect(3);
    const std::string out = finish();

    EXPECT_EQ(occurrences(out, "Synced on "), 1u);
    EXPECT_NE(out.find("Synced on 7\n"), std::string::npos);
    ASSERT_EQ(stamps(), (std::vector<std::uint32_t>{7, 8, 9}));
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"00:03:50", "00:03"},
        {"00:-1:28", "00:-1"},
        {"00:100:07", "00:100"},
        {"00:00:-5", "00:00"},
        {"00:2147483647:-2147483648", "00:2147483647"},
    };
    const DataPoint& point = *points.back();
    ASSERT_EQ(point.frames.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(keys[i].first);
        EXPECT_EQ(point.frames[i].key, keys[i].first);
        EXPECT_EQ(point.frames[i].sensorKey, keys[i].second);
        EXPECT_EQ(point.frames[i].sId, samples[i].sensor);
        EXPECT_EQ(point.frames[i].datatype, samples[i].datatype);
        EXPECT_EQ(point.frames[i].val, samples[i].val);
        EXPECT_EQ(point.index.at(keys[i].first), i);
    }
}

TEST_F(AggregatorTest, PacketWithoutSamplesStillMakesAnInstant) {
    addChassis(2);
    send(0, 5, {});
    send(1, 5, {{4, 50, 9}, {6, 28, 8}});
    send(0, 6, {});
    send(1, 6, {});
    start();
    collect(2);
    finish();

    ASSERT_EQ(stamps(), (std::vector<std::uint32_t>{5, 6}));
    ASSERT_EQ(points[0]->frames.size(), 2u);
    EXPECT_EQ(points[0]->frames[0].key, "01:04:50");
    EXPECT_EQ(points[0]->frames[1].key, "01:06:28");
    EXPECT_EQ(points[0]->frames[0].cId, 1);
    EXPECT_TRUE(points[1]->frames.empty());
    EXPECT_TRUE(points[1]->index.empty());
}

TEST_F(AggregatorTest, RepeatedKeyKeepsFirstPositionInIndex) {
    addChassis(1);
    send(0, 1, {{3, 50, 10}, {4, 28, 20}, {3, 50, 30}});
    start();
    collect(1);
    finish();

    ASSERT_EQ(points.size(), 1u);
    const DataPoint& point = *points[0];
    ASSERT_EQ(point.frames.size(), 3u);
    EXPECT_EQ(point.frames[0].key, "00:03:50");
    EXPECT_EQ(point.frames[2].key, "00:03:50");
    EXPECT_EQ(point.frames[2].val, 30);
    EXPECT_EQ(point.index.size(), 2u);
    EXPECT_EQ(point.index.at("00:03:50"), 0u);
    EXPECT_EQ(point.index.at("00:04:28"), 1u);
}

TEST_F(AggregatorTest, RetrieveWithNothingFinishedIsEmpty) {
    EXPECT_TRUE(aggregator.retrieveAllDataPoints().empty());
    addChassis(2);
    sendStamp(0, 1);  // chassis 1 never answers
    start();
    EXPECT_TRUE(waitUntil([&] { return parsers[0]->queuedPackets() == 0; }));
    EXPECT_TRUE(aggregator.retrieveAllDataPoints().empty());
    finish();
    EXPECT_TRUE(points.empty());
}

TEST_F(AggregatorTest, DispatcherAddedAfterStartIsRefusedAndLeftOut) {
    addChassis(1);
    start();
    auto late = std::make_shared<ProtoParse>(aggregator.getDataReady());
    testing::internal::CaptureStderr();
    aggregator.addParser(late);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Cannot add parser while aggregator is running\n");

    parsers.push_back(late);
    sendStamp(1, 4);  // the late dispatcher's packet is never taken
    sendStamp(0, 4);
    collect(1);
    finish();
    ASSERT_EQ(stamps(), (std::vector<std::uint32_t>{4}));
    expectUnmixed(1);
    EXPECT_EQ(late->queuedPackets(), 1u);
}

TEST_F(AggregatorTest, RegisteringADispatcherTwiceKeepsChassisIds) {
    addChassis(2);
    aggregator.addParser(parsers[0]);
    sendStamp(0, 1);
    sendStamp(1, 1);
    start();
    collect(1);
    finish();
    ASSERT_EQ(points.size(), 1u);
    expectUnmixed(2);
}

TEST_F(AggregatorTest, StopKeepsFinishedPointsForALastRetrieval) {
    addChassis(2);
    for (std::uint32_t t = 1; t <= 3; ++t) {
        sendStamp(0, t);
        sendStamp(1, t);
    }
    start();
    // Once the queues are empty the last packets are in the current pass, which stop lets
    // finish before joining; nothing has been retrieved yet.
    ASSERT_TRUE(waitUntil([&] { return queuesDrained(); }));
    aggregator.stop();
    EXPECT_EQ(aggregator.retrieveAllDataPoints().size(), 3u);
    finish();
}

TEST_F(AggregatorTest, StartWithoutDispatcherWaitsAndStops) {
    start();
    // Several wait periods: a readiness test that held on the empty set would align or merge
    // nothing into time points; stop must still end the waiting thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_TRUE(aggregator.retrieveAllDataPoints().empty());
    auto stopped = std::async(std::launch::async, [&] { return finish(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string out = stopped.get();
    EXPECT_EQ(occurrences(out, "Synced on "), 0u);
    EXPECT_NE(out.find("Stopping aggregator\n"), std::string::npos);
    EXPECT_TRUE(points.empty());
}

std::vector<std::uint32_t> range(std::uint32_t from, std::uint32_t to,
                                 std::vector<std::uint32_t> without = {}) {
    std::vector<std::uint32_t> out;
    for (auto t = from; t <= to; ++t) {
        if (std::find(without.begin(), without.end(), t) == without.end()) {
            out.push_back(t);
        }
    }
    return out;
}

// The stream of each chassis, all queued before start, and what must come out.
struct RealignCase {
    std::string name;
    std::vector<std::vector<std::uint32_t>> streams;
    std::vector<std::uint32_t> points;
    std::vector<std::uint32_t> syncs;
};

void PrintTo(const RealignCase& c, std::ostream* os) {
    *os << c.name;
}

class AggregatorRealignTest : public AggregatorTest,
                              public testing::WithParamInterface<RealignCase> {};

TEST_P(AggregatorRealignTest, NoTimePointMixesInstants) {
    const auto& c = GetParam();
    addChassis(static_cast<int>(c.streams.size()));
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        for (auto t : c.streams[i]) {
            sendStamp(static_cast<int>(i), t);
        }
    }
    start();
    collect(c.points.size());
    const std::string out = finish();

    EXPECT_EQ(stamps(), c.points);
    expectUnmixed(static_cast<int>(c.streams.size()));
    EXPECT_EQ(occurrences(out, "Synced on "), c.syncs.size());
    for (auto sync : c.syncs) {
        EXPECT_NE(out.find("Synced on " + std::to_string(sync) + "\n"), std::string::npos) << sync;
    }
}

INSTANTIATE_TEST_SUITE_P(
    LostAndJumpingPackets, AggregatorRealignTest,
    testing::Values(
        RealignCase{
            "Chassis1LosesOne", {range(1, 10), range(1, 10, {4})}, range(1, 10, {4}), {1, 5}},
        RealignCase{
            "Chassis0LosesOne", {range(1, 10, {4}), range(1, 10)}, range(1, 10, {4}), {1, 5}},
        RealignCase{"TwoLossesOnThreeChassis",
                    {range(1, 10, {3}), range(1, 10), range(1, 10, {6})},
                    range(1, 10, {3, 6}),
                    {1, 4, 7}},
        RealignCase{"JumpAheadAfterReconnect",
                    {range(1, 10), {1, 2, 3, 8, 9, 10}},
                    {1, 2, 3, 8, 9, 10},
                    {1, 8}},
        RealignCase{"CountRestartsAfterReconnect",
                    {range(1, 8), {1, 2, 3, 1, 2, 3, 7, 8}},
                    {1, 2, 3, 7, 8},
                    {1, 7}}),
    [](const testing::TestParamInfo<RealignCase>& info) { return info.param.name; });

TEST_F(AggregatorTest, StalledChassisResumesWithoutMixingAndBoundedQueues) {
    constexpr std::uint32_t gapEnd = 10505;
    constexpr std::uint32_t resumeAt = 10400;
    addChassis(2);
    start();
    for (std::uint32_t t = 1; t <= 5; ++t) {
        sendStamp(0, t);
        sendStamp(1, t);
    }
    collect(5);

    // Chassis 1 falls silent for longer than the queue holds. Once chassis 0's first packet of
    // the gap is pending, nothing reads its queue until chassis 1 is back: one overflow episode.
    sendStamp(0, 6);
    ASSERT_TRUE(waitUntil([&] { return parsers[0]->queuedPackets() == 0; }));
    testing::internal::CaptureStderr();
    for (std::uint32_t t = 7; t <= gapEnd; ++t) {
        sendStamp(0, t);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Data queue of chassis 0 full, dropping oldest packets\n");
    EXPECT_LE(parsers[0]->queuedPackets(), ProtoParse::MAX_QUEUED_PACKETS);
    retrieve();
    EXPECT_EQ(points.size(), 5u);

    for (std::uint32_t t = resumeAt; t <= gapEnd; ++t) {
        sendStamp(1, t);
    }
    collect(5 + gapEnd - resumeAt + 1);
    const std::string out = finish();

    std::vector<std::uint32_t> expected = range(1, 5);
    const auto resumed = range(resumeAt, gapEnd);
    expected.insert(expected.end(), resumed.begin(), resumed.end());
    EXPECT_EQ(stamps(), expected);
    expectUnmixed(2);
    EXPECT_EQ(occurrences(out, "Synced on "), 2u);
    EXPECT_NE(out.find("Synced on " + std::to_string(resumeAt) + "\n"), std::string::npos);
}

TEST(AggregatorConcurrency, ProducersConsumerAndStopperOnTheirOwnThreads) {
    constexpr int chassisCount = 4;
    constexpr std::uint32_t last = 1500;
    // Chassis c starts 5 stamps after chassis c-1, so the streams align on the last start.
    constexpr std::uint32_t syncOn = 1 + 5 * (chassisCount - 1);
    constexpr std::size_t expectedPoints = last - syncOn + 1;

    auto aggregator = std::make_shared<DataAggregator>();
    std::vector<std::shared_ptr<ProtoParse>> parsers;
    for (int c = 0; c < chassisCount; ++c) {
        parsers.push_back(std::make_shared<ProtoParse>(aggregator->getDataReady()));
        aggregator->addParser(parsers.back());
    }
    testing::internal::CaptureStdout();
    aggregator->start();

    std::vector<std::thread> producers;
    for (int c = 0; c < chassisCount; ++c) {
        producers.emplace_back([&, c] {
            for (std::uint32_t t = 1 + 5 * static_cast<std::uint32_t>(c); t <= last; ++t) {
                const std::string bytes =
                    packetBytes(t, {{1, 50, static_cast<int>(t)}, {2, 50, static_cast<int>(t)}});
                parsers[static_cast<std::size_t>(c)]->parseMessage(
                    static_cast<std::uint32_t>(c), DATA_PACKET,
                    reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    static_cast<std::uint32_t>(bytes.size()));
                if (t % 64 == 0) {
                    std::this_thread::yield();
                }
            }
        });
    }

    std::atomic<std::size_t> seen{0};
    std::atomic<bool> stopped{false};
    Points points;
    std::thread consumer([&] {
        while (!stopped) {
            for (auto& point : aggregator->retrieveAllDataPoints()) {
                points.push_back(std::move(point));
            }
            seen = points.size();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (auto& point : aggregator->retrieveAllDataPoints()) {
            points.push_back(std::move(point));
        }
    });
    std::thread stopper([&] {
        waitUntil([&] { return seen >= expectedPoints; }, std::chrono::seconds(60));
        aggregator->stop();
        stopped = true;
    });

    for (auto& producer : producers) {
        producer.join();
    }
    stopper.join();
    consumer.join();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_NE(out.find("Synced on " + std::to_string(syncOn) + "\n"), std::string::npos);
    ASSERT_EQ(points.size(), expectedPoints);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const DataPoint& point = *points[i];
        ASSERT_EQ(point.timestamp, syncOn + i);
        ASSERT_EQ(point.frames.size(), 2u * chassisCount);
        for (std::size_t f = 0; f < point.frames.size(); ++f) {
            ASSERT_EQ(point.frames[f].cId, static_cast<int>(f / 2));
            ASSERT_EQ(point.frames[f].val, static_cast<int>(point.timestamp));
        }
    }
}

}  // namespace
