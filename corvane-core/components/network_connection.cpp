#include "network_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "callback_mgr.h"
#include "cmd_gen.h"
#include "device_mgr.h"
#include "log_line.h"
#include "proto_parse.h"

namespace {

std::mutex defaultTimingMutex;
ConnectionTiming defaultTimingValue;

// connectSocket results besides a descriptor.
constexpr int CONNECT_FAILED = -1;
constexpr int CONNECT_STOPPED = -2;

}  // namespace

ConnectionTiming NetworkConnection::defaultTiming() {
    std::lock_guard<std::mutex> lock(defaultTimingMutex);
    return defaultTimingValue;
}

void NetworkConnection::setDefaultTiming(const ConnectionTiming& timing) {
    std::lock_guard<std::mutex> lock(defaultTimingMutex);
    defaultTimingValue = timing;
}

NetworkConnection::NetworkConnection(std::string address, std::uint32_t port,
                                     std::uint32_t chassisId, std::shared_ptr<ProtoParse> parser,
                                     ConnectionTiming timing)
    : _address(std::move(address)),
      _port(port),
      _chassisId(chassisId),
      _parser(std::move(parser)),
      _assembler([this](int type, const std::uint8_t* payload, std::uint16_t length) {
          onFrame(type, payload, length);
      }),
      _timing(timing) {
    _sslCtx = SSL_CTX_new(TLS_client_method());
    if (_sslCtx == nullptr) {
        errLine("Failed to create SSL context");
    } else {
        // A write the TLS layer could not finish is retried from a rebuilt buffer.
        SSL_CTX_set_mode(_sslCtx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    }
    _wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

NetworkConnection::~NetworkConnection() {
    stop();
    if (_sslCtx != nullptr) {
        SSL_CTX_free(_sslCtx);
    }
    if (_wakeFd >= 0) {
        ::close(_wakeFd);
    }
}

void NetworkConnection::setRetryObserver(std::function<void(std::chrono::milliseconds)> observer) {
    _retryObserver = std::move(observer);
}

void NetworkConnection::start() {
    if (_thread) {
        if (_running.load()) {
            return;
        }
        // The previous thread gave up by itself; collect it before starting again.
        _thread->join();
        _thread.reset();
    }
    if (_wakeFd >= 0) {
        std::uint64_t drained = 0;
        [[maybe_unused]] auto n = ::read(_wakeFd, &drained, sizeof drained);
    }
    outLine("Starting network connection");
    _gaveUp.store(false);
    _running.store(true);
    _thread = std::make_shared<std::thread>(&NetworkConnection::connectionThread, this);
}

void NetworkConnection::stop() {
    if (!_thread) {
        return;
    }
    outLine("Stopping network connection");
    {
        std::lock_guard<std::mutex> lock(_waitMutex);
        _running.store(false);
    }
    _waitCv.notify_all();
    wake();
    if (_thread->get_id() == std::this_thread::get_id()) {
        // Called from a callback on this very thread: it ends once the call returns.
        _thread->detach();
    } else {
        _thread->join();
    }
    _thread.reset();
    outLine("Connection ended");
}

void NetworkConnection::queueCmd(std::string payload) {
    std::lock_guard<std::mutex> lock(_queueMutex);
    _outgoing.push_back(std::move(payload));
}

void NetworkConnection::wake() {
    if (_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(_wakeFd, &one, sizeof one);
    }
}

bool NetworkConnection::waitBeforeRetry(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(_waitMutex);
    _waitCv.wait_for(lock, delay, [this] { return !_running.load(); });
    return _running.load();
}

bool NetworkConnection::waitFd(int fd, short events,
                               std::chrono::steady_clock::time_point deadline) {
    while (_running.load()) {
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            return false;
        }
        pollfd fds[2] = {{fd, events, 0}, {_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, _wakeFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::min<long long>(remaining.count(), 250)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (ready > 0 && fds[0].revents != 0) {
            return true;
        }
    }
    return false;
}

int NetworkConnection::connectSocket() {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(_port));
    // Text that is not a dotted IPv4 address is a failed connect, never a connect to 0.0.0.0.
    if (inet_pton(AF_INET, _address.c_str(), &addr.sin_addr) != 1) {
        return CONNECT_FAILED;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return CONNECT_FAILED;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        return fd;
    }
    if (errno != EINPROGRESS) {
        ::close(fd);
        return CONNECT_FAILED;
    }
    const auto deadline = std::chrono::steady_clock::now() + _timing.connectTimeout;
    if (!waitFd(fd, POLLOUT, deadline)) {
        ::close(fd);
        return _running.load() ? CONNECT_FAILED : CONNECT_STOPPED;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        ::close(fd);
        return CONNECT_FAILED;
    }
    return fd;
}

SSL* NetworkConnection::handshake(int fd) {
    if (_sslCtx == nullptr) {
        return nullptr;
    }
    SSL* ssl = SSL_new(_sslCtx);
    if (ssl == nullptr) {
        return nullptr;
    }
    SSL_set_fd(ssl, fd);
    const auto deadline = std::chrono::steady_clock::now() + _timing.handshakeTimeout;
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(ssl);
        if (result == 1) {
            return ssl;
        }
        const int error = SSL_get_error(ssl, result);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ) {
            events = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            events = POLLOUT;
        }
        if (events == 0 || !waitFd(fd, events, deadline)) {
            SSL_free(ssl);
            return nullptr;
        }
    }
}

