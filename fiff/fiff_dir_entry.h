#pragma once
// One entry of a tag directory: where a tag of which kind, type and size starts.
#include <memory>

#include "fiff_constants.h"

namespace FIFFLIB {

class FiffDirEntry {
public:
    using SPtr = std::shared_ptr<FiffDirEntry>;

    static constexpr int storageSize() { return 16; }

    fiff_int_t kind = -1;
    fiff_int_t type = -1;
    fiff_int_t size = -1;
    fiff_int_t pos = -1;  // file offset of the tag header
};

}  // namespace FIFFLIB
