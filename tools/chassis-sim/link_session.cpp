#include "link_session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include "chassis_messages.h"
#include "log_line.h"
#include "net-protocol.pb.h"
#include "sim_clock.h"

namespace chassis_sim {

namespace {

using Clock = SimClock::Clock;

constexpr auto HANDSHAKE_TIMEOUT = std::chrono::seconds(5);
// Longest sleep when no tick is due; switches and stop wake the thread earlier.
constexpr auto IDLE_WAIT = std::chrono::milliseconds(100);
// Reads per pass, so a client that floods commands cannot starve the stream.
constexpr int MAX_READS_PER_PASS = 64;

// Waits for `events` on `fd` or a wake-up, at most until `deadline`. Returns the revents of fd.
short waitFor(int fd, short events, int wakeFd, Clock::time_point deadline) {
    const auto now = Clock::now();
    const auto left = deadline > now ? deadline - now : Clock::duration::zero();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec timeout{static_cast<time_t>(nanos / 1000000000),
                     static_cast<long>(nanos % 1000000000)};
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    if (::ppoll(fds, 2, &timeout, nullptr) <= 0) {
        return 0;
    }
    return fds[0].revents;
}

std::string commandName(int cmd) {
    if (cmd < 0) {
        return "undecodable command";
    }
    const std::string& name = CmdPacket_EnumCmdType_Name(static_cast<CmdPacket_EnumCmdType>(cmd));
    return name.empty() ? "command " + std::to_string(cmd) : name;
}

}  // namespace

LinkSession::LinkSession(const LinkEnvironment& environment, int fd, std::string peer,
                         const ChannelList& channels)
    : _env(environment),
      _peer(std::move(peer)),
      _fd(fd),
      _wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      _assembler([this](int type, const std::uint8_t* payload, std::uint16_t length) {
          onFrame(type, payload, length);
      }),
      _encoder(environment.messages->name(), environment.config->sensors, *environment.signal,
               channels),
      _acceptedTick(environment.clock->tickAt(Clock::now())) {}

LinkSession::~LinkSession() {
    stop();
    if (_fd >= 0) {
        ::close(_fd);  // never started
    }
    if (_wakeFd >= 0) {
        ::close(_wakeFd);
    }
}

void LinkSession::start() {
    if (!_thread.joinable() && !_finished.load()) {
        _thread = std::thread(&LinkSession::run, this);
    }
}

void LinkSession::stop() {
    _stopRequested.store(true);
    wake();
    if (_thread.joinable()) {
        _thread.join();
    }
}

void LinkSession::wake() {
    if (_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(_wakeFd, &one, sizeof one);
    }
}

void LinkSession::enqueue(std::string bytes, std::shared_ptr<const ChannelList> channels) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _injected.push_back(Injected{std::move(bytes), std::move(channels)});
    }
    wake();
}

void LinkSession::drainWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(_wakeFd, &count, sizeof count);
}

void LinkSession::takeInjected() {
    std::vector<Injected> injected;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        injected.swap(_injected);
    }
    for (Injected& item : injected) {
        _out.appendSealed(std::move(item.bytes));
        if (item.channels) {
            _encoder.setChannels(*item.channels);
        }
    }
}

void LinkSession::run() {
    // A client that vanishes must cost the link, not the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    const bool log = _env.config->log;
    if (handshake()) {
        if (log) {
            outLine(_env.address + ": link from " + _peer + " established (" +
                    SSL_get_cipher(_ssl) + ")");
        }
        serve();
        if (log) {
            outLine(_env.address + ": link from " + _peer + " closed");
        }
    } else if (log && !_stopRequested.load()) {
        errLine(_env.address + ": TLS handshake with " + _peer + " failed");
    }
    // Abrupt end on purpose: no close notify, the way a chassis that loses power ends a link.
    if (_ssl != nullptr) {
        SSL_free(_ssl);
        _ssl = nullptr;
    }
    ::close(_fd);
    _fd = -1;
    ERR_clear_error();
    _finished.store(true);
}

bool LinkSession::handshake() {
    _ssl = SSL_new(_env.tls);
    if (_ssl == nullptr || SSL_set_fd(_ssl, _fd) != 1) {
        return false;
    }
    const auto deadline = Clock::now() + HANDSHAKE_TIMEOUT;
    while (!_stopRequested.load() && Clock::now() < deadline) {
        ERR_clear_error();
        const int result = SSL_accept(_ssl);
        if (result == 1) {
            return true;
        }
        const int error = SSL_get_error(_ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return false;
        }
        drainWake();
        waitFor(_fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, _wakeFd, deadline);
    }
    return false;
}

