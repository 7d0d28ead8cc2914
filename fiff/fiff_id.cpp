#include "fiff_id.h"

namespace FIFFLIB {

FiffId::FiffId(fiff_int_t version, fiff_int_t machid0, fiff_int_t machid1, fiff_int_t secs,
               fiff_int_t usecs)
    : version(version), machid{machid0, machid1}, time{secs, usecs} {}

bool FiffId::isEmpty() const {
    return version == 0 && machid[0] == 0 && machid[1] == 0 && time.secs == 0 && time.usecs == 0;
}

void FiffId::clear() {
    *this = FiffId();
}

QString FiffId::toString() const {
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(version)
        .arg(machid[0])
        .arg(machid[1])
        .arg(time.secs)
        .arg(time.usecs);
}

}  // namespace FIFFLIB
