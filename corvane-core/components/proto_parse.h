#pragma once

#include <cstdint>

#include "frame_codec.h"

// Receiver of the complete frames of one chassis link. This first version only marks the
// place where frames leave the connection; decoding and routing replace it.
class ProtoParse {
public:
    ProtoParse() = default;
    virtual ~ProtoParse() = default;
    ProtoParse(const ProtoParse&) = delete;
    ProtoParse& operator=(const ProtoParse&) = delete;

    // Called on the connection thread for every complete frame; the bytes are valid only
    // during the call.
    virtual void parseMessage(std::uint32_t chassisId, MessageType type, const std::uint8_t* data,
                              std::uint32_t length);
};
