#include "live_data_source.h"

#include <chrono>
#include <sstream>

#include "callback_mgr.h"
#include "data_aggregator.h"
#include "device_mgr.h"
#include "live_data_callback_handler.h"
#include "log_line.h"

namespace {

constexpr auto GENERATOR_PERIOD = std::chrono::milliseconds(10);

std::string twoDigits(long long value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? std::string(2 - text.size(), '0') + text : text;
}

}  // namespace

LiveDataSource::LiveDataSource(unsigned bufferCapacity, unsigned secondSize,
                               std::vector<std::string> addresses)
    : DataSource(bufferCapacity, secondSize), _addresses(std::move(addresses)) {
    _dataTypeNames = {{28, "BZ_OL"}, {50, "BZ_CL"}};
    CallbackMgr::GetInstance()->setCallbackHandler(std::make_shared<LiveDataCallbackHandler>());
    _aggregator = std::make_shared<DataAggregator>();

    auto registry = DeviceMgr::GetInstance();
    registry->connect(_addresses, _aggregator);
    while (!registry->allConnected()) {
        // A chassis whose first connect failed is never tried again: waiting would never end.
        _unreachable = registry->getAbandonedAddresses();
        if (!_unreachable.empty()) {
            return;
        }
        outLine("Waiting to connect");
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    _aggregator->start();

    const auto channels = registry->getAllChannels();
    outLine("Listing channels");
    _channelMap.clear();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const Channel& c = channels[i];
        const std::string name = channelName(c.cId, c.sId, c.datatype);
        std::ostringstream line;
        line << "Chan " << name << " datatype " << c.datatype << " cId: " << c.cId
             << " sId: " << c.sId << " calibration: " << c.calibration;
        outLine(line.str());
        _channelMap.emplace(calcChanId(static_cast<std::uint32_t>(c.cId), c.sId, c.datatype),
                            static_cast<std::int32_t>(i));
        AddChannel(name, static_cast<int>(c.datatype), c.calibration);
    }
    outLine("End of channels");
}

LiveDataSource::~LiveDataSource() {
    Stop();
}

std::uint32_t LiveDataSource::calcChanId(std::uint32_t chassisId, std::uint32_t sensorId,
                                         std::uint32_t dataType) {
    return dataType | (sensorId << 8) | (chassisId << 16);
}

std::string LiveDataSource::channelName(std::int32_t chassisId, std::uint32_t sensorId,
                                        std::uint32_t dataType) const {
    const auto known = _dataTypeNames.find(dataType);
    return "VT" + twoDigits(chassisId) + twoDigits(sensorId) + "-" +
           (known != _dataTypeNames.end() ? known->second : std::to_string(dataType));
}

void LiveDataSource::Start() {
    if (_thread) {
        errLine("LiveDataSource generator already running");
        return;
    }
    _stop.store(false);
    _thread = std::make_shared<std::thread>(&LiveDataSource::GenerateDataThread, this);
}

void LiveDataSource::Stop() {
    if (!_thread) {
        errLine("LiveDataSource generator is not running");
        return;
    }
    _stop.store(true);
    _thread->join();
    _thread.reset();
}

void LiveDataSource::GenerateDataThread() {
    outLine("Starting Data");
    Ready();
    while (!_stop.load()) {
        const auto cycleStart = std::chrono::system_clock::now();
        const long nowMs = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(cycleStart.time_since_epoch())
                .count());
        Generate(nowMs);
        // Anchored at the cycle's start: a long cycle is followed at once, without drift.
        std::this_thread::sleep_until(cycleStart + GENERATOR_PERIOD);
    }
}

void LiveDataSource::Generate(const long& nowMs) {
    // Taken before the source's lock: the aggregator's lock is never held inside it.
    const auto points = _aggregator ? _aggregator->retrieveAllDataPoints()
                                    : std::vector<std::shared_ptr<DataPoint>>{};
    std::lock_guard<std::mutex> lock(_mutex);
    for (const auto& point : points) {
        for (const auto& frame : point->frames) {
            const auto id = calcChanId(static_cast<std::uint32_t>(frame.cId),
                                       static_cast<std::uint32_t>(frame.sId),
                                       static_cast<std::uint32_t>(frame.datatype));
            const auto channel = _channelMap.find(id);
            if (channel != _channelMap.end()) {
                AddData(channel->second, static_cast<double>(frame.val));
            }
        }
    }
    SetTimestamp(nowMs);
    AddNewSampleCount(static_cast<int>(points.size()));
}
