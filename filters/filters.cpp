#include "filters.h"

#include "iir_filters.h"

// Every evaluation function passes its input through when the design could not be allocated,
// so an object whose record is null forwards samples unchanged.

const char* filterModeName(int mode) {
    switch (mode) {
        case Butterworth:
            return "Butterworth";
        case Chebyshev:
            return "Chevyshev";
        default:
            return "unknown";
    }
}

BWLPFilter::BWLPFilter(int order, double samplingRate, double cutoff)
    : FilterBase(order, samplingRate),
      _cutoff(cutoff),
      _record(create_bw_low_pass_filter(order, samplingRate, cutoff)) {}

BWLPFilter::~BWLPFilter() {
    free_bw_low_pass(_record);
}

double BWLPFilter::operator()(double x) {
    return bw_low_pass(_record, x);
}

BWHPFilter::BWHPFilter(int order, double samplingRate, double cutoff)
    : FilterBase(order, samplingRate),
      _cutoff(cutoff),
      _record(create_bw_high_pass_filter(order, samplingRate, cutoff)) {}

BWHPFilter::~BWHPFilter() {
    free_bw_high_pass(_record);
}

double BWHPFilter::operator()(double x) {
    return bw_high_pass(_record, x);
}

BWBSFilter::BWBSFilter(int order, double samplingRate, double lower, double upper)
    : FilterBase(order, samplingRate),
      _lower(lower),
      _upper(upper),
      _record(create_bw_band_stop_filter(order, samplingRate, lower, upper)) {}

BWBSFilter::~BWBSFilter() {
    free_bw_band_stop(_record);
}

double BWBSFilter::operator()(double x) {
    return bw_band_stop(_record, x);
}

CheLPFilter::CheLPFilter(int order, double samplingRate, double epsilon, double cutoff)
    : CheFilter(order, samplingRate, epsilon),
      _cutoff(cutoff),
      _record(create_che_low_pass_filter(order, epsilon, samplingRate, cutoff)) {}

CheLPFilter::~CheLPFilter() {
    free_che_low_pass(_record);
}

double CheLPFilter::operator()(double x) {
    return che_low_pass(_record, x);
}

CheHPFilter::CheHPFilter(int order, double samplingRate, double epsilon, double cutoff)
    : CheFilter(order, samplingRate, epsilon),
      _cutoff(cutoff),
      _record(create_che_high_pass_filter(order, epsilon, samplingRate, cutoff)) {}

CheHPFilter::~CheHPFilter() {
    free_che_high_pass(_record);
}

double CheHPFilter::operator()(double x) {
    return che_high_pass(_record, x);
}

CheBSFilter::CheBSFilter(int order, double samplingRate, double epsilon, double lower, double upper)
    : CheFilter(order, samplingRate, epsilon),
      _lower(lower),
      _upper(upper),
      _record(create_che_band_stop_filter(order, epsilon, samplingRate, lower, upper)) {}

CheBSFilter::~CheBSFilter() {
    free_che_band_stop(_record);
}

double CheBSFilter::operator()(double x) {
    return che_band_stop(_record, x);
}
