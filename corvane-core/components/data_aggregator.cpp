#include "data_aggregator.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <string>

#include "log_line.h"
#include "net-protocol.pb.h"
#include "proto_parse.h"

namespace {

// Upper bound of one wait, so that stop and missed wake-ups are noticed in time.
constexpr auto WAIT_PERIOD = std::chrono::milliseconds(100);

// Appends `value` as "%02d" would print it: at least two characters, zero-padded, so 3 gives
// "03" and -1 gives "-1". printf costs a third of the merge; to_chars is also locale-free.
char* appendTwoDigits(char* out, char* end, std::int32_t value) {
    if (value >= 0 && value < 10) {
        *out++ = '0';
        *out++ = static_cast<char>('0' + value);
        return out;
    }
    return std::to_chars(out, end, value).ptr;
}

}  // namespace

DataAggregator::DataAggregator() : _dataReady(std::make_shared<DataReadyStruct>()) {}

DataAggregator::~DataAggregator() {
    stop();
}

void DataAggregator::addParser(const std::shared_ptr<ProtoParse>& parser) {
    if (_running) {
        errLine("Cannot add parser while aggregator is running");
        return;
    }
    // Each dispatcher once: a second entry would shift every later chassis id.
    if (!parser || !_pending.emplace(parser, nullptr).second) {
        return;
    }
    _parsers.push_back(parser);
}

void DataAggregator::start() {
    if (_thread) {
        return;
    }
    _running = true;
    _synced = false;
    _thread = std::make_unique<std::thread>(&DataAggregator::aggregatorLoop, this);
}

void DataAggregator::stop() {
    if (_thread) {
        outLine("Stopping aggregator");
        _running = false;
        // Shortens the wait; if it falls between the test and the wait, the time-out ends it.
        _dataReady->condition.notify_all();
        _thread->join();
        _thread.reset();
    }
    _pending.clear();
    _parsers.clear();
}

std::vector<std::shared_ptr<DataPoint>> DataAggregator::retrieveAllDataPoints() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::shared_ptr<DataPoint>> points;
    points.swap(_dataPoints);
    return points;
}

void DataAggregator::aggregatorLoop() {
    outLine("Starting aggregator with process: " + std::to_string(::getpid()) +
            " thread: " + std::to_string(::gettid()));
    for (;;) {
        // Held for the whole pass, including the getData calls of the readiness test.
        std::unique_lock<std::mutex> lock(_dataReady->mutex);
        if (!_dataReady->condition.wait_for(lock, WAIT_PERIOD, [this] { return readyTest(); })) {
            continue;
        }
        if (!_running) {
            return;
        }
        if (_synced) {
            merge();
        } else {
            align();
        }
    }
}

bool DataAggregator::readyTest() {
    if (!_running) {
        return true;
    }
    // With no dispatcher there is nothing to wait for but stop; the time-out re-checks it.
    if (_parsers.empty()) {
        return false;
    }
    for (const auto& parser : _parsers) {
        auto& packet = _pending[parser];
        if (!packet) {
            packet = parser->getData();
            if (!packet) {
                return false;
            }
        }
    }
    return true;
}

void DataAggregator::align() {
    // Every dispatcher holds a packet here. Discard the ones carrying the smallest timestamp
    // until all chassis present the same instant; unsigned comparison, no wrap-around handling.
    const std::uint32_t first = _pending[_parsers.front()]->timestamp();
    std::uint32_t smallest = first;
    bool allEqual = true;
    for (const auto& [parser, packet] : _pending) {
        const std::uint32_t timestamp = packet->timestamp();
        allEqual = allEqual && timestamp == first;
        if (timestamp < smallest) {
            smallest = timestamp;
        }
    }
    if (allEqual) {
        _synced = true;
        outLine("Synced on " + std::to_string(first));
        return;  // the packets stay pending and make the next time point
    }
    for (auto& [parser, packet] : _pending) {
        if (packet->timestamp() == smallest) {
            packet.reset();
        }
    }
}

void DataAggregator::merge() {
    // A lost packet or a reconnect on one chassis shows as differing timestamps: re-align
    // rather than pair different instants.
    const std::uint32_t timestamp = _pending[_parsers.front()]->timestamp();
    std::size_t frameCount = 0;
    for (const auto& [parser, packet] : _pending) {
        if (packet->timestamp() != timestamp) {
            _synced = false;
            align();
            return;
        }
        frameCount += static_cast<std::size_t>(packet->data_size());
    }

    auto point = std::make_shared<DataPoint>(timestamp);
    point->frames.reserve(frameCount);
    std::int32_t chassisId = 0;
    for (const auto& parser : _parsers) {
        auto& packet = _pending[parser];
        for (const DataFrame& sample : packet->data()) {
            // "%02d:%02d" of chassis and sensor, then "%s:%02d" with the data type; room for
            // three signed 32-bit values and their separators.
            char text[40];
            char* const end = text + sizeof text;
            char* pos = appendTwoDigits(text, end, chassisId);
            *pos++ = ':';
            pos = appendTwoDigits(pos, end, sample.sensor());
            std::string sensorKey(text, pos);
            *pos++ = ':';
            pos = appendTwoDigits(pos, end, sample.datatype());
            const std::string key(text, pos);
            DataFrameStruct& frame = point->addFrame(key);
            frame.sensorKey = std::move(sensorKey);
            frame.val = sample.val();
            frame.sId = sample.sensor();
            frame.cId = chassisId;
            frame.datatype = sample.datatype();
        }
        packet.reset();
        ++chassisId;
    }

    std::lock_guard<std::mutex> lock(_mutex);
    _dataPoints.push_back(std::move(point));
}
