#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net-protocol.pb.h"

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

namespace sim_test {

struct ReceivedFrame {
    std::uint16_t type = 0;
    std::string payload;             // all announced bytes, whatever the length
    std::uint64_t streamOffset = 0;  // position of the header in the received byte stream
};

// A minimal TLS client of the chassis link for tests: it connects like the viewer (no
// verification, no client certificate), writes frames, and cuts what it receives into frames
// with its own parser, which keeps oversized payloads whole so tests can check their length.
class TlsTestClient {
public:
    TlsTestClient();
    ~TlsTestClient();
    TlsTestClient(const TlsTestClient&) = delete;
    TlsTestClient& operator=(const TlsTestClient&) = delete;

    // TCP connect and TLS handshake. `receiveBuffer` > 0 shrinks the socket's receive buffer so
    // a paused reader makes the server fall behind quickly.
    bool connect(const std::string& address, std::uint16_t port = 7777, int receiveBuffer = 0);
    void disconnect();

    bool sendRaw(const std::string& bytes);
    bool sendFrame(std::uint16_t type, const std::string& payload);
    bool sendCommand(CmdPacket::EnumCmdType cmd);

    // The next frame, waiting at most `timeout`; empty on time-out or when the link ended.
    std::optional<ReceivedFrame> nextFrame(std::chrono::milliseconds timeout);
    // Reads until a frame satisfies `wanted` and returns it; other frames are dropped.
    std::optional<ReceivedFrame> waitFor(const std::function<bool(const ReceivedFrame&)>& wanted,
                                         std::chrono::milliseconds timeout);

    // The server ended the link (or it failed).
    bool closed() const { return _closed; }
    // The server sent a TLS close notify before the link ended.
    bool closeNotifyReceived() const;
    // True when bytes [begin, end) of the stream arrived in one SSL_read, that is in one record.
    bool receivedInOneRead(std::uint64_t begin, std::uint64_t end) const;

private:
    std::optional<ReceivedFrame> takeBufferedFrame();
    bool readSome(std::chrono::steady_clock::time_point deadline);
    bool waitSocket(short events, std::chrono::steady_clock::time_point deadline);

    SSL_CTX* _ctx = nullptr;
    SSL* _ssl = nullptr;
    int _fd = -1;
    bool _closed = false;
    std::string _buffer;                // received bytes not yet cut into frames
    std::uint64_t _bufferOffset = 0;    // stream position of _buffer[0]
    std::set<std::uint64_t> _readEnds;  // stream positions where an SSL_read ended
};

// Decodes a data frame; empty when the frame is not type 3 or does not fully decode.
std::optional<DataPacket> asDataPacket(const ReceivedFrame& frame);
// Decodes a status frame; empty when the frame is not type 2 or lacks required fields.
std::optional<StatusPacket> asStatusPacket(const ReceivedFrame& frame);
// Decodes a command frame; empty when the frame is not type 1 or lacks required fields.
std::optional<CmdPacket> asCmdPacket(const ReceivedFrame& frame);

// True for a status frame of `type` with every required field.
bool isStatusOfType(const ReceivedFrame& frame, StatusPacket::EnumStatusType type);
// Sends `cmd` and waits for the status of type `answer`, dropping other frames.
std::optional<StatusPacket> requestStatus(TlsTestClient& client, CmdPacket::EnumCmdType cmd,
                                          StatusPacket::EnumStatusType answer);

// The complete status and the status messages that come with it, as frames in arrival order:
// sends COMPLETE_SYSTEM_STATUS_REQ and then STATUS_REQ, and keeps every status frame from the
// complete status up to the STATUS answer, which is left out. Empty on time-out.
std::vector<ReceivedFrame> completeStatusWithFollowUps(TlsTestClient& client);

// Polls `condition` until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace sim_test
