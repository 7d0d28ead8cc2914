#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The wake-up shared by the aggregator and every dispatcher. Dispatchers notify `condition`
// after queueing a packet, without taking `mutex`; only the aggregator thread takes `mutex`.
struct DataReadyStruct {
    std::mutex mutex;
    std::condition_variable condition;
};

// One sample inside a time point.
struct DataFrameStruct {
    explicit DataFrameStruct(std::string frameKey) : key(std::move(frameKey)) {}

    std::int32_t cId = 0;
    std::int32_t sId = 0;
    std::int32_t datatype = 0;
    std::int32_t val = 0;   // raw value
    std::string key;        // "%02d:%02d:%02d" of chassis, sensor, data type ("00:03:50")
    std::string sensorKey;  // "%02d:%02d" of chassis and sensor ("00:03")
};

// One merged time point of the whole system.
struct DataPoint {
    explicit DataPoint(std::uint32_t time) : timestamp(time) {}

    // Appends a frame for `key`; the index keeps the position of the first frame of a key.
    DataFrameStruct& addFrame(const std::string& key);

    std::uint32_t timestamp;
    std::vector<DataFrameStruct> frames;  // chassis in order, then the packet's frame order
    std::map<std::string, std::uint32_t> index;
};
