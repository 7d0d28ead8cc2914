#pragma once

#include <QObject>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "data_source_channel.h"
#include "filters.h"
#include "graph_data.h"

// The common base of every producer of channel samples. It owns the display channels with
// their ring buffers and filter chains, and hands new samples over to the graph view's
// records. A concrete source adds all channels before it emits sigDataReady, then appends
// samples from its generator thread under the lock; the GUI thread pulls them at redraws.
class DataSource : public QObject {
    Q_OBJECT

public:
    static constexpr float LINE_FILTER_FREQ_OFFSET = 0.5f;  // half width of the mains band-stop
    static constexpr double CHEBYSHEV_EPSILON = 1.0;        // 3.01 dB pass-band ripple

    DataSource(unsigned bufferCapacity, unsigned secondSize);
    ~DataSource() override;

    // Appends a channel (before sigDataReady only); applies the calibration defaults.
    void AddChannel(const std::string& name, int dataType, float calibration);
    // Calibrates, filters and stores one sample. The caller holds the lock.
    void AddData(int channel, double raw);
    // Hands the channel's new samples to one record; returns their number. The caller holds
    // the lock.
    int GetData(int channel, GraphData& out);
    // The hand-over of one redraw: record i from channel i; returns the count of record 0.
    int GetData(std::vector<GraphData>& out);
    void Ready();

    void SetFilterMode(FilterMode mode);
    FilterMode GetFilterMode() const { return _filterMode; }
    void SetFilterOrder(int order);
    int GetFilterOrder() const { return _filterOrder; }
    void SetLineFreq(int freq) { _lineFreq = freq; }
    int GetLineFreq() const { return _lineFreq; }
    int GetLPFilter() const { return _lowPassCutoff; }
    int GetHPFilter() const { return _highPassCutoff; }
    // Samples per second of every channel; the filter stages are designed at this rate.
    void SetSampleRate(double rate) { _sampleRate = rate; }
    double GetSampleRate() const { return _sampleRate; }

    int GetNumChannels();
    int GetChannelDataType(int channel);
    std::string GetChannelName(int channel);

Q_SIGNALS:
    void sigDataReady();

public Q_SLOTS:
    void SetFilter(bool on, FilterType type);
    void SetLPFilter(int val);
    void SetHPFilter(int val);

protected:
    // For concrete sources, under _mutex: the end of one generator cycle.
    void SetTimestamp(std::int64_t nowMs) { _timestamp = nowMs; }
    void AddNewSampleCount(int count);

    // Guards the channel list contents, the filter objects, the new-sample count and the
    // timestamp. Lock order: this lock, then a spectrum estimator's lock.
    std::mutex _mutex;

private:
    std::int64_t _timestamp = 0;  // not -1, so a hand-over before the first cycle counts
    int _newSampleCount = 0;
    std::vector<DataSourceChannel> _channels;
    unsigned _bufferCapacity;
    [[maybe_unused]] unsigned _secondSize;  // recorded only
    bool _lineFilterOn = false;
    bool _lowPassOn = false;
    bool _highPassOn = false;
    int _highPassCutoff = 1;
    int _lowPassCutoff = 30;
    FilterMode _filterMode = Butterworth;
    int _filterOrder = 1;
    int _lineFreq = 60;
    double _sampleRate = 1000.0;
};
