#include "frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Frame {
    int type;
    std::string payload;
    bool operator==(const Frame&) const = default;
};

std::string frameBytes(int type, const std::string& payload) {
    std::string out;
    appendFrame(out, static_cast<std::uint16_t>(type), payload);
    return out;
}

std::string header(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                       static_cast<char>(d)};
}

std::vector<Frame> assemble(const std::vector<std::string>& chunks) {
    std::vector<Frame> frames;
    FrameAssembler assembler([&](int type, const std::uint8_t* data, std::uint16_t length) {
        frames.push_back({type, std::string(reinterpret_cast<const char*>(data), length)});
    });
    for (const auto& chunk : chunks) {
        assembler.feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
    }
    return frames;
}

TEST(FrameCodec, HeaderIsBigEndianTypeThenLength) {
    const std::string bytes = frameBytes(3, std::string(300, 'x'));
    ASSERT_EQ(bytes.size(), 304u);
    EXPECT_EQ(bytes.substr(0, 4), header(0x00, 0x03, 0x01, 0x2C));
}

TEST(FrameCodec, ReassemblyTable) {
    const std::string a = frameBytes(1, "abc");
    const std::string b = frameBytes(2, "hello world");
    const std::string big = frameBytes(3, std::string(2048, 'z'));  // a 2052-byte frame
    const std::string empty = frameBytes(3, "");
    const std::string oversized = header(0x00, 0x03, 0x0B, 0xB8) + std::string(3000, 'q');

    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<Frame> expected;
    };
    const std::vector<Case> cases = {
        {"whole frame in one read", {a}, {{1, "abc"}}},
        {"header split across reads", {a.substr(0, 2), a.substr(2)}, {{1, "abc"}}},
        {"byte by byte",
         [&] {
             std::vector<std::string> v;
             for (char c : b)
                 v.emplace_back(1, c);
             return v;
         }(),
         {{2, "hello world"}}},
        {"payload split across reads", {a.substr(0, 5), a.substr(5)}, {{1, "abc"}}},
        {"several frames in one read", {a + b + a}, {{1, "abc"}, {2, "hello world"}, {1, "abc"}}},
        {"frame boundary inside a read",
         {a + b.substr(0, 6), b.substr(6)},
         {{1, "abc"}, {2, "hello world"}}},
        {"2052-byte frame in two chunks",
         {big.substr(0, 2048), big.substr(2048)},
         {{3, std::string(2048, 'z')}}},
        {"empty payload", {empty + a}, {{3, ""}, {1, "abc"}}},
        {"unknown type is still a frame", {frameBytes(0xFFFF, "x")}, {{0xFFFF, "x"}}},
        {"oversized header skipped, next frame decoded", {oversized + a}, {{1, "abc"}}},
        {"oversized frame split oddly",
         {oversized.substr(0, 3), oversized.substr(3, 2500),
          oversized.substr(2503) + b.substr(0, 1), b.substr(1)},
         {{2, "hello world"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        EXPECT_EQ(assemble(c.chunks), c.expected);
        testing::internal::GetCapturedStderr();
    }
}

TEST(FrameCodec, OversizedHeaderIsReported) {
    testing::internal::CaptureStderr();
    assemble({header(0x00, 0x03, 0x0B, 0xB8)});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Message type: 3 with length: 3000 is too large to fit in buffer!\n");
}

TEST(FrameCodec, ResetDropsPartialFrame) {
    std::vector<Frame> frames;
    FrameAssembler assembler([&](int type, const std::uint8_t* data, std::uint16_t length) {
        frames.push_back({type, std::string(reinterpret_cast<const char*>(data), length)});
    });
    const std::string a = frameBytes(1, "abc");
    assembler.feed(reinterpret_cast<const std::uint8_t*>(a.data()), 5);
    assembler.reset();
    assembler.feed(reinterpret_cast<const std::uint8_t*>(a.data()), a.size());
    EXPECT_EQ(frames, (std::vector<Frame>{{1, "abc"}}));
}

}  // namespace
