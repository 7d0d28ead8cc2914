#include "signal_generator.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace chassis_sim {

namespace {

// splitmix64: a cheap, well-mixed counter-based generator; hashing (seed, counter) gives
// reproducible noise without state that would have to advance in step with the stream.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Uniform in [0, 1) from the top 53 bits.
double unit(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

// Approximately standard normal: the sum of four 16-bit uniforms (Irwin-Hall), rescaled.
double gaussian(std::uint64_t bits) {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
        sum += static_cast<double>((bits >> (16 * i)) & 0xFFFF) / 65535.0;
    }
    // Mean 2, variance 4/12.
    return (sum - 2.0) * std::sqrt(3.0);
}

constexpr double kTwoPi = 2.0 * std::numbers::pi;

}  // namespace

std::int32_t deterministicValue(std::uint32_t chassis, std::uint32_t sensor, std::uint32_t dataType,
                                std::uint32_t timestamp) {
    const std::int64_t value = 100000000LL * (chassis % 21) + 1000000LL * (sensor % 100) +
                               10000LL * (dataType % 100) + (timestamp % 10000);
    return static_cast<std::int32_t>(value);
}

SignalGenerator::SignalGenerator(const SimConfig& config, std::uint32_t chassisIndex)
    : _mode(config.mode), _chassis(chassisIndex), _mainsHz(config.mainsHz) {
    _sensors.reserve(config.sensors);
    for (std::uint32_t sensor = 1; sensor <= config.sensors; ++sensor) {
        std::uint64_t state = mix((static_cast<std::uint64_t>(chassisIndex) << 32) | sensor);
        auto next = [&state] {
            state = mix(state);
            return unit(state);
        };
        SensorRhythm rhythm{};
        rhythm.alphaHz = 9.0 + 2.0 * next();
        rhythm.alphaPhase = kTwoPi * next();
        rhythm.alphaFemtotesla = 1000.0 + 2000.0 * next();
        rhythm.modulationHz = 0.1 + 0.3 * next();
        rhythm.modulationPhase = kTwoPi * next();
        rhythm.mainsPhase = kTwoPi * next();
        rhythm.offsetFemtotesla = -3000.0 + 6000.0 * next();
        rhythm.noiseSeed = mix(state);
        _sensors.push_back(rhythm);
    }
}

float SignalGenerator::calibration(std::uint32_t dataType) {
    switch (dataType) {
        case 28:
            return 1e-15f;
        case 14:
            return 1e-13f;
        default:
            return 1e-4f;
    }
}

double SignalGenerator::realistic(const SensorRhythm& rhythm, std::uint32_t dataType,
                                  std::uint32_t timestamp) const {
    const double t = timestamp / 1000.0;
    const double envelope =
        1.0 + 0.6 * std::sin(kTwoPi * rhythm.modulationHz * t + rhythm.modulationPhase);
    const double alpha = rhythm.alphaFemtotesla * envelope *
                         std::sin(kTwoPi * rhythm.alphaHz * t + rhythm.alphaPhase);
    const double mains = 800.0 * std::sin(kTwoPi * _mainsHz * t + rhythm.mainsPhase) +
                         150.0 * std::sin(kTwoPi * 3.0 * _mainsHz * t + 3.0 * rhythm.mainsPhase);
    const std::uint64_t channelSeed = mix(rhythm.noiseSeed ^ (std::uint64_t{dataType} << 40));
    const double noise = 150.0 * gaussian(mix(channelSeed + timestamp));
    return rhythm.offsetFemtotesla + alpha + mains + noise;
}

std::int32_t SignalGenerator::value(std::uint32_t sensor, std::uint32_t dataType,
                                    std::uint32_t timestamp) const {
    if (_mode == SignalMode::Deterministic) {
        return deterministicValue(_chassis, sensor, dataType, timestamp);
    }
    if (sensor == 0 || sensor > _sensors.size()) {
        return 0;
    }
    const double raw = std::round(realistic(_sensors[sensor - 1], dataType, timestamp));
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(raw < kLow ? kLow : (raw > kHigh ? kHigh : raw));
}

}  // namespace chassis_sim
