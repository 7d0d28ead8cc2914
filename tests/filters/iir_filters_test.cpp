#include "iir_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;
const double kHalfPower = 1.0 / std::sqrt(2.0);

// ---------------------------------------------------------------------------------------------
// Transfer functions reconstructed from a record's coefficients, in the form the evaluators run.
// The polynomials are summed in extended precision so that what is measured is the error of
// the coefficients, not of this evaluation.

Complex poly(std::initializer_list<double> coefficients, Complex zInv) {
    std::complex<long double> sum = 0.0L;
    std::complex<long double> power = 1.0L;
    const std::complex<long double> zi(zInv.real(), zInv.imag());
    for (double c : coefficients) {
        sum += static_cast<long double>(c) * power;
        power *= zi;
    }
    return {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
}

template <class Record>
double outScale(const Record& r) {
    if constexpr (requires { r.out_scale; }) {
        return r.out_scale;
    } else {
        return 1.0;
    }
}

template <class Record>
Complex lowHighResponse(const Record& r, double w, bool high) {
    const Complex zi = std::polar(1.0, -w);
    const double sign = high ? -1.0 : 1.0;
    Complex h = outScale(r);
    for (int k = 0; k < r.sections; ++k) {
        h *= r.gain[k] * poly({1.0, 2.0 * sign, 1.0}, zi) / poly({1.0, -r.fb1[k], -r.fb2[k]}, zi);
    }
    if (r.odd != 0) {
        h *= r.odd_gain * poly({1.0, sign}, zi) / poly({1.0, -r.odd_fb1}, zi);
    }
    return h;
}

template <class Record>
Complex bandResponse(const Record& r, double w) {
    const Complex zi = std::polar(1.0, -w);
    constexpr bool stop = requires {
        r.notch1;
    };
    Complex h = outScale(r);
    for (int k = 0; k < r.sections; ++k) {
        Complex numerator;
        if constexpr (stop) {
            numerator = poly({1.0, -r.notch1, r.notch2, -r.notch1, 1.0}, zi);
        } else {
            numerator = poly({1.0, 0.0, -2.0, 0.0, 1.0}, zi);
        }
        h *= r.gain[k] * numerator / poly({1.0, -r.fb1[k], -r.fb2[k], -r.fb3[k], -r.fb4[k]}, zi);
    }
    if (r.odd != 0) {
        Complex numerator;
        if constexpr (stop) {
            numerator = poly({1.0, -r.odd_notch1, 1.0}, zi);
        } else {
            numerator = poly({1.0, 0.0, -1.0}, zi);
        }
        h *= r.odd_gain * numerator / poly({1.0, -r.odd_fb1, -r.odd_fb2}, zi);
    }
    return h;
}

Complex response(const bw_low_pass_filter& r, double w) {
    return lowHighResponse(r, w, false);
}
Complex response(const che_low_pass_filter& r, double w) {
    return lowHighResponse(r, w, false);
}
Complex response(const bw_high_pass_filter& r, double w) {
    return lowHighResponse(r, w, true);
}
Complex response(const che_high_pass_filter& r, double w) {
    return lowHighResponse(r, w, true);
}
Complex response(const bw_band_pass_filter& r, double w) {
    return bandResponse(r, w);
}
Complex response(const che_band_pass_filter& r, double w) {
    return bandResponse(r, w);
}
Complex response(const bw_band_stop_filter& r, double w) {
    return bandResponse(r, w);
}
Complex response(const che_band_stop_filter& r, double w) {
    return bandResponse(r, w);
}

// ---------------------------------------------------------------------------------------------
// One designed record of any kind behind a common face.

class Designed {
public:
    virtual ~Designed() = default;
    virtual bool valid() const = 0;
    virtual Complex response(double w) const = 0;  // w in radians per sample
    virtual double step(double x) = 0;
    virtual double firstOutputScale() const = 0;  // product of the section scales
};

template <class Record>
class Held : public Designed {
public:
    Held(Record* record, double (*eval)(Record*, double), void (*release)(Record*))
        : _record(record), _eval(eval), _release(release) {}
    ~Held() override { _release(_record); }
    bool valid() const override { return _record != nullptr; }
    Complex response(double w) const override { return ::response(*_record, w); }
    double step(double x) override { return _eval(_record, x); }
    double firstOutputScale() const override {
        double g = outScale(*_record);
        for (int k = 0; k < _record->sections; ++k) {
            g *= _record->gain[k];
        }
        return _record->odd != 0 ? g * _record->odd_gain : g;
    }

private:
    Record* _record;
    double (*_eval)(Record*, double);
    void (*_release)(Record*);
};

template <class Record>
std::unique_ptr<Designed> hold(Record* record, double (*eval)(Record*, double),
                               void (*release)(Record*)) {
    return std::make_unique<Held<Record>>(record, eval, release);
}

struct Design {
    std::string family;  // "bw" or "che"
    std::string btype;   // "lowpass", "highpass", "bandpass", "bandstop"
    int order = 0;       // our order argument (band order for band designs)
    double eps = 0.0;
    double rate = 0.0;
    double f1 = 0.0;
    double f2 = 0.0;
};

std::string describe(const Design& d) {
    std::ostringstream out;
    out << d.family << ' ' << d.btype << " order " << d.order << " eps " << d.eps << " rate "
        << d.rate << " f " << d.f1 << ' ' << d.f2;
    return out.str();
}

std::unique_ptr<Designed> create(const Design& d) {
    const int n = d.order;
    if (d.family == "bw") {
        if (d.btype == "lowpass") {
            return hold(create_bw_low_pass_filter(n, d.rate, d.f1), bw_low_pass, free_bw_low_pass);
        }
        if (d.btype == "highpass") {
            return hold(create_bw_high_pass_filter(n, d.rate, d.f1), bw_high_pass,
                        free_bw_high_pass);
        }
        if (d.btype == "bandpass") {
            return hold(create_bw_band_pass_filter(n, d.rate, d.f1, d.f2), bw_band_pass,
                        free_bw_band_pass);
        }
        return hold(create_bw_band_stop_filter(n, d.rate, d.f1, d.f2), bw_band_stop,
                    free_bw_band_stop);
    }
    if (d.btype == "lowpass") {
        return hold(create_che_low_pass_filter(n, d.eps, d.rate, d.f1), che_low_pass,
                    free_che_low_pass);
    }
    if (d.btype == "highpass") {
        return hold(create_che_high_pass_filter(n, d.eps, d.rate, d.f1), che_high_pass,
                    free_che_high_pass);
    }
    if (d.btype == "bandpass") {
        return hold(create_che_band_pass_filter(n, d.eps, d.rate, d.f1, d.f2), che_band_pass,
                    free_che_band_pass);
    }
    return hold(create_che_band_stop_filter(n, d.eps, d.rate, d.f1, d.f2), che_band_stop,
                free_che_band_stop);
}

bool isBand(const Design& d) {
    return d.btype.starts_with("band");
}

double radians(const Design& d, double hz) {
    return 2.0 * kPi * hz / d.rate;
}

// Amplitude after settling: a cosine and a sine through two fresh copies of the design give
// |H| as the length of the output pair, sample by sample, once the transient has died out.
double settledAmplitude(const Design& d, double hz) {
    auto withCos = create(d);
    auto withSin = create(d);
    const double w = radians(d, hz);
    constexpr long kBlock = 4096;
    constexpr long kLimit = 1L << 22;
    double previous = -1.0;
    int calm = 0;
    for (long n = 0; n < kLimit; ++n) {
        const double phase = w * static_cast<double>(n);
        const double yc = withCos->step(std::cos(phase));
        const double ys = withSin->step(std::sin(phase));
        if ((n + 1) % kBlock == 0) {
            const double amplitude = std::hypot(yc, ys);
            if (!(amplitude < 1e6)) {
                break;  // unstable: no settled amplitude
            }
            calm = std::abs(amplitude - previous) < 1e-9 ? calm + 1 : 0;
            if (calm == 2) {
                return amplitude;
            }
            previous = amplitude;
        }
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// ---------------------------------------------------------------------------------------------
// scipy's tables (see make_reference.py).

struct Reference {
    Design design;  // order is scipy's order
    const std::vector<double>* grid = nullptr;
    std::vector<double> magnitude;
};

struct Table {
    std::map<std::string, std::vector<double>> grids;
    std::vector<Reference> designs;
};

Table readTable(const std::string& name) {
    Table table;
    std::ifstream in(std::string(FILTER_REFERENCE_DIR) + "/" + name);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "grid") {
            std::string gridName;
            std::size_t count = 0;
            fields >> gridName >> count;
            std::vector<double> grid(count);
            for (double& f : grid) {
                fields >> f;
            }
            table.grids[gridName] = grid;
        } else if (kind == "design") {
            Reference ref;
            std::string gridName;
            fields >> ref.design.family >> ref.design.btype >> ref.design.order >> ref.design.eps >>
                ref.design.rate >> ref.design.f1 >> ref.design.f2 >> gridName;
            ref.grid = &table.grids.at(gridName);
            ref.magnitude.resize(ref.grid->size());
            for (double& m : ref.magnitude) {
                fields >> m;
            }
            EXPECT_FALSE(fields.fail()) << line.substr(0, 80);
            table.designs.push_back(ref);
        }
    }
    return table;
}

// Our order arguments realising scipy's order n: n itself for low/high-pass, and both band
// orders 2n and 2n + 1 for band designs (the band order is halved, rounding down).
std::vector<Design> realisations(const Reference& ref) {
    Design d = ref.design;
    if (!isBand(d)) {
        return {d};
    }
    const int n = d.order;
    d.order = 2 * n;
    Design odd = d;
    odd.order = 2 * n + 1;
    return {d, odd};
}

class ScipyTable : public ::testing::TestWithParam<const char*> {};

// Fourth-order sections are badly conditioned when their four poles crowd together (narrow or
// low bands): rounding the coefficients to double alone moves a Chebyshev band response by up
// to about 1e-9, so band designs get a looser bound than the second-order ones.
TEST_P(ScipyTable, MagnitudeMatchesScipyOnTheGrid) {
    const Table table = readTable(GetParam());
    ASSERT_FALSE(table.designs.empty());
    std::map<std::string, double> worst;
    for (const Reference& ref : table.designs) {
        for (const Design& d : realisations(ref)) {
            SCOPED_TRACE(describe(d));
            auto designed = create(d);
            ASSERT_TRUE(designed->valid());
            const double tolerance = isBand(d) ? 1e-8 : 1e-9;
            double& w = worst[d.family + ' ' + d.btype];
            for (std::size_t i = 0; i < ref.grid->size(); ++i) {
                const double hz = (*ref.grid)[i];
                const double expected = ref.magnitude[i];
                const double actual = std::abs(designed->response(radians(d, hz)));
                const double deviation = std::abs(actual - expected);
                w = std::max(w, deviation);
                EXPECT_LE(deviation, tolerance * std::max(1.0, expected))
                    << "at " << hz << " Hz: " << actual << " vs scipy " << expected;
            }
        }
    }
    for (const auto& [name, deviation] : worst) {
        std::ostringstream text;
        text << deviation;
        RecordProperty("max_deviation " + name, text.str());
    }
}

// The evaluators run the coefficients the responses above were computed from: a settled sine
// through each design has the table's magnitude, at the grid point nearest half amplitude (the
// steep part) and at the largest.
TEST_P(ScipyTable, EvaluatorSettlesToTableMagnitude) {
    const Table table = readTable(GetParam());
    ASSERT_FALSE(table.designs.empty());
    for (const Reference& ref : table.designs) {
        const auto& m = ref.magnitude;
        const std::size_t steep = std::min_element(m.begin(), m.end(),
                                                   [](double a, double b) {
                                                       return std::abs(a - 0.5) < std::abs(b - 0.5);
                                                   }) -
                                  m.begin();
        const std::size_t top = std::max_element(m.begin(), m.end()) - m.begin();
        for (const Design& d : realisations(ref)) {
            for (std::size_t i : {steep, top}) {
                SCOPED_TRACE(describe(d) + " at " + std::to_string((*ref.grid)[i]) + " Hz");
                EXPECT_NEAR(settledAmplitude(d, (*ref.grid)[i]), m[i], 1e-7);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, ScipyTable,
                         ::testing::Values("low_high_pass.txt", "band_pass_stop.txt"),
                         [](const auto& info) {
                             return std::string(info.param).substr(0, 4) == "low_"
                                        ? std::string("LowHighPass")
                                        : std::string("BandPassStop");
                         });

// ---------------------------------------------------------------------------------------------
// Known points of the response, measured through the evaluators.

TEST(IirFilters, KnownGainsAtOneThousandSamplesPerSecond) {
    struct Case {
        Design design;
        double hz;
        double gain;
        double tolerance;
    };
    const Case cases[] = {
        {{"bw", "lowpass", 4, 0, 1000, 30, 0}, 0.0, 1.0, 1e-9},
        {{"bw", "lowpass", 4, 0, 1000, 30, 0}, 30.0, kHalfPower, 1e-9},
        {{"bw", "highpass", 2, 0, 1000, 1, 0}, 1.0, kHalfPower, 1e-9},
        {{"bw", "highpass", 2, 0, 1000, 1, 0}, 30.0, 1.0, 1e-5},
        {{"bw", "bandstop", 4, 0, 1000, 59.5, 60.5}, 59.5, kHalfPower, 1e-9},
        {{"bw", "bandstop", 4, 0, 1000, 59.5, 60.5}, 60.5, kHalfPower, 1e-9},
        {{"bw", "bandstop", 4, 0, 1000, 59.5, 60.5}, 60.0, 0.0, 2e-5},
        {{"bw", "bandstop", 4, 0, 1000, 59.5, 60.5}, 50.0, 1.0, 1e-4},
        {{"bw", "lowpass", 1, 0, 1000, 30, 0}, 30.0, kHalfPower, 1e-9},
        {{"bw", "bandpass", 3, 0, 1000, 8, 13}, 13.0, kHalfPower, 1e-9},
        // Chebyshev, 3.01 dB ripple: even orders start at the bottom of the ripple, odd ones
        // at the top; the cut-off is the ripple band's edge for both.
        {{"che", "lowpass", 4, 1, 1000, 30, 0}, 0.0, kHalfPower, 1e-9},
        {{"che", "lowpass", 4, 1, 1000, 30, 0}, 30.0, kHalfPower, 1e-9},
        {{"che", "lowpass", 3, 1, 1000, 30, 0}, 0.0, 1.0, 1e-9},
        {{"che", "lowpass", 3, 1, 1000, 30, 0}, 30.0, kHalfPower, 1e-9},
        {{"che", "highpass", 3, 0.5, 1000, 30, 0}, 500.0, 1.0, 1e-9},
        {{"che", "bandstop", 6, 1, 1000, 59.5, 60.5}, 0.0, 1.0, 1e-9},
        {{"che", "bandstop", 6, 1, 1000, 59.5, 60.5}, 60.5, kHalfPower, 1e-9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.design) + " at " + std::to_string(c.hz) + " Hz");
        EXPECT_NEAR(settledAmplitude(c.design, c.hz), c.gain, c.tolerance);
    }
}

TEST(IirFilters, ChebyshevEvenOrderRipplesBetweenHalfPowerAndOne) {
    for (int order : {2, 4, 6, 8}) {
        SCOPED_TRACE(order);
        auto f = create({"che", "lowpass", order, 1.0, 1000, 30, 0});
        double lowest = 2.0;
        double highest = 0.0;
        for (int i = 0; i <= 3000; ++i) {
            const double m = std::abs(f->response(2.0 * kPi * (i * 0.01) / 1000.0));
            lowest = std::min(lowest, m);
            highest = std::max(highest, m);
        }
        EXPECT_NEAR(lowest, kHalfPower, 1e-9);
        EXPECT_NEAR(highest, 1.0, 1e-6);
    }
}

// Designs without any section pass samples through unchanged; in particular the Chebyshev
// output scale is not applied to them.
TEST(IirFilters, DesignsWithoutSectionsPassInputThrough) {
    const Design cases[] = {
        {"bw", "lowpass", 0, 0, 1000, 30, 0},        {"bw", "highpass", 0, 0, 1000, 30, 0},
        {"che", "lowpass", 0, 1, 1000, 30, 0},       {"che", "highpass", 0, 0.5, 1000, 30, 0},
        {"che", "lowpass", -3, 1, 1000, 30, 0},      {"bw", "bandpass", 1, 0, 1000, 8, 13},
        {"bw", "bandstop", 0, 0, 1000, 59.5, 60.5},  {"che", "bandpass", 1, 1, 1000, 8, 13},
        {"che", "bandstop", 1, 1, 1000, 59.5, 60.5}, {"bw", "bandstop", -4, 0, 1000, 59.5, 60.5},
    };
    for (const Design& d : cases) {
        SCOPED_TRACE(describe(d));
        auto f = create(d);
        ASSERT_TRUE(f->valid());
        for (double x : {1.0, -2.5, 0.0, 7.25, 1e-3}) {
            EXPECT_EQ(f->step(x), x);
        }
    }
}

// A fresh record starts from zero delay lines, so the first output is the input scaled by the
// product of the section scales.
TEST(IirFilters, FirstOutputOfAFreshRecordIsTheScaledInput) {
    const Design cases[] = {
        {"bw", "lowpass", 2, 0, 1000, 30, 0},  {"bw", "lowpass", 5, 0, 1000, 30, 0},
        {"che", "lowpass", 4, 1, 1000, 30, 0}, {"che", "highpass", 3, 0.5, 250, 40, 0},
        {"bw", "bandpass", 6, 0, 1000, 8, 13}, {"che", "bandstop", 8, 1, 1000, 59.5, 60.5},
    };
    for (const Design& d : cases) {
        SCOPED_TRACE(describe(d));
        auto f = create(d);
        EXPECT_DOUBLE_EQ(f->step(3.0), 3.0 * f->firstOutputScale());
    }
    bw_low_pass_filter* lp = create_bw_low_pass_filter(2, 1000, 30);
    ASSERT_NE(lp, nullptr);
    EXPECT_EQ(lp->sections, 1);
    EXPECT_EQ(bw_low_pass(lp, 1.0), lp->gain[0]);
    free_bw_low_pass(lp);
}

TEST(IirFilters, ButterworthBandDesignsRejectEdgesOutOfOrder) {
    const char* message =
        "ERROR:Lower half-power frequency is smaller than higher half-power frequency";
    for (const auto& [f1, f2] : {std::pair{60.5, 59.5}, std::pair{60.0, 60.0}}) {
        SCOPED_TRACE(std::to_string(f1) + " " + std::to_string(f2));
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(create_bw_band_pass_filter(4, 1000, f1, f2), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(create_bw_band_stop_filter(4, 1000, f1, f2), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
    }
    // The Chebyshev band designs take any edges.
    che_band_stop_filter* bs = create_che_band_stop_filter(4, 1.0, 1000, 60.5, 59.5);
    EXPECT_NE(bs, nullptr);
    free_che_band_stop(bs);
    free_bw_band_stop(nullptr);
}

// Band order N uses prototype order N / 2: odd band orders design the same filter as the even
// order below them, and odd prototype orders add one second-order band section.
TEST(IirFilters, BandOrdersHalveIntoPrototypeOrders) {
    struct Case {
        int order;
        int sections;
        int odd;
    };
    for (const Case& c : {Case{2, 0, 1}, Case{3, 0, 1}, Case{4, 1, 0}, Case{6, 1, 1}, Case{7, 1, 1},
                          Case{8, 2, 0}, Case{16, 4, 0}}) {
        SCOPED_TRACE(c.order);
        bw_band_stop_filter* bw = create_bw_band_stop_filter(c.order, 1000, 59.5, 60.5);
        che_band_pass_filter* che = create_che_band_pass_filter(c.order, 0.5, 1000, 8, 13);
        ASSERT_NE(bw, nullptr);
        ASSERT_NE(che, nullptr);
        EXPECT_EQ(bw->sections, c.sections);
        EXPECT_EQ(bw->odd, c.odd);
        EXPECT_EQ(che->sections, c.sections);
        EXPECT_EQ(che->odd, c.odd);
        free_bw_band_stop(bw);
        free_che_band_pass(che);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(SpikeFilterUpward, KeepsSecondDifferencesAtOrAboveTheThreshold) {
    struct Case {
        std::vector<double> signal;
        double strength;
        std::vector<double> expected;
    };
    const Case cases[] = {
        // sigma = 2; second differences {-5, 10, -5}.
        {{0, 0, 5, 0, 0}, 1.0, {0, 0, 10, 0, 0}},
        {{0, 0, 5, 0, 0}, 5.0, {0, 0, 10, 0, 0}},  // exactly at the threshold
        {{0, 0, 5, 0, 0}, 5.01, {0, 0, 0, 0, 0}},
        {{0, 0, 5, 0, 0}, -3.0, {0, -5, 10, -5, 0}},
        {{1, 1, 1, 1}, 0.0, {0, 0, 0, 0}},  // flat: sigma 0, differences 0 pass the threshold
        {{3, 9}, 0.0, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.signal) + " strength " +
                     std::to_string(c.strength));
        std::vector<double> signal = c.signal;
        std::vector<double> result(signal.size(), 99.0);
        spike_filter_upward(signal.data(), static_cast<int>(signal.size()), result.data(),
                            c.strength);
        EXPECT_EQ(result, c.expected);
    }
}

TEST(SpikeFilterUpward, ShortSignalsWriteOnlyExistingPositions) {
    double signal[2] = {4.0, 4.0};
    double result[2] = {99.0, 99.0};
    spike_filter_upward(signal, 0, result, 1.0);
    EXPECT_EQ(result[0], 99.0);
    spike_filter_upward(signal, 1, result, 1.0);
    EXPECT_EQ(result[0], 0.0);
    EXPECT_EQ(result[1], 99.0);
}

TEST(Softmax, IsThePlainRatioToTheSum) {
    double values[] = {1.0, 2.0, 3.0, 4.0};
    EXPECT_DOUBLE_EQ(softmax(values, 4, 2), 0.3);
    EXPECT_DOUBLE_EQ(softmax(values, 2, 1), 2.0 / 3.0);
    double balanced[] = {1.0, -1.0};
    EXPECT_EQ(softmax(balanced, 2, 0), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(softmax(values, 4, 4)));
    EXPECT_TRUE(std::isnan(softmax(values, 0, 0)));
}

}  // namespace
