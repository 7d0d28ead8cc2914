#pragma once
// One entry of the raw-data directory: a data buffer (or a skip) and its sample numbers.
#include "fiff_constants.h"
#include "fiff_dir_entry.h"

namespace FIFFLIB {

class FiffRawDir {
public:
    FiffDirEntry::SPtr ent;  // empty for a skip
    fiff_int_t first = -1;
    fiff_int_t last = -1;
    fiff_int_t nsamp = -1;
};

}  // namespace FIFFLIB
