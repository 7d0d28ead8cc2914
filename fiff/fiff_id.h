#pragma once
// The 20-byte ID structure of files and blocks.
#include <QString>

#include "fiff_constants.h"

namespace FIFFLIB {

class FiffId {
public:
    FiffId() = default;
    FiffId(fiff_int_t version, fiff_int_t machid0, fiff_int_t machid1, fiff_int_t secs,
           fiff_int_t usecs);

    // All fields 0.
    bool isEmpty() const;
    void clear();
    // "version machid0 machid1 secs usecs" for diagnostics.
    QString toString() const;
    static constexpr int storageSize() { return 20; }

    bool operator==(const FiffId& other) const = default;

    fiff_int_t version = 0;
    fiff_int_t machid[2] = {0, 0};
    struct Time {
        fiff_int_t secs = 0;
        fiff_int_t usecs = 0;
        bool operator==(const Time& other) const = default;
    } time;
};

}  // namespace FIFFLIB
