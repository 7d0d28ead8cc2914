#pragma once

#include <boost/circular_buffer.hpp>
#include <cstdint>

#include "vt_fft.h"

// The hand-over record of one displayed channel, owned by the graph view: the newest samples
// handed over to it, and a spectrum estimator fed with exactly those samples.
class GraphData {
public:
    static constexpr int SPECTRUM_SIZE = 1024;

    GraphData(unsigned maxElements, WindowingTypes windowType);
    GraphData(GraphData&&) noexcept = default;
    GraphData& operator=(GraphData&&) noexcept = default;
    GraphData(const GraphData&) = delete;
    GraphData& operator=(const GraphData&) = delete;

    // Drops the samples; the record is new again.
    void Reset();
    // Reset, then a new upper bound for the valid element count (the capacity stays).
    void SetMaxElements(unsigned n);
    bool IsNew() const { return timestamp == -1; }
    void SetTimestamp(std::int64_t t) { timestamp = t; }
    // The valid element count grows by n, up to the maximum.
    void AddNumElements(unsigned n);
    unsigned GetNumValidElements() const { return validElements; }

    boost::circular_buffer<double> samples;  // read oldest first by index
    VtFFT spectrum;
    std::int64_t timestamp = -1;  // -1: never filled; else the source time of the last hand-over
    unsigned maxElements;
    unsigned validElements = 0;
};
