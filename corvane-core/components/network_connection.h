#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "frame_codec.h"

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

class ProtoParse;

// The waits of a chassis link. The defaults are those of the real system; tests shorten them.
struct ConnectionTiming {
    std::chrono::milliseconds retryShort{5000};          // first four reconnect waits
    std::chrono::milliseconds retryLong{15000};          // every later reconnect wait
    std::chrono::milliseconds statusRequestAfter{1000};  // silence before a STATUS_REQ is sent
    std::chrono::milliseconds dropAfter{3000};    // silence, with a request outstanding, that drops
    std::chrono::milliseconds pollInterval{250};  // longest wait of one service pass
    std::chrono::milliseconds connectTimeout{5000};    // TCP connect
    std::chrono::milliseconds handshakeTimeout{5000};  // TLS handshake
};

// The client side of the TLS link to one chassis, owned by one thread: it connects and
// reconnects by itself, keeps the link alive with status requests, cuts the received stream
// into frames for the chassis' dispatcher and writes the command frames queued for it.
class NetworkConnection {
public:
    NetworkConnection(std::string address, std::uint32_t port, std::uint32_t chassisId,
                      std::shared_ptr<ProtoParse> parser,
                      ConnectionTiming timing = defaultTiming());
    ~NetworkConnection();
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    void start();
    // Ends the thread and waits for it. Never hangs: waits and socket operations are woken.
    void stop();
    bool isConnected() const { return _connected.load(); }
    // False once stop was called or the thread gave up for good (first connect failed).
    bool isRunning() const { return _running.load(); }
    // The thread ended by itself (the first connect failed): this chassis is never tried again.
    bool hasGivenUp() const { return _gaveUp.load(); }
    // Takes a serialized CmdPacket; callable from any thread, connected or not. Queued
    // payloads survive lost links and are sent in order after the next connect.
    void queueCmd(std::string payload);

    // Timing given to connections that are built without an explicit one.
    static ConnectionTiming defaultTiming();
    static void setDefaultTiming(const ConnectionTiming& timing);

    // Observer of every reconnect wait chosen, called on the connection thread before it
    // waits. Set before start.
    void setRetryObserver(std::function<void(std::chrono::milliseconds)> observer);

private:
    enum class WriteResult { Done, Retry, Failed };

    void connectionThread();
    void serviceLink(SSL* ssl, int fd, std::string& pending);
    int connectSocket();
    SSL* handshake(int fd);
    bool waitFd(int fd, short events, std::chrono::steady_clock::time_point deadline);
    bool readSocket(SSL* ssl);
    WriteResult writeSocket(SSL* ssl, std::uint16_t type, const std::string& payload);
    bool waitBeforeRetry(std::chrono::milliseconds delay);
    void wake();
    void onFrame(int type, const std::uint8_t* payload, std::uint16_t length);

    std::string _address;
    std::uint32_t _port;
    std::uint32_t _chassisId;
    std::shared_ptr<ProtoParse> _parser;
    std::shared_ptr<std::thread> _thread;
    std::atomic<bool> _running{false};
    SSL_CTX* _sslCtx = nullptr;

    FrameAssembler _assembler;

    // Guards _outgoing only; held for one push or one pop. Taken after the registry lock.
    std::mutex _queueMutex;
    std::deque<std::string> _outgoing;

    // Owned by the connection thread.
    int _readWantsWrite = 0;
    int _writeWantsRead = 0;
    int _wouldBlock = 0;
    std::uint8_t _sendBuffer[SEND_BUFFER_SIZE] = {};
    std::size_t _sendOffset = 0;  // bytes of the pending frame already written

    std::atomic<bool> _connected{false};
    std::atomic<bool> _gaveUp{false};

    ConnectionTiming _timing;
    std::function<void(std::chrono::milliseconds)> _retryObserver;

    // Wakes the reconnect wait on stop; guards nothing else.
    std::mutex _waitMutex;
    std::condition_variable _waitCv;
    // Readable once stop was called, so socket waits end at once.
    int _wakeFd = -1;
};
