#pragma once

// Helpers shared by the tests that run chassis links against the simulator.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_mgr.h"
#include "network_connection.h"
#include "proto_parse.h"

namespace link_test {

// Polls `condition` until it holds or `limit` passes; returns whether it held.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

struct ReceivedFrame {
    std::uint32_t chassisId;
    int type;
    std::string payload;
};

// Keeps a copy of every frame the link delivers.
class RecordingParser : public ProtoParse {
public:
    void parseMessage(std::uint32_t chassisId, MessageType type, const std::uint8_t* data,
                      std::uint32_t length) override {
        std::lock_guard<std::mutex> lock(_mutex);
        _frames.push_back({chassisId, static_cast<int>(type),
                           std::string(reinterpret_cast<const char*>(data), length)});
    }

    std::vector<ReceivedFrame> frames() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _frames;
    }

    std::vector<ReceivedFrame> framesOfType(int type) const {
        std::vector<ReceivedFrame> out;
        for (auto& f : frames()) {
            if (f.type == type) {
                out.push_back(f);
            }
        }
        return out;
    }

private:
    mutable std::mutex _mutex;
    std::vector<ReceivedFrame> _frames;
};

// Waits short enough for tests; keep-alive limits stay long unless a test shortens them.
inline ConnectionTiming fastRetries() {
    ConnectionTiming timing;
    timing.retryShort = std::chrono::milliseconds(20);
    timing.retryLong = std::chrono::milliseconds(40);
    timing.connectTimeout = std::chrono::milliseconds(1000);
    timing.handshakeTimeout = std::chrono::milliseconds(1000);
    return timing;
}

// Builds a link for chassis `id` and registers it, so that the commands the link queues for
// itself (connect-time and keep-alive requests) reach it through the registry.
inline std::shared_ptr<NetworkConnection> makeRegisteredLink(const std::string& address,
                                                             std::uint32_t id,
                                                             std::shared_ptr<ProtoParse> parser,
                                                             ConnectionTiming timing,
                                                             std::uint32_t port = 7777) {
    auto link = std::make_shared<NetworkConnection>(address, port, id, std::move(parser), timing);
    DeviceMgr::GetInstance()->attachConnection(static_cast<std::int32_t>(id), address, link);
    return link;
}

}  // namespace link_test