bool LinkSession::readAvailable(bool& readWantsWrite) {
    readWantsWrite = false;
    std::uint8_t chunk[4096];
    for (int i = 0; i < MAX_READS_PER_PASS; ++i) {
        ERR_clear_error();
        const int count = SSL_read(_ssl, chunk, sizeof chunk);
        if (count > 0) {
            _assembler.feed(chunk, static_cast<std::size_t>(count));
            continue;
        }
        switch (SSL_get_error(_ssl, count)) {
            case SSL_ERROR_WANT_READ:
                return true;
            case SSL_ERROR_WANT_WRITE:
                readWantsWrite = true;
                return true;
            default:
                return false;  // closed by the peer, reset, or a protocol error
        }
    }
    return true;
}

void LinkSession::onFrame(int type, const std::uint8_t* payload, std::uint16_t length) {
    if (type != CMD_PACKET) {
        if (_env.config->log) {
            outLine(_env.address + ": ignored frame of type " + std::to_string(type) + ", " +
                    std::to_string(length) + " bytes");
        }
        return;
    }
    CmdPacket command;
    const bool decoded = command.ParseFromArray(payload, length);
    const int cmd = decoded ? static_cast<int>(command.cmd()) : -1;
    if (_env.config->log) {
        outLine(_env.address + ": received " + commandName(cmd) + ", " + std::to_string(length) +
                " bytes");
    }
    if (_env.onCommand) {
        _env.onCommand(ReceivedCommand{
            _env.address, cmd, std::string(reinterpret_cast<const char*>(payload), length)});
    }
    if (!decoded || !_env.answer) {
        return;
    }
    // A silent chassis still acts on commands; it only drops what it would send.
    std::string reply = _env.answer(command);
    if (!reply.empty() && !_env.switches->silent.load()) {
        // A batch takes one frame at a time; a complete status with its follow-ups is more.
        if (reply.size() <= FRAME_HEADER_SIZE + MAX_RECEIVE_PAYLOAD) {
            _out.batch().append(reply);
        } else {
            _out.appendSealed(std::move(reply));
        }
    }
    // A report this command caused goes out right behind it, and data packets generated from
    // now on follow any new channel set.
    takeInjected();
}

void LinkSession::serve() {
    const SimClock& clock = *_env.clock;
    const LinkSwitches& switches = *_env.switches;
    bool readWantsWrite = false;
    while (!_stopRequested.load()) {
        drainWake();
        takeInjected();
        // Replies count against the backlog too: while too much waits unsent, commands stay
        // in the socket, so a client that floods requests without reading gets pushed back.
        const bool mayRead = _out.pendingBytes() < READ_PAUSE_LIMIT;
        if (mayRead && !readAvailable(readWantsWrite)) {
            return;
        }

        const auto now = Clock::now();
        const std::uint64_t nowTick = clock.tickAt(now);
        const bool silent = switches.silent.load();
        const bool active = switches.streaming.load() && !silent;
        if (active && !_wasActive) {
            // A link that existed when the stream was let go on starts at that call's tick,
            // like every other link the call restarted, even when its handshake ended later;
            // a link accepted afterwards starts with the current millisecond.
            const std::uint64_t resumed = switches.resumeTick.load();
            _nextTick = resumed >= _acceptedTick ? std::min(resumed, nowTick) : nowTick;
        }
        _wasActive = active;
        while (active && _nextTick <= nowTick && _out.pendingBytes() < BACKLOG_LIMIT) {
            _encoder.appendFrame(_out.batch(),
                                 static_cast<std::uint32_t>(_nextTick) + _env.timestampOffset);
            ++_nextTick;
        }

        auto flushed = OutputQueue::FlushResult::Done;
        if (!silent && !_out.empty()) {
            flushed = _out.flush(_ssl);
            if (flushed == OutputQueue::FlushResult::Failed) {
                return;
            }
        }

        short events = mayRead ? POLLIN : 0;
        if (flushed == OutputQueue::FlushResult::WantWrite || readWantsWrite) {
            events |= POLLOUT;
        }
        auto deadline = now + IDLE_WAIT;
        if (active && _out.pendingBytes() < BACKLOG_LIMIT) {
            deadline = clock.dueTime(_nextTick);
        }
        waitFor(_fd, events, _wakeFd, deadline);
    }
}

}  // namespace chassis_sim
