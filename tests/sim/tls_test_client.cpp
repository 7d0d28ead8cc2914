#include "tls_test_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "frame_codec.h"

namespace sim_test {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

TlsTestClient::TlsTestClient() {
    // Writing to a link the server dropped must fail the write, not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    _ctx = SSL_CTX_new(TLS_client_method());
}

TlsTestClient::~TlsTestClient() {
    disconnect();
    SSL_CTX_free(_ctx);
}

void TlsTestClient::disconnect() {
    if (_ssl != nullptr) {
        SSL_free(_ssl);
        _ssl = nullptr;
    }
    if (_fd >= 0) {
        ::close(_fd);
        _fd = -1;
    }
    _buffer.clear();
    _bufferOffset = 0;
    _readEnds.clear();
    _closed = false;
}

bool TlsTestClient::connect(const std::string& address, std::uint16_t port, int receiveBuffer) {
    disconnect();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (_ctx == nullptr || inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
        return false;
    }
    _fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0) {
        return false;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    if (::connect(_fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 ||
        ::fcntl(_fd, F_SETFL, ::fcntl(_fd, F_GETFL, 0) | O_NONBLOCK) != 0) {
        disconnect();
        return false;
    }
    _ssl = SSL_new(_ctx);
    SSL_set_fd(_ssl, _fd);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(_ssl);
        if (result == 1) {
            return true;
        }
        const int error = SSL_get_error(_ssl, result);
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        if (events == 0 || !waitSocket(events, deadline)) {
            disconnect();
            return false;
        }
    }
}

bool TlsTestClient::waitSocket(short events, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) {
        return false;
    }
    pollfd fd{_fd, events, 0};
    return ::poll(&fd, 1, static_cast<int>(left)) > 0;
}

bool TlsTestClient::sendRaw(const std::string& bytes) {
    if (_ssl == nullptr || _closed) {
        return false;
    }
    std::size_t sent = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (sent < bytes.size()) {
        ERR_clear_error();
        const int count =
            SSL_write(_ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        const int error = SSL_get_error(_ssl, count);
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        if (events == 0 || !waitSocket(events, deadline)) {
            return false;
        }
    }
    return true;
}

bool TlsTestClient::sendFrame(std::uint16_t type, const std::string& payload) {
    std::string frame;
    appendFrame(frame, type, payload);
    return sendRaw(frame);
}

bool TlsTestClient::sendCommand(CmdPacket::EnumCmdType cmd) {
    CmdPacket packet;
    packet.set_cmd(cmd);
    return sendFrame(CMD_PACKET, packet.SerializeAsString());
}

std::optional<ReceivedFrame> TlsTestClient::takeBufferedFrame() {
    if (_buffer.size() < FRAME_HEADER_SIZE) {
        return std::nullopt;
    }
    const auto byte = [this](std::size_t i) { return static_cast<std::uint8_t>(_buffer[i]); };
    const std::size_t length = byte(2) * 256u + byte(3);
    if (_buffer.size() < FRAME_HEADER_SIZE + length) {
        return std::nullopt;
    }
    ReceivedFrame frame;
    frame.type = static_cast<std::uint16_t>(byte(0) * 256u + byte(1));
    frame.payload = _buffer.substr(FRAME_HEADER_SIZE, length);
    frame.streamOffset = _bufferOffset;
    _buffer.erase(0, FRAME_HEADER_SIZE + length);
    _bufferOffset += FRAME_HEADER_SIZE + length;
    return frame;
}

bool TlsTestClient::readSome(Clock::time_point deadline) {
    char chunk[16384];  // one whole record per read
    for (;;) {
        ERR_clear_error();
        const int count = SSL_read(_ssl, chunk, sizeof chunk);
        if (count > 0) {
            _buffer.append(chunk, static_cast<std::size_t>(count));
            _readEnds.insert(_bufferOffset + _buffer.size());
            return true;
        }
        const int error = SSL_get_error(_ssl, count);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!waitSocket(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
                return false;  // time-out
            }
            continue;
        }
        _closed = true;
        return false;
    }
}

std::optional<ReceivedFrame> TlsTestClient::nextFrame(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto frame = takeBufferedFrame()) {
            return frame;
        }
        if (_ssl == nullptr || _closed || !readSome(deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<ReceivedFrame> TlsTestClient::waitFor(
    const std::function<bool(const ReceivedFrame&)>& wanted, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            return std::nullopt;
        }
        auto frame = nextFrame(left);
        if (!frame || wanted(*frame)) {
            return frame;
        }
    }
}

bool TlsTestClient::closeNotifyReceived() const {
    return _ssl != nullptr && (SSL_get_shutdown(_ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}

bool TlsTestClient::receivedInOneRead(std::uint64_t begin, std::uint64_t end) const {
    // No read ended strictly inside the range.
    const auto after = _readEnds.upper_bound(begin);
    return after == _readEnds.end() || *after >= end;
}

std::optional<DataPacket> asDataPacket(const ReceivedFrame& frame) {
    DataPacket packet;
    if (frame.type != DATA_PACKET ||
        !packet.ParseFromArray(frame.payload.data(), static_cast<int>(frame.payload.size()))) {
        return std::nullopt;
    }
    return packet;
}

std::optional<StatusPacket> asStatusPacket(const ReceivedFrame& frame) {
    StatusPacket packet;
    if (frame.type != STATUS_PACKET ||
        !packet.ParseFromArray(frame.payload.data(), static_cast<int>(frame.payload.size()))) {
        return std::nullopt;
    }
    return packet;
}

std::optional<CmdPacket> asCmdPacket(const ReceivedFrame& frame) {
    CmdPacket packet;
    if (frame.type != CMD_PACKET ||
        !packet.ParseFromArray(frame.payload.data(), static_cast<int>(frame.payload.size()))) {
        return std::nullopt;
    }
    return packet;
}

bool isStatusOfType(const ReceivedFrame& frame, StatusPacket::EnumStatusType type) {
    const auto status = asStatusPacket(frame);
    return status && status->type() == type;
}

std::optional<StatusPacket> requestStatus(TlsTestClient& client, CmdPacket::EnumCmdType cmd,
                                          StatusPacket::EnumStatusType answer) {
    if (!client.sendCommand(cmd)) {
        return std::nullopt;
    }
    const auto frame =
        client.waitFor([answer](const ReceivedFrame& f) { return isStatusOfType(f, answer); },
                       std::chrono::seconds(5));
    return frame ? asStatusPacket(*frame) : std::nullopt;
}

std::vector<ReceivedFrame> completeStatusWithFollowUps(TlsTestClient& client) {
    if (!client.sendCommand(CmdPacket::COMPLETE_SYSTEM_STATUS_REQ) ||
        !client.sendCommand(CmdPacket::STATUS_REQ)) {
        return {};
    }
    std::vector<ReceivedFrame> frames;
    const auto end = client.waitFor(
        [&frames](const ReceivedFrame& f) {
            if (isStatusOfType(f, StatusPacket::COMPLETE_SYSTEM_STATUS) ||
                (!frames.empty() && f.type == STATUS_PACKET &&
                 !isStatusOfType(f, StatusPacket::STATUS))) {
                frames.push_back(f);
            }
            return !frames.empty() && isStatusOfType(f, StatusPacket::STATUS);
        },
        std::chrono::seconds(5));
    return end ? frames : std::vector<ReceivedFrame>{};
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace sim_test
