#pragma once

// The filter objects of a display channel's chain, over the plain designs of iir_filters.h.
// Each object owns one design record, made in its constructor and released in its destructor;
// every call advances its delay lines by one sample. Objects are not copied.

#include <memory>

// Selects a stage of the chain.
enum FilterType {
    LowPass = 0,
    HighPass = 1,
    LineFreq = 2,
};

// Selects the family of a stage.
enum FilterMode {
    Butterworth = 0,
    Chebyshev = 1,
};

// "Butterworth", "Chevyshev", or "unknown" for any other value (the texts of the log lines).
const char* filterModeName(int mode);

class FilterBase {
public:
    FilterBase(int order, double samplingRate) : _order(order), _samplingRate(samplingRate) {}
    virtual ~FilterBase() = default;
    FilterBase(const FilterBase&) = delete;
    FilterBase& operator=(const FilterBase&) = delete;

    virtual double operator()(double x) = 0;

    int order() const { return _order; }
    double samplingRate() const { return _samplingRate; }

private:
    int _order;
    double _samplingRate;
};

class CheFilter : public FilterBase {
public:
    CheFilter(int order, double samplingRate, double epsilon)
        : FilterBase(order, samplingRate), _epsilon(epsilon) {}
    double epsilon() const { return _epsilon; }

private:
    double _epsilon;
};

struct bw_low_pass_filter;
struct bw_high_pass_filter;
struct bw_band_stop_filter;
struct che_low_pass_filter;
struct che_high_pass_filter;
struct che_band_stop_filter;

class BWLPFilter : public FilterBase {
public:
    BWLPFilter(int order, double samplingRate, double cutoff);
    ~BWLPFilter() override;
    double operator()(double x) override;

private:
    double _cutoff;
    bw_low_pass_filter* _record;
};

class BWHPFilter : public FilterBase {
public:
    BWHPFilter(int order, double samplingRate, double cutoff);
    ~BWHPFilter() override;
    double operator()(double x) override;

private:
    double _cutoff;
    bw_high_pass_filter* _record;
};

// Band-stop between the half-power edges lower < upper; `order` is the band order (the
// prototype order is order / 2).
class BWBSFilter : public FilterBase {
public:
    BWBSFilter(int order, double samplingRate, double lower, double upper);
    ~BWBSFilter() override;
    double operator()(double x) override;

private:
    double _lower;
    double _upper;
    bw_band_stop_filter* _record;
};

class CheLPFilter : public CheFilter {
public:
    CheLPFilter(int order, double samplingRate, double epsilon, double cutoff);
    ~CheLPFilter() override;
    double operator()(double x) override;

private:
    double _cutoff;
    che_low_pass_filter* _record;
};

class CheHPFilter : public CheFilter {
public:
    CheHPFilter(int order, double samplingRate, double epsilon, double cutoff);
    ~CheHPFilter() override;
    double operator()(double x) override;

private:
    double _cutoff;
    che_high_pass_filter* _record;
};

class CheBSFilter : public CheFilter {
public:
    CheBSFilter(int order, double samplingRate, double epsilon, double lower, double upper);
    ~CheBSFilter() override;
    double operator()(double x) override;

private:
    double _lower;
    double _upper;
    che_band_stop_filter* _record;
};
