#include "iir_filters.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double SPIKE_KERNEL[3] = {-1.0, 2.0, -1.0};

void release_arrays(std::initializer_list<double**> arrays) {
    for (double** array : arrays) {
        std::free(*array);
        *array = nullptr;
    }
}

// Zero-filled arrays of `n` doubles (at least one, so an empty design is not mistaken for a
// failed allocation); on failure releases what was obtained and returns false.
bool allocate_arrays(std::initializer_list<double**> arrays, int n) {
    const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 1;
    for (double** array : arrays) {
        *array = nullptr;
    }
    for (double** array : arrays) {
        *array = static_cast<double*>(std::calloc(size, sizeof(double)));
        if (*array == nullptr) {
            release_arrays(arrays);
            return false;
        }
    }
    return true;
}

template <class Record>
Record* new_low_high(int sections, int odd) {
    auto* f = static_cast<Record*>(std::calloc(1, sizeof(Record)));
    if (f == nullptr) {
        return nullptr;
    }
    if (!allocate_arrays({&f->gain, &f->fb1, &f->fb2, &f->z0, &f->z1, &f->z2}, sections)) {
        std::free(f);
        return nullptr;
    }
    f->sections = sections;
    f->odd = odd;
    return f;
}

template <class Record>
Record* new_band(int sections, int odd) {
    auto* f = static_cast<Record*>(std::calloc(1, sizeof(Record)));
    if (f == nullptr) {
        return nullptr;
    }
    if (!allocate_arrays(
            {&f->gain, &f->fb1, &f->fb2, &f->fb3, &f->fb4, &f->z0, &f->z1, &f->z2, &f->z3, &f->z4},
            sections)) {
        std::free(f);
        return nullptr;
    }
    f->sections = sections;
    f->odd = odd;
    return f;
}

template <class Record>
void free_low_high(Record* f) {
    if (f == nullptr) {
        return;
    }
    release_arrays({&f->gain, &f->fb1, &f->fb2, &f->z0, &f->z1, &f->z2});
    std::free(f);
}

template <class Record>
void free_band(Record* f) {
    if (f == nullptr) {
        return;
    }
    release_arrays(
        {&f->gain, &f->fb1, &f->fb2, &f->fb3, &f->fb4, &f->z0, &f->z1, &f->z2, &f->z3, &f->z4});
    std::free(f);
}

// Order N gives N / 2 pole pairs plus the real pole when N is odd; no sections below order 1.
int pair_count(int N) {
    return N > 0 ? N / 2 : 0;
}
int has_real_pole(int N) {
    return N > 0 && N % 2 == 1 ? 1 : 0;
}

// A band order N designs from the prototype of order N / 2.
int band_prototype_order(int N) {
    return N > 0 ? N / 2 : 0;
}

template <bool High, class Record>
double run_low_high(Record* f, double x) {
    constexpr double middle = High ? -2.0 : 2.0;
    for (int k = 0; k < f->sections; ++k) {
        const double z0 = f->fb1[k] * f->z1[k] + f->fb2[k] * f->z2[k] + x;
        x = f->gain[k] * (z0 + middle * f->z1[k] + f->z2[k]);
        f->z0[k] = z0;
        f->z2[k] = f->z1[k];
        f->z1[k] = z0;
    }
    if (f->odd != 0) {
        const double w = f->odd_fb1 * f->odd_z1 + x;
        x = f->odd_gain * (High ? w - f->odd_z1 : w + f->odd_z1);
        f->odd_z1 = w;
    }
    return x;
}

template <class Record>
double feedback(Record* f, int k, double x) {
    return f->fb1[k] * f->z1[k] + f->fb2[k] * f->z2[k] + f->fb3[k] * f->z3[k] +
           f->fb4[k] * f->z4[k] + x;
}

template <class Record>
void shift(Record* f, int k, double z0) {
    f->z0[k] = z0;
    f->z4[k] = f->z3[k];
    f->z3[k] = f->z2[k];
    f->z2[k] = f->z1[k];
    f->z1[k] = z0;
}

template <class Record>
double run_band_pass(Record* f, double x) {
    for (int k = 0; k < f->sections; ++k) {
        const double z0 = feedback(f, k, x);
        x = f->gain[k] * (z0 - 2.0 * f->z2[k] + f->z4[k]);
        shift(f, k, z0);
    }
    if (f->odd != 0) {
        const double w = f->odd_fb1 * f->odd_z1 + f->odd_fb2 * f->odd_z2 + x;
        x = f->odd_gain * (w - f->odd_z2);
        f->odd_z2 = f->odd_z1;
        f->odd_z1 = w;
    }
    return x;
}

