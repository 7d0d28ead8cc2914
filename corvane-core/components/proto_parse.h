#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "frame_codec.h"

class DataPacket;
class DeviceMgr;
struct DataReadyStruct;

// The dispatcher of one chassis link: decodes every complete frame into the message its type
// names and routes it. Command replies and status reports go to the registry on the
// connection's thread; data packets are queued for the aggregator, which is woken.
class ProtoParse {
public:
    // Beyond this many queued data packets (10 s at 1 kHz) the oldest is dropped, so a chassis
    // that stops streaming cannot make the other queues grow without bound.
    static constexpr std::size_t MAX_QUEUED_PACKETS = 10000;

    // Either pointer may be empty: no wake-up, or no registry to route replies to.
    explicit ProtoParse(std::shared_ptr<DataReadyStruct> dataReady = nullptr,
                        std::shared_ptr<DeviceMgr> registry = nullptr);
    virtual ~ProtoParse() = default;
    ProtoParse(const ProtoParse&) = delete;
    ProtoParse& operator=(const ProtoParse&) = delete;

    // Called on the connection thread for every complete frame; the bytes are valid only
    // during the call. Virtual so that tests can watch the frames of a link.
    virtual void parseMessage(std::uint32_t chassisId, MessageType type, const std::uint8_t* data,
                              std::uint32_t length);
    // The oldest queued data packet, or empty.
    std::shared_ptr<DataPacket> getData();
    // How many data packets wait in the queue.
    std::size_t queuedPackets();

private:
    // Guards _dataQueue and _overflowing. Taken after the aggregator's data-ready mutex.
    std::mutex _queueMutex;
    std::deque<std::shared_ptr<DataPacket>> _dataQueue;
    bool _overflowing = false;  // one message per overflow episode
    std::shared_ptr<DataReadyStruct> _dataReady;
    std::shared_ptr<DeviceMgr> _registry;
};
