// The realistic signal: what a viewer shows on its default scales.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "signal_generator.h"

using chassis_sim::SignalGenerator;
using chassis_sim::SimConfig;

namespace {

// Amplitude of the `hz` component of 1 kHz samples; the Hann window keeps the DC offset and
// the strong lines from leaking into the bins used as the noise floor.
double amplitudeAt(const std::vector<double>& samples, double hz) {
    const double count = static_cast<double>(samples.size());
    std::complex<double> sum;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double x = static_cast<double>(n);
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * x / count);
        sum += samples[n] * window * std::polar(1.0, -2.0 * std::numbers::pi * hz * x / 1000.0);
    }
    return 4.0 * std::abs(sum) / count;  // 2 for one side, 2 for the window's mean of 0.5
}

}  // namespace

TEST(SignalGenerator, RealisticSignalHasRhythmAndHumWithinTheDefaultFullScale) {
    for (const int mains : {50, 60}) {
        SCOPED_TRACE(mains);
        SimConfig config;
        config.mainsHz = mains;
        config.sensors = 4;
        const SignalGenerator generator(config, 1);
        for (std::uint32_t sensor = 1; sensor <= 4; ++sensor) {
            SCOPED_TRACE(sensor);
            std::vector<double> tesla;
            for (std::uint32_t t = 5000; t < 7000; ++t) {
                tesla.push_back(generator.value(sensor, 28, t) *
                                double{SignalGenerator::calibration(28)});
            }
            double mean = 0.0;
            for (double v : tesla) {
                EXPECT_LT(std::abs(v), 20e-12);  // inside the viewer's 20 pT default scale
                mean += v / static_cast<double>(tesla.size());
            }
            double alpha = 0.0;
            for (double hz = 9.0; hz <= 11.0; hz += 0.5) {
                alpha = std::max(alpha, amplitudeAt(tesla, hz));
            }
            const double floor = amplitudeAt(tesla, 37.25);
            EXPECT_GT(alpha, 0.3e-12);
            EXPECT_GT(alpha, 5 * floor);
            EXPECT_NEAR(amplitudeAt(tesla, mains), 0.8e-12, 0.2e-12);
            EXPECT_GT(amplitudeAt(tesla, 3.0 * mains), 5 * floor);
            EXPECT_LT(amplitudeAt(tesla, mains == 50 ? 60 : 50), 5 * floor);
            EXPECT_LT(std::abs(mean), 4e-12);
        }
    }
}

TEST(SignalGenerator, ValuesDependOnlyOnChannelAndTime) {
    SimConfig config;
    const SignalGenerator one(config, 0);
    const SignalGenerator two(config, 0);
    const SignalGenerator otherChassis(config, 1);
    int differences = 0;
    for (std::uint32_t t = 0; t < 200; ++t) {
        // Every link of a chassis streams the same numbers.
        ASSERT_EQ(one.value(3, 28, t), two.value(3, 28, t));
        differences += one.value(3, 28, t) != one.value(3, 50, t);
        differences += one.value(3, 28, t) != one.value(4, 28, t);
        differences += one.value(3, 28, t) != otherChassis.value(3, 28, t);
    }
    EXPECT_GT(differences, 550);  // channels and chassis are not copies of each other
}
