#include "graph_data.h"

#include <algorithm>

GraphData::GraphData(unsigned maxElementCount, WindowingTypes windowType)
    : samples(maxElementCount), spectrum(SPECTRUM_SIZE, windowType), maxElements(maxElementCount) {}

void GraphData::Reset() {
    samples.clear();
    timestamp = -1;
    validElements = 0;
}

void GraphData::SetMaxElements(unsigned n) {
    Reset();
    maxElements = n;
}

void GraphData::AddNumElements(unsigned n) {
    validElements = static_cast<unsigned>(std::min<unsigned long long>(
        static_cast<unsigned long long>(validElements) + n, maxElements));
}
