#pragma once
// The measurement information of a recording as far as this system uses it.
#include <QString>

#include "fiff_constants.h"
#include "fiff_id.h"
#include "fiff_info_base.h"

namespace FIFFLIB {

class FiffInfo : public FiffInfoBase {
public:
    void clear() override;

    FiffId file_id;
    FiffId meas_id;
    float sfreq = -1.0f;
    float linefreq = -1.0f;  // -1 when the file does not say
    float highpass = 0.0f;
    float lowpass = -1.0f;               // half the sampling frequency when the file does not say
    fiff_int_t meas_date[2] = {-1, -1};  // seconds, microseconds
    QString description;
    QString experimenter;
    QString proj_name;
    fiff_int_t proj_id = -1;
};

}  // namespace FIFFLIB