void NetworkConnection::connectionThread() {
    // A peer that vanishes must cost the link, not the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    outLine("Starting connection to " + _address + " process: " + std::to_string(::getpid()) +
            " thread: " + std::to_string(::gettid()));
    bool firstAttempt = true;
    int retryCount = 0;
    std::string pending;

    while (_running.load()) {
        if (!firstAttempt) {
            ++retryCount;
            const auto delay = retryCount < 5 ? _timing.retryShort : _timing.retryLong;
            if (_retryObserver) {
                _retryObserver(delay);
            }
            if (!waitBeforeRetry(delay)) {
                break;
            }
        }

        const int fd = connectSocket();
        if (fd == CONNECT_STOPPED) {
            break;
        }
        if (fd < 0) {
            errLine("Failed to connect");
            if (firstAttempt) {
                _gaveUp.store(true);
                _running.store(false);
            }
            continue;
        }

        firstAttempt = false;
        SSL* ssl = handshake(fd);
        if (ssl == nullptr) {
            ::close(fd);
            if (!_running.load()) {
                break;
            }
            errLine("Failed to do SSL_connect");
            continue;
        }

        outLine(std::string("Got SSL connection! With ") + SSL_get_cipher(ssl));
        _connected.store(true);
        CallbackMgr::GetInstance()->callbackConnectionStatusChanged();
        retryCount = 0;
        _assembler.reset();  // a partial frame of an earlier link is dropped
        pending.clear();
        _sendOffset = 0;
        _readWantsWrite = 0;
        _writeWantsRead = 0;
        _wouldBlock = 0;

        const int flags = ::fcntl(fd, F_GETFL, 0);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
            errLine("Failed to set ioctl");
            _connected.store(false);
            _gaveUp.store(true);
            _running.store(false);
            SSL_free(ssl);
            ::close(fd);
            return;
        }

        CmdGen::GetInstance()->genCmdCompleteSystemStatusReq(static_cast<std::int32_t>(_chassisId));
        serviceLink(ssl, fd, pending);

        outLine("Chassis " + std::to_string(_chassisId) + " has disconnected!");
        _connected.store(false);
        if (_running.load()) {
            CallbackMgr::GetInstance()->callbackConnectionStatusChanged();
            DeviceMgr::GetInstance()->resetConnection(static_cast<std::int32_t>(_chassisId));
        }
        SSL_free(ssl);
        ::close(fd);
    }
}

