#include "data_source.h"

#include <algorithm>
#include <sstream>

#include "log_line.h"

namespace {

constexpr float DATATYPE_28_DEFAULT_CALIBRATION = 3.52e-15f;
constexpr float DATATYPE_0_CALIBRATION = 2.9802322e-7f;  // 5 * 2^-24
// A record that has just been created or reset receives at most this many samples.
constexpr std::size_t NEW_RECORD_SAMPLES = 10;

// The mains band-stop always notches: prototype order max(1, order / 2), given to the band
// design as its doubled band order.
int lineFilterBandOrder(int order) {
    return 2 * std::max(1, order / 2);
}

}  // namespace

DataSource::DataSource(unsigned bufferCapacity, unsigned secondSize)
    : QObject(nullptr), _bufferCapacity(bufferCapacity), _secondSize(secondSize) {
    SetHPFilter(1);
    SetLPFilter(30);
}

DataSource::~DataSource() = default;

void DataSource::AddChannel(const std::string& name, int dataType, float calibration) {
    float factor = calibration;
    if (dataType == 28 && calibration == 1.0f) {
        factor = DATATYPE_28_DEFAULT_CALIBRATION;
    } else if (dataType == 0) {
        factor = DATATYPE_0_CALIBRATION;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _channels.emplace_back(name, _bufferCapacity, dataType, factor);
}

void DataSource::AddData(int channel, double raw) {
    DataSourceChannel& c = _channels[static_cast<std::size_t>(channel)];
    double value = static_cast<double>(c.calibration) * raw;
    if (_lineFilterOn && c.lineFilter) {
        value = (*c.lineFilter)(value);
    }
    if (_lowPassOn && c.lowPassFilter) {
        value = (*c.lowPassFilter)(value);
    }
    if (_highPassOn && c.highPassFilter) {
        value = (*c.highPassFilter)(value);
    }
    c.data.push_back(value);
}

int DataSource::GetData(int channel, GraphData& out) {
    const auto& data = _channels[static_cast<std::size_t>(channel)].data;
    // Never more than the channel holds: the count may have outgrown the ring while nobody
    // took samples (a paused view).
    const std::size_t wanted =
        out.IsNew() ? NEW_RECORD_SAMPLES : static_cast<std::size_t>(std::max(_newSampleCount, 0));
    const std::size_t n = std::min(wanted, data.size());
    for (std::size_t i = data.size() - n; i < data.size(); ++i) {
        const double value = data[i];
        out.spectrum.AddVal(value);
        out.samples.push_back(value);
    }
    out.SetTimestamp(_timestamp);
    out.AddNumElements(static_cast<unsigned>(n));
    return static_cast<int>(n);
}

int DataSource::GetData(std::vector<GraphData>& out) {
    std::lock_guard<std::mutex> lock(_mutex);
    int result = 0;
    const std::size_t records = std::min(out.size(), _channels.size());
    for (std::size_t i = 0; i < records; ++i) {
        const int n = GetData(static_cast<int>(i), out[i]);
        if (i == 0) {
            result = n;
        } else if (n != result) {
            errLine("Data size does not match!");
        }
    }
    _newSampleCount = 0;
    return result;
}

void DataSource::Ready() {
    Q_EMIT sigDataReady();
}

void DataSource::AddNewSampleCount(int count) {
    // More than a ring holds can never be handed over.
    const long long total = static_cast<long long>(_newSampleCount) + std::max(count, 0);
    _newSampleCount = static_cast<int>(std::min<long long>(total, _bufferCapacity));
}

void DataSource::SetFilterMode(FilterMode mode) {
    _filterMode = mode;
    outLine(std::string("Using ") + filterModeName(mode) + " filter");
}

void DataSource::SetFilterOrder(int order) {
    _filterOrder = order;
    outLine("Filter order set to " + std::to_string(order));
}

void DataSource::SetLPFilter(int val) {
    _lowPassCutoff = val;
    outLine("Low Pass: " + std::to_string(val) + "Hz");
}

void DataSource::SetHPFilter(int val) {
    _highPassCutoff = val;
    outLine("High Pass: " + std::to_string(val) + "Hz");
}

// The channel list no longer changes once sigDataReady was emitted, and only then do readers
// on other threads ask; these take no lock, so a source may call them while holding its own.
int DataSource::GetNumChannels() {
    return static_cast<int>(_channels.size());
}

int DataSource::GetChannelDataType(int channel) {
    return _channels[static_cast<std::size_t>(channel)].dataType;
}

std::string DataSource::GetChannelName(int channel) {
    return _channels[static_cast<std::size_t>(channel)].name;
}

void DataSource::SetFilter(bool on, FilterType type) {
    std::lock_guard<std::mutex> lock(_mutex);
    const int mode = static_cast<int>(_filterMode);
    const char* modeName = filterModeName(mode);
    const auto summary = [&](const std::string& head, const std::string& frequency) {
        return head + frequency + " mode: " + modeName + " order: " + std::to_string(_filterOrder) +
               " on";
    };

    switch (type) {
        case LineFreq: {
            _lineFilterOn = on;
            if (!on) {
                outLine("Line frequency filters off");
                return;
            }
            outLine("Line frequency filters on");
            // Edges in single precision, then widened.
            const float lower = static_cast<float>(_lineFreq) - LINE_FILTER_FREQ_OFFSET;
            const float upper = static_cast<float>(_lineFreq) + LINE_FILTER_FREQ_OFFSET;
            const int bandOrder = lineFilterBandOrder(_filterOrder);
            for (auto& c : _channels) {
                if (mode == Butterworth) {
                    c.lineFilter =
                        std::make_shared<BWBSFilter>(bandOrder, _sampleRate, lower, upper);
                } else if (mode == Chebyshev) {
                    c.lineFilter = std::make_shared<CheBSFilter>(bandOrder, _sampleRate,
                                                                 CHEBYSHEV_EPSILON, lower, upper);
                } else {
                    c.lineFilter.reset();
                }
            }
            if (mode != Butterworth && mode != Chebyshev) {
                _lineFilterOn = false;
            }
            outLine(summary("lineFreq: ", std::to_string(_lineFreq)));
            return;
        }
        case LowPass:
        case HighPass: {
            const bool lowPass = type == LowPass;
            bool& flag = lowPass ? _lowPassOn : _highPassOn;
            const std::string head = lowPass ? "Low pass filter " : "High pass filter ";
            flag = on;
            if (!on) {
                outLine(head + "off");
                return;
            }
            const double cutoff = lowPass ? _lowPassCutoff : _highPassCutoff;
            for (auto& c : _channels) {
                auto& slot = lowPass ? c.lowPassFilter : c.highPassFilter;
                if (mode == Butterworth) {
                    slot = lowPass
                               ? std::shared_ptr<FilterBase>(std::make_shared<BWLPFilter>(
                                     _filterOrder, _sampleRate, cutoff))
                               : std::make_shared<BWHPFilter>(_filterOrder, _sampleRate, cutoff);
                } else if (mode == Chebyshev) {
                    slot = lowPass ? std::shared_ptr<FilterBase>(std::make_shared<CheLPFilter>(
                                         _filterOrder, _sampleRate, CHEBYSHEV_EPSILON, cutoff))
                                   : std::make_shared<CheHPFilter>(_filterOrder, _sampleRate,
                                                                   CHEBYSHEV_EPSILON, cutoff);
                } else {
                    slot.reset();
                }
            }
            if (mode != Butterworth && mode != Chebyshev) {
                flag = false;
            }
            outLine(summary(head + "freq: ",
                            std::to_string(lowPass ? _lowPassCutoff : _highPassCutoff)));
            return;
        }
    }
}
