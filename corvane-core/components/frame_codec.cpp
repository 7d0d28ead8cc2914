#include "frame_codec.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "log_line.h"

void writeFrameHeader(std::uint8_t* out, std::uint16_t type, std::uint16_t length) {
    out[0] = static_cast<std::uint8_t>(type >> 8);
    out[1] = static_cast<std::uint8_t>(type & 0xFF);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length & 0xFF);
}

void appendFrame(std::string& out, std::uint16_t type, std::string_view payload) {
    if (payload.size() > 0xFFFF) {
        throw std::length_error("frame payload exceeds 65535 bytes");
    }
    std::uint8_t header[FRAME_HEADER_SIZE];
    writeFrameHeader(header, type, static_cast<std::uint16_t>(payload.size()));
    out.append(reinterpret_cast<const char*>(header), FRAME_HEADER_SIZE);
    out.append(payload);
}

FrameAssembler::FrameAssembler(Sink sink) : _sink(std::move(sink)) {}

void FrameAssembler::reset() {
    _collectingHeader = true;
    _skipping = false;
    _bytesMissing = FRAME_HEADER_SIZE;
}

void FrameAssembler::feed(const std::uint8_t* data, std::size_t length) {
    std::size_t pos = 0;
    while (pos < length) {
        const std::size_t take = std::min<std::size_t>(_bytesMissing, length - pos);
        if (_collectingHeader) {
            std::memcpy(_header + (FRAME_HEADER_SIZE - _bytesMissing), data + pos, take);
        } else if (!_skipping) {
            std::memcpy(_payload + (_payloadLength - _bytesMissing), data + pos, take);
        }
        pos += take;
        _bytesMissing = static_cast<std::uint16_t>(_bytesMissing - take);

        if (_bytesMissing == 0 && _collectingHeader) {
            _frameType = _header[0] * 256 + _header[1];
            _payloadLength = static_cast<std::uint16_t>(_header[2] * 256 + _header[3]);
            _bytesMissing = _payloadLength;
            _collectingHeader = false;
            _skipping = _payloadLength > MAX_RECEIVE_PAYLOAD;
            if (_skipping) {
                errLine("Message type: " + std::to_string(_frameType) + " with length: " +
                        std::to_string(_payloadLength) + " is too large to fit in buffer!");
            }
        }
        if (_bytesMissing == 0 && !_collectingHeader) {
            if (!_skipping && _sink) {
                _sink(_frameType, _payload, _payloadLength);
            }
            reset();
        }
    }
}