template <class Record>
double run_band_stop(Record* f, double x) {
    for (int k = 0; k < f->sections; ++k) {
        const double z0 = feedback(f, k, x);
        x = f->gain[k] *
            (z0 - f->notch1 * f->z1[k] + f->notch2 * f->z2[k] - f->notch1 * f->z3[k] + f->z4[k]);
        shift(f, k, z0);
    }
    if (f->odd != 0) {
        const double w = f->odd_fb1 * f->odd_z1 + f->odd_fb2 * f->odd_z2 + x;
        x = f->odd_gain * (w - f->odd_notch1 * f->odd_z1 + f->odd_z2);
        f->odd_z2 = f->odd_z1;
        f->odd_z1 = w;
    }
    return x;
}

// Band transform shared by all band designs: the prototype variable becomes
// (1 - 2a z^-1 + z^-2) / (b (1 - z^-2)), which maps f1 and f2 to the prototype's edges -1, +1.
struct BandWarp {
    double a;
    double b;
};

BandWarp band_warp(double s, double f1, double f2) {
    return {std::cos(kPi * (f2 + f1) / s) / std::cos(kPi * (f2 - f1) / s),
            std::tan(kPi * (f2 - f1) / s)};
}

// asinh(1/eps): the Chebyshev pole ellipse's parameter before division by the order.
double chebyshev_u(double eps) {
    return std::log((1.0 + std::sqrt(1.0 + eps * eps)) / eps);
}

bool band_edges_ok(double f1, double f2) {
    if (f1 >= f2) {
        std::fputs("ERROR:Lower half-power frequency is smaller than higher half-power frequency",
                   stdout);
        std::fflush(stdout);
        return false;
    }
    return true;
}

// Butterworth low-pass and high-pass. Pole pair k of order N sits at angle pi(2k+1)/(2N) (for
// even N that is pi(2k+1)/(4m)); the real pole of an odd order is -1.
template <bool High, class Record>
Record* design_bw_low_high(int N, double s, double f) {
    const int m = pair_count(N);
    auto* r = new_low_high<Record>(m, has_real_pole(N));
    if (r == nullptr) {
        return nullptr;
    }
    const double a = std::tan(kPi * f / s);
    const double a2 = a * a;
    for (int k = 0; k < m; ++k) {
        const double sr = std::sin(kPi * (2 * k + 1) / (2.0 * N));
        const double t = a2 + 2.0 * a * sr + 1.0;
        r->fb1[k] = 2.0 * (1.0 - a2) / t;
        r->fb2[k] = -(a2 - 2.0 * a * sr + 1.0) / t;
        r->gain[k] = High ? 1.0 / t : a2 / t;
    }
    if (r->odd != 0) {
        const double t = 1.0 + a;
        r->odd_fb1 = (1.0 - a) / t;
        r->odd_gain = High ? 1.0 / t : a / t;
    }
    return r;
}

// Chebyshev low-pass and high-pass. Each pole pair contributes 1/4 of its section's scale; with
// out_scale 2/eps an even order gets the overall 1/(eps 2^(N-1)). An odd order puts 1/eps into
// its real-pole section and keeps out_scale 1, which gives gain 1 at DC (low-pass) because the
// pole magnitudes multiply to 1/(eps 2^(N-1)).
template <bool High, class Record>
Record* design_che_low_high(int N, double eps, double s, double f) {
    const int m = pair_count(N);
    auto* r = new_low_high<Record>(m, has_real_pole(N));
    if (r == nullptr) {
        return nullptr;
    }
    const double a = std::tan(kPi * f / s);
    const double a2 = a * a;
    const double u = chebyshev_u(eps);
    const double su = N > 0 ? std::sinh(u / N) : 0.0;
    const double cu = N > 0 ? std::cosh(u / N) : 0.0;
    for (int k = 0; k < m; ++k) {
        const double theta = kPi * (2 * k + 1) / (2.0 * N);
        const double b = su * std::sin(theta);
        const double cc = cu * std::cos(theta);
        const double c = cc * cc + b * b;
        if (High) {
            const double t = a2 + 2.0 * a * b + c;
            r->gain[k] = 1.0 / (4.0 * t);
            r->fb1[k] = 2.0 * (c - a2) / t;
            r->fb2[k] = -(a2 - 2.0 * a * b + c) / t;
        } else {
            const double t = a2 * c + 2.0 * a * b + 1.0;
            r->gain[k] = a2 / (4.0 * t);
            r->fb1[k] = 2.0 * (1.0 - a2 * c) / t;
            r->fb2[k] = -(a2 * c - 2.0 * a * b + 1.0) / t;
        }
    }
    if (r->odd != 0) {
        if (High) {
            const double t = a + su;
            r->odd_gain = 1.0 / (eps * t);
            r->odd_fb1 = (su - a) / t;
        } else {
            const double t = 1.0 + a * su;
            r->odd_gain = a / (eps * t);
            r->odd_fb1 = (1.0 - a * su) / t;
        }
    }
    r->out_scale = m > 0 && r->odd == 0 ? 2.0 / eps : 1.0;
    return r;
}

