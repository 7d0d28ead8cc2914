#include "data_point.h"

DataFrameStruct& DataPoint::addFrame(const std::string& key) {
    // Keys usually arrive in ascending order (chassis, sensor, data type), so hinting at the end
    // keeps the index insert constant; an existing key keeps its first position.
    index.try_emplace(index.end(), key, static_cast<std::uint32_t>(frames.size()));
    return frames.emplace_back(key);
}
