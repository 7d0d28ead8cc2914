#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "data_source.h"

class DataAggregator;

// The data source fed by the chassis. Its constructor brings the device side up: callback
// handler, aggregator, one link per address; it returns once every chassis is connected and
// described, with one display channel per reported channel. Start then runs a generator that
// every 10 ms moves the merged time points into the channels.
class LiveDataSource : public DataSource {
public:
    LiveDataSource(unsigned bufferCapacity, unsigned secondSize,
                   std::vector<std::string> addresses);
    ~LiveDataSource() override;

    void Start();
    void Stop();
    void GenerateDataThread();
    // One generator cycle at the given wall-clock time (ms since the Unix epoch).
    void Generate(const long& nowMs);

    // dataType | sensorId << 8 | chassisId << 16
    static std::uint32_t calcChanId(std::uint32_t chassisId, std::uint32_t sensorId,
                                    std::uint32_t dataType);
    // "VT" + chassis and sensor ids (at least two digits each) + "-" + the data type's name.
    std::string channelName(std::int32_t chassisId, std::uint32_t sensorId,
                            std::uint32_t dataType) const;

    // Addresses of chassis that can never connect (their first connect failed). When not
    // empty, construction stopped early: no channels, the aggregator not started.
    const std::vector<std::string>& GetUnreachable() const { return _unreachable; }

private:
    std::shared_ptr<std::thread> _thread;
    std::atomic<bool> _stop{false};
    std::vector<std::string> _addresses;
    std::shared_ptr<DataAggregator> _aggregator;
    std::map<std::uint32_t, std::int32_t> _channelMap;  // channel id -> display channel index
    std::map<std::uint32_t, std::string> _dataTypeNames;
    std::vector<std::string> _unreachable;
};