// Butterworth band designs: prototype order n = N / 2, pole pair k at angle pi(2k+1)/(2n) (for
// N a multiple of 4 that is pi(2k+1)/(4m)); odd n adds the real pole -1 as a second-order
// section.
template <bool Stop, class Record>
Record* design_bw_band(int N, double s, double f1, double f2) {
    if (!band_edges_ok(f1, f2)) {
        return nullptr;
    }
    const int n = band_prototype_order(N);
    auto* r = new_band<Record>(n / 2, n % 2);
    if (r == nullptr) {
        return nullptr;
    }
    const auto [a, b] = band_warp(s, f1, f2);
    const double a2 = a * a;
    const double b2 = b * b;
    for (int k = 0; k < r->sections; ++k) {
        const double sr = std::sin(kPi * (2 * k + 1) / (2.0 * n));
        const double t = b2 + 2.0 * b * sr + 1.0;
        r->fb1[k] = 4.0 * a * (1.0 + b * sr) / t;
        r->fb2[k] = 2.0 * (b2 - 2.0 * a2 - 1.0) / t;
        r->fb3[k] = 4.0 * a * (1.0 - b * sr) / t;
        r->fb4[k] = -(b2 - 2.0 * b * sr + 1.0) / t;
        r->gain[k] = Stop ? 1.0 / t : b2 / t;
    }
    if (r->odd != 0) {
        const double t = 1.0 + b;
        r->odd_fb1 = 2.0 * a / t;
        r->odd_fb2 = -(1.0 - b) / t;
        r->odd_gain = Stop ? 1.0 / t : b / t;
    }
    if constexpr (Stop) {
        r->notch1 = 4.0 * a;
        r->notch2 = 4.0 * a2 + 2.0;
        r->odd_notch1 = 2.0 * a;
    }
    return r;
}

// Chebyshev band designs, normalised as the low-pass: 2/eps after an even prototype order,
// 1/eps inside the real-pole section of an odd one.
template <bool Stop, class Record>
Record* design_che_band(int N, double eps, double s, double f1, double f2) {
    const int n = band_prototype_order(N);
    auto* r = new_band<Record>(n / 2, n % 2);
    if (r == nullptr) {
        return nullptr;
    }
    const auto [a, b] = band_warp(s, f1, f2);
    const double a2 = a * a;
    const double b2 = b * b;
    // The band order 2n stands where N stands for multiples of 4.
    const double u = n > 0 ? 2.0 * chebyshev_u(eps) / (2.0 * n) : 0.0;
    const double su = std::sinh(u);
    const double cu = std::cosh(u);
    for (int k = 0; k < r->sections; ++k) {
        const double theta = kPi * (2 * k + 1) / (2.0 * n);
        const double rr = su * std::sin(theta);
        const double cc = cu * std::cos(theta);
        const double q = cc * cc + rr * rr;
        if (Stop) {
            const double t = b2 + 2.0 * b * rr + q;
            r->gain[k] = 1.0 / (4.0 * t);
            r->fb1[k] = 4.0 * a * (q + b * rr) / t;
            r->fb2[k] = 2.0 * (b2 - 2.0 * a2 * q - q) / t;
            r->fb3[k] = 4.0 * a * (q - b * rr) / t;
            r->fb4[k] = -(b2 - 2.0 * b * rr + q) / t;
        } else {
            const double c = b2 * q;
            const double t = c + 2.0 * b * rr + 1.0;
            r->gain[k] = b2 / (4.0 * t);
            r->fb1[k] = 4.0 * a * (1.0 + b * rr) / t;
            r->fb2[k] = 2.0 * (c - 2.0 * a2 - 1.0) / t;
            r->fb3[k] = 4.0 * a * (1.0 - b * rr) / t;
            r->fb4[k] = -(c - 2.0 * b * rr + 1.0) / t;
        }
    }
    if (r->odd != 0) {
        if (Stop) {
            const double t = b + su;
            r->odd_gain = 1.0 / (eps * t);
            r->odd_fb1 = 2.0 * a * su / t;
            r->odd_fb2 = (b - su) / t;
        } else {
            const double t = 1.0 + su * b;
            r->odd_gain = b / (eps * t);
            r->odd_fb1 = 2.0 * a / t;
            r->odd_fb2 = -(1.0 - su * b) / t;
        }
    }
    if constexpr (Stop) {
        r->notch1 = 4.0 * a;
        r->notch2 = 4.0 * a2 + 2.0;
        r->odd_notch1 = 2.0 * a;
    }
    r->out_scale = r->sections > 0 && r->odd == 0 ? 2.0 / eps : 1.0;
    return r;
}

}  // namespace

