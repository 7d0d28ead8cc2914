#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "data_source.h"

// Known signal of one test channel, in calibrated units, as a function of the sample number n
// at 1 kHz: offset, plus `step` from sample stepAt on, plus a sine from sample sineFrom on.
struct TestSignal {
    double offset = 0.0;
    double amplitude = 0.0;
    double frequencyHz = 0.0;
    std::int64_t sineFrom = 0;
    double step = 0.0;
    std::int64_t stepAt = std::numeric_limits<std::int64_t>::max();

    double value(std::int64_t n) const {
        double v = offset;
        if (n >= stepAt) {
            v += step;
        }
        if (amplitude != 0.0 && n >= sineFrom) {
            const double t = static_cast<double>(n - sineFrom) / 1000.0;
            v += amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * t);
        }
        return v;
    }
};

struct TestChannel {
    std::string name;
    int dataType = 50;
    float calibration = 1.0f;
    TestSignal signal;
};

// A data source whose channels carry known signals, pushed by the test itself: no thread, so
// every frame sees exactly the samples pushed before it.
class TestDataSource : public DataSource {
public:
    static constexpr unsigned CAPACITY = 30000;

    explicit TestDataSource(std::vector<TestChannel> testChannels, unsigned capacity = CAPACITY)
        : DataSource(capacity, 10000), channels(std::move(testChannels)) {
        for (const auto& c : channels) {
            // These two keep a calibration of their own, which would garble the signal.
            if (c.dataType == 0 || (c.dataType == 28 && c.calibration == 1.0f)) {
                throw std::invalid_argument("test channel with an overridden calibration");
            }
            AddChannel(c.name, c.dataType, c.calibration);
        }
    }

    // Appends the next `samples` samples to every channel, as one generator cycle does.
    void push(int samples) {
        const std::lock_guard<std::mutex> lock(_mutex);
        for (int i = 0; i < samples; ++i) {
            for (std::size_t c = 0; c < channels.size(); ++c) {
                const double raw = channels[c].signal.value(pushed + i) /
                                   static_cast<double>(channels[c].calibration);
                AddData(static_cast<int>(c), raw);
            }
        }
        pushed += samples;
        SetTimestamp(pushed);  // milliseconds at 1 kHz
        AddNewSampleCount(samples);
    }

    std::int64_t pushedSamples() const { return pushed; }

private:
    std::vector<TestChannel> channels;
    std::int64_t pushed = 0;
};
