#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "data_point.h"

class DataPacket;
class ProtoParse;

// Merges the data packets of every chassis into time points: one thread aligns the streams on
// a common timestamp, then takes one packet of every chassis per time point. The streams are
// re-aligned whenever the pending timestamps disagree (a lost packet, a reconnect), so a time
// point never mixes instants.
class DataAggregator {
public:
    DataAggregator();
    ~DataAggregator();
    DataAggregator(const DataAggregator&) = delete;
    DataAggregator& operator=(const DataAggregator&) = delete;

    std::shared_ptr<DataReadyStruct> getDataReady() const { return _dataReady; }
    // Registers a dispatcher (chassis ids follow registration order); refused while running.
    void addParser(const std::shared_ptr<ProtoParse>& parser);
    void start();
    // Ends the thread and forgets the dispatchers; finished time points stay retrievable.
    void stop();
    // Every finished time point, oldest first; the output list is left empty.
    std::vector<std::shared_ptr<DataPoint>> retrieveAllDataPoints();

private:
    void aggregatorLoop();
    bool readyTest();
    void align();
    void merge();

    std::atomic<bool> _running{false};
    std::unique_ptr<std::thread> _thread;
    std::shared_ptr<DataReadyStruct> _dataReady;
    // Touched only by the aggregator thread while it runs, else by addParser/start/stop.
    std::map<std::shared_ptr<ProtoParse>, std::shared_ptr<DataPacket>> _pending;
    std::vector<std::shared_ptr<ProtoParse>> _parsers;
    bool _synced = false;
    // Guards _dataPoints. Lock order: _dataReady->mutex, a dispatcher's queue lock, _mutex.
    std::mutex _mutex;
    std::vector<std::shared_ptr<DataPoint>> _dataPoints;
};
