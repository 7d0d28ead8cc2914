#pragma once

#include <cmath>
#include <cstdint>

// Full-scale value of one data type as a decimal mantissa and exponent, so that it can be
// stepped in a 1-2-5 sequence and shown with an SI prefix.
struct ScalingType {
    ScalingType(float m, std::int32_t e) : mantissa(m), exponent(e) {}

    // mantissa x 10^exponent, evaluated in double precision.
    float Get() const {
        return static_cast<float>(static_cast<double>(mantissa) *
                                  std::pow(10.0, static_cast<double>(exponent)));
    }

    float mantissa;
    std::int32_t exponent;
};
