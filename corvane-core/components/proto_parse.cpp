#include "proto_parse.h"

#include <climits>
#include <string>
#include <utility>

#include "data_point.h"
#include "device_mgr.h"
#include "log_line.h"
#include "net-protocol.pb.h"

namespace {

// Frames carry at most a 16-bit payload length, so the clamp never bites on the link; it only
// keeps a hostile caller from turning the length negative.
int payloadSize(std::uint32_t length) {
    return length > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

ProtoParse::ProtoParse(std::shared_ptr<DataReadyStruct> dataReady,
                       std::shared_ptr<DeviceMgr> registry)
    : _dataReady(std::move(dataReady)), _registry(std::move(registry)) {}

void ProtoParse::parseMessage(std::uint32_t chassisId, MessageType type, const std::uint8_t* data,
                              std::uint32_t length) {
    // The decoding result is deliberately ignored: a message lacking required fields or cut
    // short is routed with whatever was decoded (libprotobuf reports it on stderr itself).
    switch (type) {
        case CMD_PACKET: {
            auto packet = std::make_shared<CmdPacket>();
            (void)packet->ParseFromArray(data, payloadSize(length));
            if (_registry) {
                _registry->handleCmd(chassisId, packet);
            }
            break;
        }
        case STATUS_PACKET: {
            auto packet = std::make_shared<StatusPacket>();
            (void)packet->ParseFromArray(data, payloadSize(length));
            if (_registry) {
                _registry->updateStatus(packet);
            }
            break;
        }
        case DATA_PACKET: {
            auto packet = std::make_shared<DataPacket>();
            (void)packet->ParseFromArray(data, payloadSize(length));
            bool overflowStarted = false;
            {
                std::lock_guard<std::mutex> lock(_queueMutex);
                if (_dataQueue.size() >= MAX_QUEUED_PACKETS) {
                    _dataQueue.pop_front();
                    overflowStarted = !_overflowing;
                    _overflowing = true;
                }
                _dataQueue.push_back(std::move(packet));
            }
            if (overflowStarted) {
                errLine("Data queue of chassis " + std::to_string(chassisId) +
                        " full, dropping oldest packets");
            }
            // Without the aggregator's mutex: it waits with a time-out and re-checks every
            // queue, so a wake-up falling between its test and its wait costs one time-out.
            if (_dataReady) {
                _dataReady->condition.notify_one();
            }
            break;
        }
        default:
            // Unknown frame types are dropped without a word.
            break;
    }
}

std::shared_ptr<DataPacket> ProtoParse::getData() {
    std::lock_guard<std::mutex> lock(_queueMutex);
    if (_dataQueue.empty()) {
        return nullptr;
    }
    auto packet = std::move(_dataQueue.front());
    _dataQueue.pop_front();
    if (_dataQueue.size() < MAX_QUEUED_PACKETS) {
        _overflowing = false;
    }
    return packet;
}

std::size_t ProtoParse::queuedPackets() {
    std::lock_guard<std::mutex> lock(_queueMutex);
    return _dataQueue.size();
}
