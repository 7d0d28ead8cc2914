#include "proto_parse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data_point.h"
#include "net-protocol.pb.h"

namespace {

std::string dataPacket(std::uint32_t timestamp, int samples = 0) {
    DataPacket packet;
    packet.set_timestamp(timestamp);
    packet.set_chassis_name("127.0.0.1:7777");
    packet.set_num_sensors(samples);
    for (int i = 0; i < samples; ++i) {
        auto* frame = packet.add_data();
        frame->set_sensor(i);
        frame->set_datatype(50);
        frame->set_val(i * 100);
    }
    std::string bytes;
    packet.SerializePartialToString(&bytes);
    return bytes;
}

void feed(ProtoParse& parser, std::uint32_t chassisId, int type, const std::string& bytes) {
    parser.parseMessage(chassisId, static_cast<MessageType>(type),
                        reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()));
}

TEST(ProtoParse, FramesOfOtherTypesAreDroppedSilently) {
    ProtoParse parser(std::make_shared<DataReadyStruct>());
    // A well-formed data packet, so only the type decides that it is dropped.
    const std::string bytes = dataPacket(9, 2);
    for (int type : {0, 4, 5, 255, 256, 259, 1000, 32768, 65535}) {
        SCOPED_TRACE(type);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        feed(parser, 0, type, bytes);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(parser.getData(), nullptr);
    }
}

TEST(ProtoParse, RepliesAndStatusWithoutRegistryAreDecodedAndDropped) {
    ProtoParse parser(std::make_shared<DataReadyStruct>());
    CmdPacket reply;
    reply.set_cmd(CmdPacket::STATUS_REQ);
    StatusPacket status;
    status.set_type(StatusPacket::SYSTEM_STATUS);
    std::string replyBytes;
    std::string statusBytes;
    reply.SerializePartialToString(&replyBytes);
    status.SerializePartialToString(&statusBytes);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();  // libprotobuf names the missing required fields
    feed(parser, 0, CMD_PACKET, replyBytes);
    feed(parser, 0, STATUS_PACKET, statusBytes);
    feed(parser, 0, CMD_PACKET, "\xff\xff\xff");
    feed(parser, 0, STATUS_PACKET, dataPacket(4, 3));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(parser.getData(), nullptr);
}

TEST(ProtoParse, EmptyDataFrameQueuesEmptyPacketAndWakesWaiter) {
    auto ready = std::make_shared<DataReadyStruct>();
    ProtoParse parser(ready);

    bool waiting = false;
    std::cv_status woken = std::cv_status::timeout;
    std::thread waiter([&] {
        std::unique_lock<std::mutex> lock(ready->mutex);
        waiting = true;
        // No predicate on purpose: only a notification (or a rare spurious wake-up) ends this
        // wait before its bound.
        woken = ready->condition.wait_for(lock, std::chrono::seconds(20));
    });
    // The waiter holds the mutex from setting the flag until it waits, so seeing the flag
    // under the mutex means it is waiting.
    for (;;) {
        std::lock_guard<std::mutex> lock(ready->mutex);
        if (waiting) {
            break;
        }
    }

    testing::internal::CaptureStderr();  // libprotobuf names the missing required fields
    parser.parseMessage(1, DATA_PACKET, nullptr, 0);
    testing::internal::GetCapturedStderr();
    waiter.join();
    EXPECT_EQ(woken, std::cv_status::no_timeout);

    auto packet = parser.getData();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->timestamp(), 0u);
    EXPECT_EQ(packet->data_size(), 0);
    EXPECT_EQ(parser.getData(), nullptr);
}

