#include "sim_console.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <sstream>
#include <vector>

#include "chassis_simulator.h"
#include "log_line.h"
#include "shutdown_signal.h"

namespace chassis_sim {

namespace {

constexpr std::size_t MAX_LINE = 1024;

std::vector<std::string> words(std::string_view line) {
    std::istringstream stream{std::string(line)};
    std::vector<std::string> result;
    for (std::string word; stream >> word;) {
        result.push_back(word);
    }
    return result;
}

// Decimal, or hexadecimal after 0x (error flags are bit masks).
bool parseUnsigned(const std::string& text, std::uint32_t& out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(begin, end, out, hex ? 16 : 10);
    return ec == std::errc() && stop == end && begin != end;
}

bool isDottedIpv4(const std::string& text) {
    in_addr parsed{};
    return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

std::string applyStatusCommand(ChassisSimulator& simulator, const std::vector<std::string>& w,
                               bool& ok) {
    const std::string& name = w[0];
    if (name == "error") {
        std::uint32_t sensor = 0;
        std::uint32_t flags = 0;
        if (w.size() < 3 || w.size() > 4 || !parseUnsigned(w[1], sensor) ||
            !parseUnsigned(w[2], flags)) {
            return "usage: error SENSOR FLAGS [address] (FLAGS decimal or 0x hex; 0 clears)";
        }
        const std::string address = w.size() == 4 ? w[3] : std::string();
        if (!simulator.setSensorError(sensor, flags, address)) {
            return "error: no sensor " + w[1] + " on " +
                   (address.empty() ? "any chassis" : address);
        }
        ok = true;
        return "error: sensor " + w[1] + " flags " + w[2] + " sent";
    }
    // progress N TEXT... [address]: a last word that is an address names the chassis.
    std::uint32_t percent = 0;
    const bool addressed = w.size() >= 3 && isDottedIpv4(w.back());
    const std::size_t textEnd = addressed ? w.size() - 1 : w.size();
    if (w.size() < 3 || !parseUnsigned(w[1], percent) || percent > 100 || textEnd < 3) {
        return "usage: progress N TEXT [address] (N 0 to 100)";
    }
    std::string text = w[2];
    for (std::size_t i = 3; i < textEnd; ++i) {
        text += " " + w[i];
    }
    const std::string address = addressed ? w.back() : std::string();
    if (!simulator.sendProgress(percent, text, address)) {
        return "progress: not sent to " + (address.empty() ? "any chassis" : address);
    }
    ok = true;
    return "progress: " + w[1] + "% '" + text + "' sent";
}

}  // namespace

SimConsole::SimConsole(ChassisSimulator& simulator, ShutdownSignal& shutdown,
                       std::optional<std::chrono::milliseconds> duration, int inputFd)
    : _simulator(simulator), _shutdown(shutdown), _duration(duration), _inputFd(inputFd) {}

std::string applyConsoleCommand(ChassisSimulator& simulator, std::string_view line, bool& ok) {
    ok = false;
    const std::vector<std::string> w = words(line);
    if (w.empty()) {
        return "empty command";
    }
    const std::string& name = w[0];
    if (name == "error" || name == "progress") {
        return applyStatusCommand(simulator, w, ok);
    }
    const bool takesCount = name == "oversized";
    const std::size_t addressAt = takesCount ? 2 : 1;
    if (w.size() > addressAt + 1 || (takesCount && w.size() < 2)) {
        return takesCount ? "usage: oversized N [address]" : "usage: " + name + " [address]";
    }
    const std::string address = w.size() > addressAt ? w[addressAt] : std::string();
    const std::string where = address.empty() ? "every chassis" : address;

    ok = true;
    if (name == "silence" || name == "speak") {
        simulator.setSilent(name == "silence", address);
        return name + ": " + where + (name == "silence" ? " sends nothing" : " speaks again");
    }
    if (name == "pause" || name == "resume") {
        simulator.setStreaming(name == "resume", address);
        return name + ": data packets " + (name == "pause" ? "off" : "on") + " on " + where;
    }
    if (name == "close") {
        simulator.closeConnections(address);
        return "close: links of " + where + " dropped";
    }
    if (name == "malformed") {
        simulator.sendMalformed(address);
        return "malformed: undecodable data frame queued on " + where;
    }
    if (name == "oversized") {
        unsigned announced = 0;
        const std::string& count = w[1];
        const auto [end, ec] =
            std::from_chars(count.data(), count.data() + count.size(), announced);
        if (ec != std::errc() || end != count.data() + count.size() || announced > 65535) {
            ok = false;
            return "oversized: N must be 0 to 65535, not '" + count + "'";
        }
        simulator.sendOversized(static_cast<std::uint16_t>(announced), address);
        return "oversized: frame announcing " + count + " bytes queued on " + where;
    }
    ok = false;
    return "unknown command '" + name +
           "' (silence, speak, pause, resume, close, malformed, oversized N, error SENSOR FLAGS, "
           "progress N TEXT)";
}

void SimConsole::readInput() {
    char buffer[512];
    const ssize_t count = ::read(_inputFd, buffer, sizeof buffer);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        _inputFd = -1;  // end of input: commands are optional
        return;
    }
    if (count < 0) {
        return;
    }
    for (ssize_t i = 0; i < count; ++i) {
        const char c = buffer[i];
        if (c != '\n') {
            if (_pending.size() < MAX_LINE) {
                _pending.push_back(c);
            } else {
                _discarding = true;
            }
            continue;
        }
        if (_discarding) {
            errLine("command line too long, ignored");
        } else if (!words(_pending).empty()) {
            bool ok = false;
            const std::string reply = applyConsoleCommand(_simulator, _pending, ok);
            ok ? outLine(reply) : errLine(reply);
        }
        _pending.clear();
        _discarding = false;
    }
}

int SimConsole::run() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = _duration ? Clock::now() + *_duration : Clock::time_point::max();
    for (;;) {
        if (const int signal = _shutdown.take(); signal != 0) {
            return signal;
        }
        int timeout = -1;
        if (_duration) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return 0;
            }
            timeout = static_cast<int>(std::min<long long>(left.count() + 1, 60000));
        }
        pollfd fds[2] = {{_shutdown.fd(), POLLIN, 0}, {_inputFd, POLLIN, 0}};
        const int ready = ::poll(fds, _inputFd >= 0 ? 2 : 1, timeout);
        if (ready > 0 && _inputFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            readInput();
        }
    }
}

}  // namespace chassis_sim
