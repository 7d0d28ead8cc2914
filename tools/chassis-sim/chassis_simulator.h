#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace chassis_sim {

enum class SignalMode {
    Realistic,      // per-sensor rhythm, mains hum, noise and DC offset
    Deterministic,  // val = deterministicValue(chassis, sensor, data type, timestamp)
};

struct SimConfig {
    // One simulated chassis per address, in this order (chassis index 0, 1, ...).
    std::vector<std::string> addresses{"127.0.0.1"};
    std::uint16_t port = 7777;
    std::uint32_t slots = 16;
    // Sensor cards, in slots 1 .. sensors (sensor id = slot number).
    std::uint32_t sensors = 16;
    // Data types configured on every sensor.
    std::vector<std::uint32_t> dataTypes{28, 50};
    int mainsHz = 60;
    SignalMode mode = SignalMode::Realistic;
    // Addresses outside 127.0.0.0/8 are refused unless this is set.
    bool allowNonLoopback = false;
    // One line per connection and per command received, on standard output.
    bool log = true;
    // Added to every timestamp chassis i streams (entry i; missing entries are 0), modulo 2^32.
    // The chassis still tick together, so with {0, 3} chassis 1 stamps each instant 3 higher
    // than chassis 0: after pausing both, connecting and resuming them in one call, chassis 0's
    // first packet carries T and chassis 1's T + 3, and both go on one per millisecond.
    std::vector<std::uint32_t> timestampOffsets;
    // The password that switches developer mode on. Empty accepts any non-empty password.
    std::string devPassword = "dev";
    // Time between the steps of a logic sequence or an update (first step at the command).
    std::chrono::milliseconds stepInterval{200};
};

// The sample value of deterministic mode, an exact integer function:
//   100000000 * (chassis % 21) + 1000000 * (sensor % 100) + 10000 * (dataType % 100)
//   + (timestamp % 10000)
// It always fits a signed 32-bit value.
std::int32_t deterministicValue(std::uint32_t chassis, std::uint32_t sensor, std::uint32_t dataType,
                                std::uint32_t timestamp);

// The content of a card register that was never written, which ONE_TIME_READ_REQ reports
// until a RAW_CMD writes it; a fixed function of its address:
//   65536 * (sensor % 65536) + (registerAddress % 65536)
std::uint32_t registerReadValue(std::uint32_t sensor, std::uint32_t registerAddress);

// Worst-case payload bytes of one DataPacket for the configuration; a chassis never sends a
// payload above 2048 bytes, so start() refuses configurations above that.
std::size_t worstCaseDataPacketSize(const SimConfig& config);

struct ReceivedCommand {
    std::string address;  // chassis address that received it
    int cmd = -1;         // CmdPacket::cmd, or -1 when the payload did not decode
    std::string payload;  // the frame payload as received
};

// A TLS server per chassis address on `port`, playing the chassis' part of the link: frames
// of a 16-bit big-endian type and length; answers status requests, applies CONFIG_LIST and
// CLOSED_LOOP_REQ to the chassis, answers DEV_MODE_REQ, keeps a register file per card for
// RAW_CMD and ONE_TIME_READ_REQ, runs logic sequences (LOGIC_REQ, LOGIC_INTERRUPT_REQ) and
// the update flow (UPDATE, UPDATE_COMMIT) with timed status reports; streams one DataPacket
// per millisecond, paced by an absolute clock shared by every chassis of the simulator, so
// all chassis stamp the same instant with the same timestamp (plus the chassis' timestamp
// offset) and no timestamp is ever skipped.
class ChassisSimulator {
public:
    explicit ChassisSimulator(SimConfig config);
    ~ChassisSimulator();
    ChassisSimulator(const ChassisSimulator&) = delete;
    ChassisSimulator& operator=(const ChassisSimulator&) = delete;

    // Makes the certificate, binds every address and starts serving. On failure returns false
    // and describes the reason in `error` (refused address, bind failure, packet too large).
    bool start(std::string* error = nullptr);
    // Closes every link and listener and joins all threads. Idempotent.
    void stop();

    // Fault switches. `address` selects one chassis; empty means every chassis; an address
    // that is not served selects none. Streaming and silence are states of the chassis and
    // hold for links made later too; the frame senders act on the links open at the call.
    //
    // Data packets on or off; replies are still sent. Turning streaming back on starts at the
    // millisecond of the call (the paused span is never sent); every chassis and link resumed
    // by one call starts at the same tick.
    void setStreaming(bool on, const std::string& address = {});
    // Nothing at all is written and replies and reports are dropped; commands are still read,
    // logged, recorded and acted on. Speaking again starts the stream at the millisecond of
    // the call.
    void setSilent(bool on, const std::string& address = {});
    // Drops the links at once, without a TLS close notify; returns once they are gone.
    void closeConnections(const std::string& address = {});
    void sendMalformed(const std::string& address = {});  // a type-3 frame that won't decode
    // A type-3 header announcing `announced` payload bytes followed by exactly that many zero
    // bytes, so a reader that skips the announced length stays in step.
    void sendOversized(std::uint16_t announced, const std::string& address = {});
    // Raw bytes written into each selected link's stream after what is queued, in one TLS
    // record when they fit one (16 KiB). The data stream continues without a gap afterwards.
    void injectBytes(const std::string& bytes, const std::string& address = {});

    // Status messages on demand. Each is sent to every link of the selected chassis, queued
    // like injected bytes; the state it carries is kept, so later complete statuses report it.
    // Each returns true when at least one chassis took it. A sensor id outside 1 .. sensors
    // changes and sends nothing.
    //
    // A SENSOR_STATE message with the sensor's state and `flags` as error_flags (ERROR when
    // non-zero, READY when 0, which clears the error).
    bool setSensorError(std::uint32_t sensorId, std::uint32_t flags,
                        const std::string& address = {});
    // A SENSOR_FIELD message with the sensor's field components.
    bool setSensorField(std::uint32_t sensorId, float x, float y, float z,
                        const std::string& address = {});
    // A SENSOR_LED message with the sensor's LED state.
    bool setSensorLed(std::uint32_t sensorId, std::uint32_t blinkState, std::uint32_t color,
                      const std::string& address = {});
    // A PROGRESS message; false when the text would not fit a 2048-byte status.
    bool sendProgress(std::uint32_t progress, const std::string& message,
                      const std::string& address = {});

    // Observation, for tests. What stopped chassis observed stays readable until start().
    // Links open now (from TCP accept until closed by either side).
    std::size_t openConnections(const std::string& address = {}) const;
    // TCP connections accepted since start, including ones that never finished the handshake.
    std::size_t acceptedConnections(const std::string& address = {}) const;
    // Command frames received, in arrival order per chassis, chassis after chassis.
    std::vector<ReceivedCommand> receivedCommands(const std::string& address = {}) const;
    // The timestamp of the current millisecond of the shared clock, without any chassis'
    // timestamp offset.
    std::uint32_t currentTimestamp() const;
    // The clock's epoch as Unix wall-clock milliseconds, taken at start(): timestamp t (less
    // the chassis' offset) is due at epochUnixMs() + t, so another process on this machine
    // can tell the age of a sample from its timestamp.
    std::int64_t epochUnixMs() const;

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

}  // namespace chassis_sim