TEST(ProtoParse, DamagedDataPacketsAreQueuedWithWhatDecoded) {
    DataPacket noName;
    noName.set_timestamp(42);
    noName.set_num_sensors(1);
    auto* frame = noName.add_data();
    frame->set_sensor(2);
    frame->set_datatype(28);
    frame->set_val(-7);
    std::string noNameBytes;
    noName.SerializePartialToString(&noNameBytes);

    const std::string full = dataPacket(77, 4);
    struct Case {
        const char* name;
        std::string bytes;
        std::uint32_t timestamp;  // as far as decoding got
    };
    const std::vector<Case> cases = {
        {"lacking chassis_name", noNameBytes, 42},
        {"cut inside the last frame", full.substr(0, full.size() - 3), 77},
        {"only the first byte", full.substr(0, 1), 0},
        {"not protobuf at all", std::string("\xff\xff\xff\xff\x0f", 5), 0},
        {"wrong wire type for timestamp", std::string("\x0d\x01\x02\x03\x04", 5), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProtoParse parser;
        testing::internal::CaptureStderr();
        feed(parser, 0, DATA_PACKET, c.bytes);
        testing::internal::GetCapturedStderr();
        auto packet = parser.getData();
        ASSERT_NE(packet, nullptr);
        if (c.timestamp != 0) {
            EXPECT_EQ(packet->timestamp(), c.timestamp);
        }
    }

    ProtoParse parser;
    testing::internal::CaptureStderr();
    feed(parser, 0, DATA_PACKET, noNameBytes);
    testing::internal::GetCapturedStderr();
    auto packet = parser.getData();
    ASSERT_NE(packet, nullptr);
    ASSERT_EQ(packet->data_size(), 1);
    EXPECT_EQ(packet->data(0).sensor(), 2);
    EXPECT_EQ(packet->data(0).datatype(), 28);
    EXPECT_EQ(packet->data(0).val(), -7);
}

TEST(ProtoParse, PacketsComeOutInArrivalOrder) {
    ProtoParse parser;
    EXPECT_EQ(parser.getData(), nullptr);
    const std::vector<std::uint32_t> stamps = {5, 3, 3, 0, 4294967295u, 8};
    for (auto stamp : stamps) {
        feed(parser, 2, DATA_PACKET, dataPacket(stamp, 1));
    }
    EXPECT_EQ(parser.queuedPackets(), stamps.size());
    for (auto stamp : stamps) {
        auto packet = parser.getData();
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->timestamp(), stamp);
    }
    EXPECT_EQ(parser.getData(), nullptr);
}

TEST(ProtoParse, FullQueueDropsOldestWithOneLinePerEpisode) {
    constexpr std::uint32_t limit = ProtoParse::MAX_QUEUED_PACKETS;
    const std::string line = "Data queue of chassis 2 full, dropping oldest packets\n";
    ProtoParse parser(std::make_shared<DataReadyStruct>());

    testing::internal::CaptureStderr();
    for (std::uint32_t stamp = 0; stamp < limit; ++stamp) {
        feed(parser, 2, DATA_PACKET, dataPacket(stamp));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // One over the limit starts an episode; more drops within it stay quiet.
    testing::internal::CaptureStderr();
    for (std::uint32_t stamp = limit; stamp < limit + 5; ++stamp) {
        feed(parser, 2, DATA_PACKET, dataPacket(stamp));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
    EXPECT_EQ(parser.queuedPackets(), limit);
    auto oldest = parser.getData();
    ASSERT_NE(oldest, nullptr);
    EXPECT_EQ(oldest->timestamp(), 5u);

    // The retrieval ended the episode: refilling is quiet, the next drop writes again.
    testing::internal::CaptureStderr();
    feed(parser, 2, DATA_PACKET, dataPacket(limit + 5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    feed(parser, 2, DATA_PACKET, dataPacket(limit + 6));
    feed(parser, 2, DATA_PACKET, dataPacket(limit + 7));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), line);

    // What stays is the newest `limit` packets, in order.
    std::uint32_t expected = 8;
    std::uint32_t count = 0;
    while (auto packet = parser.getData()) {
        ASSERT_EQ(packet->timestamp(), expected);
        ++expected;
        ++count;
    }
    EXPECT_EQ(count, limit);
    EXPECT_EQ(expected, limit + 8);
}

}  // namespace
