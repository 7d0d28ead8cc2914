#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chassis_simulator.h"
#include "chassis_state.h"
#include "data_packet_encoder.h"
#include "frame_codec.h"
#include "output_queue.h"

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

namespace chassis_sim {

class ChassisMessages;
class SignalGenerator;
class SimClock;

// Fault switches of one chassis, read by its links on every pass.
struct LinkSwitches {
    std::atomic<bool> streaming{true};  // data packets are generated
    std::atomic<bool> silent{false};    // nothing at all is written, replies are dropped
    // The tick of the last call that let the stream go on; links that existed then start
    // there, so every link resumed by one call starts at the same timestamp.
    std::atomic<std::uint64_t> resumeTick{std::numeric_limits<std::uint64_t>::max()};  // never
};

// What a link needs from its chassis; everything pointed to outlives the link.
struct LinkEnvironment {
    const SimConfig* config = nullptr;
    std::string address;  // the chassis address, for log lines and records
    SSL_CTX* tls = nullptr;
    const SimClock* clock = nullptr;
    const ChassisMessages* messages = nullptr;
    const SignalGenerator* signal = nullptr;
    const LinkSwitches* switches = nullptr;
    std::uint32_t timestampOffset = 0;  // added to every streamed timestamp
    // Every command frame received, called on the link thread before any reply is queued.
    std::function<void(ReceivedCommand)> onCommand;
    // The chassis' answer to a decoded command: frames for this link alone. Reports for every
    // link, this one included, arrive through enqueue() before it returns.
    std::function<std::string(const CmdPacket&)> answer;
};

// One accepted TLS link, served by its own thread: the handshake, then a loop that reads
// command frames and answers them, generates one DataPacket per millisecond on the shared
// clock, and writes without blocking. A link that falls behind sends every missed tick in
// order; packets are generated only while less than BACKLOG_LIMIT bytes wait, so memory stays
// bounded and the tick counter remembers where to go on. Above READ_PAUSE_LIMIT unsent bytes
// the link stops reading commands, which bounds the replies a flooding client can cause.
class LinkSession {
public:
    static constexpr std::size_t BACKLOG_LIMIT = 64 * 1024;
    static constexpr std::size_t READ_PAUSE_LIMIT = 4 * BACKLOG_LIMIT;

    // Takes ownership of the connected socket `fd`; streams `channels` until told otherwise.
    LinkSession(const LinkEnvironment& environment, int fd, std::string peer,
                const ChannelList& channels);
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    void start();
    // Ends the link abruptly (no TLS close notify) and joins the thread. Idempotent.
    void stop();
    // Makes the thread look at the switches and the injection queue now.
    void wake();
    // Raw bytes to write into the stream after what is already queued, in their own record.
    // With `channels`, data packets generated after the bytes carry that channel set.
    void enqueue(std::string bytes, std::shared_ptr<const ChannelList> channels = nullptr);
    // The thread has ended (peer gone, error, or stopped).
    bool finished() const { return _finished.load(); }

private:
    void run();
    bool handshake();
    void serve();
    bool readAvailable(bool& readWantsWrite);
    void onFrame(int type, const std::uint8_t* payload, std::uint16_t length);
    void takeInjected();
    void drainWake();

    const LinkEnvironment& _env;
    std::string _peer;
    int _fd;
    int _wakeFd;
    std::thread _thread;
    std::atomic<bool> _stopRequested{false};
    std::atomic<bool> _finished{false};

    struct Injected {
        std::string bytes;
        std::shared_ptr<const ChannelList> channels;  // set when the channel set changes
    };

    std::mutex _mutex;  // guards _injected only; taken after the chassis server's lock
    std::vector<Injected> _injected;

    // Owned by the link thread alone.
    SSL* _ssl = nullptr;
    OutputQueue _out;
    FrameAssembler _assembler;
    DataPacketEncoder _encoder;
    std::uint64_t _nextTick = 0;  // the next tick to stream
    bool _wasActive = false;      // streaming on and not silent on the previous pass
    std::uint64_t _acceptedTick;  // the tick when the link was accepted
};

}  // namespace chassis_sim