void NetworkConnection::serviceLink(SSL* ssl, int fd, std::string& pending) {
    using Clock = std::chrono::steady_clock;
    auto lastRead = Clock::now();
    bool statusRequestOutstanding = false;

    while (_running.load() && _connected.load()) {
        const auto silence = Clock::now() - lastRead;
        if (statusRequestOutstanding && silence >= _timing.dropAfter) {
            errLine("Disconnecting due to timeout");
            _connected.store(false);
            break;
        }
        if (!statusRequestOutstanding && silence >= _timing.statusRequestAfter) {
            outLine("Adding message due to inactivity");
            CmdGen::GetInstance()->genCmdStatusReq(static_cast<std::int32_t>(_chassisId));
            statusRequestOutstanding = true;
        }

        if (pending.empty()) {
            std::lock_guard<std::mutex> lock(_queueMutex);
            if (!_outgoing.empty()) {
                pending = std::move(_outgoing.front());
                _outgoing.pop_front();
                _sendOffset = 0;
            }
        }

        short events = POLLIN;
        if ((_writeWantsRead == 0 && !pending.empty()) || _readWantsWrite != 0) {
            events |= POLLOUT;
        }
        pollfd fds[2] = {{fd, events, 0}, {_wakeFd, POLLIN, 0}};
        const int ready =
            ::poll(fds, _wakeFd >= 0 ? 2 : 1, static_cast<int>(_timing.pollInterval.count()));
        if (ready <= 0) {
            continue;  // time-out or interrupted: next pass
        }
        if (fds[0].revents == 0) {
            continue;  // woken by stop
        }
        const bool readable = (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool writable = (fds[0].revents & POLLOUT) != 0;

        if ((readable && _writeWantsRead == 0) || (_readWantsWrite != 0 && writable)) {
            if (!readSocket(ssl)) {
                _connected.store(false);
                break;
            }
            lastRead = Clock::now();
            statusRequestOutstanding = false;
        }

        if (!pending.empty() && (writable || (_writeWantsRead != 0 && readable))) {
            const WriteResult result = writeSocket(ssl, CMD_PACKET, pending);
            if (result == WriteResult::Failed) {
                _connected.store(false);
                break;
            }
            if (result == WriteResult::Done) {
                pending.clear();
                _sendOffset = 0;
            }
        }
    }
}

bool NetworkConnection::readSocket(SSL* ssl) {
    std::uint8_t chunk[MAX_RECEIVE_PAYLOAD];
    do {
        _readWantsWrite = 0;
        _wouldBlock = 0;
        ERR_clear_error();
        const int count = SSL_read(ssl, chunk, sizeof chunk);
        if (count > 0) {
            _assembler.feed(chunk, static_cast<std::size_t>(count));
            continue;
        }
        switch (SSL_get_error(ssl, count)) {
            case SSL_ERROR_WANT_READ:
                _wouldBlock = 1;
                return true;
            case SSL_ERROR_WANT_WRITE:
                outLine("WANT_WRITE on read request");
                _readWantsWrite = 1;
                return true;
            default:
                return false;  // closed by the peer, system or protocol error
        }
    } while (SSL_pending(ssl) != 0);
    return true;
}

NetworkConnection::WriteResult NetworkConnection::writeSocket(SSL* ssl, std::uint16_t type,
                                                              const std::string& payload) {
    _writeWantsRead = 0;
    if (payload.size() > MAX_SEND_PAYLOAD) {
        errLine("msg of size " + std::to_string(payload.size()) + " too large for buffer");
        return WriteResult::Failed;
    }
    writeFrameHeader(_sendBuffer, type, static_cast<std::uint16_t>(payload.size()));
    std::memcpy(_sendBuffer + FRAME_HEADER_SIZE, payload.data(), payload.size());
    const std::size_t total = FRAME_HEADER_SIZE + payload.size();

    while (_sendOffset < total) {
        ERR_clear_error();
        const int count =
            SSL_write(ssl, _sendBuffer + _sendOffset, static_cast<int>(total - _sendOffset));
        if (count > 0) {
            _sendOffset += static_cast<std::size_t>(count);
            outLine("Wrote " + std::to_string(count) + " bytes to " + _address);
            continue;
        }
        switch (SSL_get_error(ssl, count)) {
            case SSL_ERROR_WANT_READ:
                // Retried on this link once the socket is readable.
                outLine("WANT_READ on write request");
                _writeWantsRead = 1;
                return WriteResult::Retry;
            case SSL_ERROR_WANT_WRITE:
                // Retried on this link once the socket is writable.
                return WriteResult::Retry;
            default:
                errLine("Default in SSL_write");
                return WriteResult::Failed;
        }
    }
    return WriteResult::Done;
}

void NetworkConnection::onFrame(int type, const std::uint8_t* payload, std::uint16_t length) {
    if (_parser) {
        _parser->parseMessage(_chassisId, static_cast<MessageType>(type), payload, length);
    }
}
