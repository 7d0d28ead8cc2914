#pragma once
// One channel record (the 96-byte channel structure), decoded.
#include <Eigen/Core>
#include <QString>

#include "fiff_constants.h"

namespace FIFFLIB {

class FiffChPos {
public:
    fiff_int_t coil_type = 0;
    Eigen::Vector3f r0 = Eigen::Vector3f::Zero();
    Eigen::Vector3f ex = Eigen::Vector3f::Zero();
    Eigen::Vector3f ey = Eigen::Vector3f::Zero();
    Eigen::Vector3f ez = Eigen::Vector3f::Zero();
};

class FiffChInfo {
public:
    static constexpr int storageSize() { return 96; }

    fiff_int_t scanNo = 0;
    fiff_int_t logNo = 0;
    fiff_int_t kind = 0;
    float range = 1.0f;
    float cal = 1.0f;
    FiffChPos chpos;
    fiff_int_t unit = 0;
    fiff_int_t unit_mul = 0;
    QString ch_name;  // blanks removed

    // MEG and MEG reference channels: columns ex, ey, ez, r0 (device frame).
    Eigen::Matrix4f coil_trans = Eigen::Matrix4f::Identity();
    // EEG channels: r0, and ex when it is not zero (head frame).
    Eigen::Matrix<float, 3, 2> eeg_loc = Eigen::Matrix<float, 3, 2>::Zero();
    fiff_int_t coord_frame = FIFF::FIFFV_COORD_UNKNOWN;
};

}  // namespace FIFFLIB
