#include "fiff_info.h"

namespace FIFFLIB {

void FiffInfo::clear() {
    FiffInfoBase::clear();
    file_id.clear();
    meas_id.clear();
    sfreq = -1.0f;
    linefreq = -1.0f;
    highpass = 0.0f;
    lowpass = -1.0f;
    meas_date[0] = -1;
    meas_date[1] = -1;
    description.clear();
    experimenter.clear();
    proj_name.clear();
    proj_id = -1;
}

}  // namespace FIFFLIB