bw_low_pass_filter* create_bw_low_pass_filter(int N, double s, double f) {
    return design_bw_low_high<false, bw_low_pass_filter>(N, s, f);
}

bw_high_pass_filter* create_bw_high_pass_filter(int N, double s, double f) {
    return design_bw_low_high<true, bw_high_pass_filter>(N, s, f);
}

bw_band_pass_filter* create_bw_band_pass_filter(int N, double s, double f1, double f2) {
    return design_bw_band<false, bw_band_pass_filter>(N, s, f1, f2);
}

bw_band_stop_filter* create_bw_band_stop_filter(int N, double s, double f1, double f2) {
    return design_bw_band<true, bw_band_stop_filter>(N, s, f1, f2);
}

che_low_pass_filter* create_che_low_pass_filter(int N, double eps, double s, double f) {
    return design_che_low_high<false, che_low_pass_filter>(N, eps, s, f);
}

che_high_pass_filter* create_che_high_pass_filter(int N, double eps, double s, double f) {
    return design_che_low_high<true, che_high_pass_filter>(N, eps, s, f);
}

che_band_pass_filter* create_che_band_pass_filter(int N, double eps, double s, double f1,
                                                  double f2) {
    return design_che_band<false, che_band_pass_filter>(N, eps, s, f1, f2);
}

che_band_stop_filter* create_che_band_stop_filter(int N, double eps, double s, double f1,
                                                  double f2) {
    return design_che_band<true, che_band_stop_filter>(N, eps, s, f1, f2);
}

double bw_low_pass(bw_low_pass_filter* filter, double x) {
    return filter == nullptr ? x : run_low_high<false>(filter, x);
}

double bw_high_pass(bw_high_pass_filter* filter, double x) {
    return filter == nullptr ? x : run_low_high<true>(filter, x);
}

double bw_band_pass(bw_band_pass_filter* filter, double x) {
    return filter == nullptr ? x : run_band_pass(filter, x);
}

double bw_band_stop(bw_band_stop_filter* filter, double x) {
    return filter == nullptr ? x : run_band_stop(filter, x);
}

double che_low_pass(che_low_pass_filter* filter, double x) {
    return filter == nullptr ? x : filter->out_scale * run_low_high<false>(filter, x);
}

double che_high_pass(che_high_pass_filter* filter, double x) {
    return filter == nullptr ? x : filter->out_scale * run_low_high<true>(filter, x);
}

double che_band_pass(che_band_pass_filter* filter, double x) {
    return filter == nullptr ? x : filter->out_scale * run_band_pass(filter, x);
}

double che_band_stop(che_band_stop_filter* filter, double x) {
    return filter == nullptr ? x : filter->out_scale * run_band_stop(filter, x);
}

void free_bw_low_pass(bw_low_pass_filter* filter) {
    free_low_high(filter);
}
void free_bw_high_pass(bw_high_pass_filter* filter) {
    free_low_high(filter);
}
void free_bw_band_pass(bw_band_pass_filter* filter) {
    free_band(filter);
}
void free_bw_band_stop(bw_band_stop_filter* filter) {
    free_band(filter);
}
void free_che_low_pass(che_low_pass_filter* filter) {
    free_low_high(filter);
}
void free_che_high_pass(che_high_pass_filter* filter) {
    free_low_high(filter);
}
void free_che_band_pass(che_band_pass_filter* filter) {
    free_band(filter);
}
void free_che_band_stop(che_band_stop_filter* filter) {
    free_band(filter);
}

double softmax(double* values, int count, int index) {
    if (values == nullptr || index < 0 || index >= count) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        sum += values[i];
    }
    return values[index] / sum;
}

void spike_filter_upward(double* signal, int count, double* result, double strength) {
    if (signal == nullptr || result == nullptr || count <= 0) {
        return;
    }
    result[0] = 0.0;
    if (count == 1) {
        return;
    }
    result[count - 1] = 0.0;
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        sum += signal[i];
    }
    const double mean = sum / count;
    double squares = 0.0;
    for (int i = 0; i < count; ++i) {
        squares += (signal[i] - mean) * (signal[i] - mean);
    }
    const double threshold = strength * std::sqrt(squares / count);
    for (int k = 1; k < count - 1; ++k) {
        const double v = SPIKE_KERNEL[0] * signal[k - 1] + SPIKE_KERNEL[1] * signal[k] +
                         SPIKE_KERNEL[2] * signal[k + 1];
        result[k] = v >= threshold ? v : 0.0;
    }
}
