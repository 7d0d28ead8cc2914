#include "filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "iir_filters.h"

namespace {

// A deterministic, broadband input: a few sines and a step.
std::vector<double> probe() {
    std::vector<double> x(400);
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = static_cast<double>(n);
        x[n] = std::sin(0.05 * t) + 0.5 * std::cos(0.9 * t + 0.3) + (n >= 100 ? 1.0 : 0.0);
    }
    return x;
}

template <class Record>
std::function<double(double)> design(Record* record, double (*eval)(Record*, double),
                                     void (*release)(Record*)) {
    std::shared_ptr<Record> owned(record, release);
    return [owned, eval](double x) { return eval(owned.get(), x); };
}

// Every class runs the design named for it with the argument order of that design (ε before the
// rate in the Chebyshev functions). The values are distinct so a swapped pair changes the output.
TEST(FilterClasses, RunTheirOwnDesignWithItsArgumentOrder) {
    struct Case {
        const char* name;
        std::shared_ptr<FilterBase> object;
        std::function<double(double)> reference;
    };
    const Case cases[] = {
        {"BWLPFilter", std::make_shared<BWLPFilter>(3, 900.0, 40.0),
         design(create_bw_low_pass_filter(3, 900.0, 40.0), bw_low_pass, free_bw_low_pass)},
        {"BWHPFilter", std::make_shared<BWHPFilter>(4, 900.0, 2.0),
         design(create_bw_high_pass_filter(4, 900.0, 2.0), bw_high_pass, free_bw_high_pass)},
        {"BWBSFilter", std::make_shared<BWBSFilter>(4, 900.0, 49.5, 50.5),
         design(create_bw_band_stop_filter(4, 900.0, 49.5, 50.5), bw_band_stop, free_bw_band_stop)},
        {"CheLPFilter", std::make_shared<CheLPFilter>(4, 900.0, 0.5, 40.0),
         design(create_che_low_pass_filter(4, 0.5, 900.0, 40.0), che_low_pass, free_che_low_pass)},
        {"CheHPFilter", std::make_shared<CheHPFilter>(3, 900.0, 0.5, 2.0),
         design(create_che_high_pass_filter(3, 0.5, 900.0, 2.0), che_high_pass,
                free_che_high_pass)},
        {"CheBSFilter", std::make_shared<CheBSFilter>(4, 900.0, 0.5, 49.5, 50.5),
         design(create_che_band_stop_filter(4, 0.5, 900.0, 49.5, 50.5), che_band_stop,
                free_che_band_stop)},
    };
    const std::vector<double> input = probe();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.object->samplingRate(), 900.0);
        bool changed = false;
        for (double x : input) {
            const double y = (*c.object)(x);
            ASSERT_EQ(y, c.reference(x));
            changed = changed || y != x;
        }
        EXPECT_TRUE(changed);  // the comparison is not between two pass-throughs
    }
}

// Edges out of order leave the Butterworth band-stop without a record; the object then forwards
// its input instead of failing.
TEST(FilterClasses, ObjectWithoutRecordPassesInputThrough) {
    ::testing::internal::CaptureStdout();
    BWBSFilter filter(4, 1000.0, 60.5, 59.5);
    ::testing::internal::GetCapturedStdout();
    for (double x : probe()) {
        ASSERT_EQ(filter(x), x);
    }
}

TEST(FilterModeName, NamesBothFamiliesAndNothingElse) {
    const std::pair<int, std::string> cases[] = {
        {Butterworth, "Butterworth"},
        {Chebyshev, "Chevyshev"},
        {2, "unknown"},
        {-1, "unknown"},
        {7, "unknown"},
    };
    for (const auto& [mode, name] : cases) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(filterModeName(mode), name);
    }
}

}  // namespace
