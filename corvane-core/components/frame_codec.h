#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Frame type on the chassis link. Unscoped with a 16-bit base so that every received type
// value, known or not, can be carried.
enum MessageType : std::uint16_t {
    CMD_PACKET = 1,
    STATUS_PACKET = 2,
    DATA_PACKET = 3,
};

// A frame is a 4-byte header (type, payload length; both unsigned 16-bit big-endian) followed
// by exactly that many payload bytes.
constexpr std::size_t FRAME_HEADER_SIZE = 4;
// Largest payload a chassis sends; the receive buffer holds exactly this much.
constexpr std::size_t MAX_RECEIVE_PAYLOAD = 2048;
// The send buffer holds header and payload together.
constexpr std::size_t SEND_BUFFER_SIZE = 1024;
constexpr std::size_t MAX_SEND_PAYLOAD = SEND_BUFFER_SIZE - FRAME_HEADER_SIZE;

void writeFrameHeader(std::uint8_t* out, std::uint16_t type, std::uint16_t length);

// Appends one frame to `out`. The payload must fit the 16-bit length field.
void appendFrame(std::string& out, std::uint16_t type, std::string_view payload);

// Cuts a byte stream into frames. Complete frames go to the sink with a pointer into the
// assembler's fixed payload buffer, valid only during the call. A header announcing more than
// MAX_RECEIVE_PAYLOAD bytes is reported and its announced payload skipped, so the stream stays
// in step and the buffer is never written past.
class FrameAssembler {
public:
    using Sink = std::function<void(int type, const std::uint8_t* payload, std::uint16_t length)>;

    explicit FrameAssembler(Sink sink);

    // Drops any partial frame; the next byte starts a header.
    void reset();
    void feed(const std::uint8_t* data, std::size_t length);

    bool atFrameBoundary() const { return _collectingHeader && _bytesMissing == FRAME_HEADER_SIZE; }

private:
    Sink _sink;
    bool _collectingHeader = true;
    bool _skipping = false;  // discarding the payload of an oversized frame
    int _frameType = 0;
    std::uint16_t _payloadLength = 0;
    std::uint16_t _bytesMissing = FRAME_HEADER_SIZE;
    std::uint8_t _header[FRAME_HEADER_SIZE] = {};
    std::uint8_t _payload[MAX_RECEIVE_PAYLOAD] = {};
};
