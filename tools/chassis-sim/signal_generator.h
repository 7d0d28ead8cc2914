#pragma once

#include <cstdint>
#include <vector>

#include "chassis_simulator.h"

namespace chassis_sim {

// The sample values of one chassis. Values depend only on (sensor, data type, timestamp), so
// every link to the chassis streams the same numbers and a generator is shared read-only by
// all of them.
//
// Realistic mode, in raw units of femtotesla (calibration() turns them into display units):
// per sensor an alpha-like rhythm (9-11 Hz, 1-3 pT, slowly amplitude-modulated), mains hum at
// the configured frequency (about 0.8 pT) with a weaker third harmonic, white noise (about
// 0.15 pT rms, independent per data type) and a DC offset of up to +-3 pT. Phases, frequencies
// and amplitudes are spread per sensor by a PRNG seeded with (chassis, sensor).
class SignalGenerator {
public:
    SignalGenerator(const SimConfig& config, std::uint32_t chassisIndex);

    std::int32_t value(std::uint32_t sensor, std::uint32_t dataType, std::uint32_t timestamp) const;

    // Factor from a raw value to the data type's display unit, reported per channel in the
    // complete status: type 28 gives tesla (raw is fT); type 14 is shown against 1 nT full
    // scale, so a few thousand raw units make a few tenths of a nanotesla; every other type
    // against full scale 1, so 1e-4 makes the same few thousand raw units a few tenths.
    static float calibration(std::uint32_t dataType);

private:
    struct SensorRhythm {
        double alphaHz;
        double alphaPhase;
        double alphaFemtotesla;
        double modulationHz;
        double modulationPhase;
        double mainsPhase;
        double offsetFemtotesla;
        std::uint64_t noiseSeed;
    };

    double realistic(const SensorRhythm& rhythm, std::uint32_t dataType,
                     std::uint32_t timestamp) const;

    SignalMode _mode;
    std::uint32_t _chassis;
    double _mainsHz;
    std::vector<SensorRhythm> _sensors;  // sensor s at index s - 1
};

}  // namespace chassis_sim
