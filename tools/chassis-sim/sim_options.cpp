#include "sim_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "config_check.h"

namespace chassis_sim {

namespace {

constexpr std::uint32_t MAX_CHASSIS = 254;  // 127.0.0.1 .. 127.0.0.254
constexpr std::uint32_t MAX_STEP_MS = 60000;

template <typename T>
bool parseNumber(std::string_view text, T low, T high, T& out) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool parseTypes(std::string_view text, std::vector<std::uint32_t>& types) {
    types.clear();
    if (text.empty()) {
        return false;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item =
            text.substr(start, comma == std::string_view::npos ? comma : comma - start);
        std::uint32_t type = 0;
        if (!parseNumber<std::uint32_t>(item, 0, std::numeric_limits<std::int32_t>::max(), type)) {
            return false;
        }
        types.push_back(type);
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool parseSeconds(const std::string& text, std::chrono::milliseconds& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds <= 0.0 ||
        seconds > 1e7) {
        return false;
    }
    out = std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000.0)));
    return out.count() > 0;
}

}  // namespace

std::string simUsage() {
    return "Usage: chassis-sim [options]\n"
           "Plays one or more sensor chassis on loopback addresses: TLS on the chassis port,\n"
           "status answers and one data packet per millisecond.\n"
           "\n"
           "  --address A          serve a chassis on address A (repeatable; in chassis order)\n"
           "  --chassis N          serve N chassis on 127.0.0.1 .. 127.0.0.N (without --address)\n"
           "  --port P             TCP port (default 7777)\n"
           "  --slots N            slots per chassis (default 16)\n"
           "  --sensors N          sensor cards, in slots 1..N (default 16)\n"
           "  --types T1,T2,...    data types of every sensor (default 28,50)\n"
           "  --mains 50|60        mains frequency of the hum (default 60)\n"
           "  --mode realistic|deterministic   signal (default realistic)\n"
           "  --allow-non-loopback accept addresses outside 127.0.0.0/8\n"
           "  --timestamp-offset A=N  add N to every timestamp of the chassis on address A\n"
           "                       (repeatable; default 0)\n"
           "  --dev-password TEXT  password that enables developer mode (default dev)\n"
           "  --step-ms N          time between logic and update steps, 0 to 60000 ms\n"
           "                       (default 200)\n"
           "  --duration SECONDS   stop after this long (default: until SIGINT/SIGTERM)\n"
           "  --quiet              no line per connection and per command\n"
           "  --help               this text\n"
           "\n"
           "Commands on standard input, one per line, each with an optional address at the end:\n"
           "  silence | speak | pause | resume | close | malformed | oversized N\n"
           "  error SENSOR FLAGS (0 clears) | progress N TEXT";
}

bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
    SimConfig& config = options.config;
    std::vector<std::string> addresses;
    std::optional<std::uint32_t> chassisCount;
    std::vector<std::pair<std::string, std::uint32_t>> offsets;  // address, offset

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto bad = [&](const std::string& text, const std::string& expected) {
            error = "bad value '" + text + "' for " + name + ": expected " + expected;
            return false;
        };
        auto flag = [&] {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            return true;
        };

        std::string text;
        if (name == "--help" || name == "-h") {
            if (!flag()) {
                return false;
            }
            options.help = true;
        } else if (name == "--quiet") {
            if (!flag()) {
                return false;
            }
            config.log = false;
        } else if (name == "--allow-non-loopback") {
            if (!flag()) {
                return false;
            }
            config.allowNonLoopback = true;
        } else if (name == "--address") {
            if (!value(text)) {
                return false;
            }
            addresses.push_back(text);
        } else if (name == "--chassis") {
            std::uint32_t count = 0;
            if (!value(text)) {
                return false;
            }
            if (!parseNumber<std::uint32_t>(text, 1, MAX_CHASSIS, count)) {
                return bad(text, "1 to " + std::to_string(MAX_CHASSIS));
            }
            chassisCount = count;
        } else if (name == "--port") {
            if (!value(text)) {
                return false;
            }
            if (!parseNumber<std::uint16_t>(text, 1, 65535, config.port)) {
                return bad(text, "1 to 65535");
            }
        } else if (name == "--slots") {
            if (!value(text)) {
                return false;
            }
            if (!parseNumber<std::uint32_t>(text, 1, 1000, config.slots)) {
                return bad(text, "1 to 1000");
            }
        } else if (name == "--sensors") {
            if (!value(text)) {
                return false;
            }
            if (!parseNumber<std::uint32_t>(text, 0, 1000, config.sensors)) {
                return bad(text, "0 to 1000");
            }
        } else if (name == "--types") {
            if (!value(text)) {
                return false;
            }
            if (!parseTypes(text, config.dataTypes)) {
                return bad(text, "a comma-separated list of data type numbers");
            }
        } else if (name == "--mains") {
            if (!value(text)) {
                return false;
            }
            if (text != "50" && text != "60") {
                return bad(text, "50 or 60");
            }
            config.mainsHz = text == "50" ? 50 : 60;
        } else if (name == "--mode") {
            if (!value(text)) {
                return false;
            }
            if (text == "realistic") {
                config.mode = SignalMode::Realistic;
            } else if (text == "deterministic") {
                config.mode = SignalMode::Deterministic;
            } else {
                return bad(text, "realistic or deterministic");
            }
        } else if (name == "--timestamp-offset") {
            if (!value(text)) {
                return false;
            }
            const std::size_t equals = text.find('=');
            std::uint32_t offset = 0;
            if (equals == std::string::npos || equals == 0 ||
                !parseNumber<std::uint32_t>(std::string_view(text).substr(equals + 1), 0,
                                            std::numeric_limits<std::uint32_t>::max(), offset)) {
                return bad(text, "ADDRESS=N with N from 0 to 4294967295");
            }
            offsets.emplace_back(text.substr(0, equals), offset);
        } else if (name == "--dev-password") {
            if (!value(text)) {
                return false;
            }
            config.devPassword = text;
        } else if (name == "--step-ms") {
            std::uint32_t step = 0;
            if (!value(text)) {
                return false;
            }
            if (!parseNumber<std::uint32_t>(text, 0, MAX_STEP_MS, step)) {
                return bad(text, "0 to " + std::to_string(MAX_STEP_MS));
            }
            config.stepInterval = std::chrono::milliseconds(step);
        } else if (name == "--duration") {
            std::chrono::milliseconds duration{};
            if (!value(text)) {
                return false;
            }
            if (!parseSeconds(text, duration)) {
                return bad(text, "a positive number of seconds");
            }
            options.duration = duration;
        } else {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    if (options.help) {
        return true;
    }

    if (!addresses.empty() && chassisCount) {
        error = "give either --address or --chassis, not both";
        return false;
    }
    if (!addresses.empty()) {
        config.addresses = addresses;
    } else {
        config.addresses.clear();
        for (std::uint32_t n = 1; n <= chassisCount.value_or(1); ++n) {
            config.addresses.push_back("127.0.0." + std::to_string(n));
        }
    }
    config.timestampOffsets.clear();
    for (const auto& [address, offset] : offsets) {
        const auto at = std::find(config.addresses.begin(), config.addresses.end(), address);
        if (at == config.addresses.end()) {
            error = "--timestamp-offset names " + address + ", which is not a served address";
            return false;
        }
        const auto index = static_cast<std::size_t>(at - config.addresses.begin());
        config.timestampOffsets.resize(std::max(config.timestampOffsets.size(), index + 1), 0);
        config.timestampOffsets[index] = offset;
    }
    error = checkConfig(config);
    return error.empty();
}

}  // namespace chassis_sim
