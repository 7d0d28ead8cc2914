#pragma once

#include <boost/circular_buffer.hpp>
#include <memory>
#include <string>

#include "filters.h"

// One display channel of a data source: calibrated, filtered samples in a ring buffer of fixed
// capacity (allocated in full at creation, so appending never allocates), and the channel's
// own filter objects.
struct DataSourceChannel {
    DataSourceChannel(std::string channelName, unsigned capacity, int type, float factor)
        : name(std::move(channelName)), dataType(type), calibration(factor), data(capacity) {}

    std::string name;
    int dataType;
    float calibration;
    boost::circular_buffer<double> data;
    std::shared_ptr<FilterBase> highPassFilter;
    std::shared_ptr<FilterBase> lowPassFilter;
    std::shared_ptr<FilterBase> lineFilter;
};
