#pragma once

// Butterworth and Chebyshev (type I) IIR filters designed by the bilinear transform and run one
// sample at a time. A design function allocates a record holding the section coefficients and
// delay lines (null when f1 >= f2 for the Butterworth band designs, or when memory runs out);
// the matching evaluation function filters one sample (a null record passes it through); the
// matching free function releases the record (null is accepted). A record is used by one caller
// at a time.
//
// Low-pass and high-pass designs of order N are cascades of N / 2 second-order sections plus,
// for odd N, one first-order section (the real pole). Band designs take a band order N; their
// prototype order is n = N / 2, giving n / 2 fourth-order sections plus, for odd n, one
// second-order section. The per-section arrays hold one value per section; the `odd_` fields
// describe the extra section and are used only when `odd` is 1. A design without any section
// passes its input unchanged. Frequencies are in Hz, s is the sampling rate, eps the Chebyshev
// ripple factor (pass-band ripple 10*log10(1 + eps^2) dB).

struct bw_low_pass_filter {
    int sections;
    double* gain;
    double* fb1;
    double* fb2;
    double* z0;
    double* z1;
    double* z2;
    int odd;  // 1 when the first-order section is present
    double odd_gain;
    double odd_fb1;
    double odd_z1;
};

struct bw_high_pass_filter {
    int sections;
    double* gain;
    double* fb1;
    double* fb2;
    double* z0;
    double* z1;
    double* z2;
    int odd;
    double odd_gain;
    double odd_fb1;
    double odd_z1;
};

struct bw_band_pass_filter {
    int sections;
    double* gain;
    double* fb1;
    double* fb2;
    double* fb3;
    double* fb4;
    double* z0;
    double* z1;
    double* z2;
    double* z3;
    double* z4;
    int odd;  // 1 when the second-order band section is present
    double odd_gain;
    double odd_fb1;
    double odd_fb2;
    double odd_z1;
    double odd_z2;
};

struct bw_band_stop_filter {
    int sections;
    double notch1;
    double notch2;
    double* gain;
    double* fb1;
    double* fb2;
    double* fb3;
    double* fb4;
    double* z0;
    double* z1;
    double* z2;
    double* z3;
    double* z4;
    int odd;
    double odd_notch1;  // numerator of the second-order section: 1 - odd_notch1 z^-1 + z^-2
    double odd_gain;
    double odd_fb1;
    double odd_fb2;
    double odd_z1;
    double odd_z2;
};

struct che_low_pass_filter {
    int sections;
    double out_scale;
    double* gain;
    double* fb1;
    double* fb2;
    double* z0;
    double* z1;
    double* z2;
    int odd;
    double odd_gain;
    double odd_fb1;
    double odd_z1;
};

struct che_high_pass_filter {
    int sections;
    double out_scale;
    double* gain;
    double* fb1;
    double* fb2;
    double* z0;
    double* z1;
    double* z2;
    int odd;
    double odd_gain;
    double odd_fb1;
    double odd_z1;
};

struct che_band_pass_filter {
    int sections;
    double out_scale;
    double* gain;
    double* fb1;
    double* fb2;
    double* fb3;
    double* fb4;
    double* z0;
    double* z1;
    double* z2;
    double* z3;
    double* z4;
    int odd;
    double odd_gain;
    double odd_fb1;
    double odd_fb2;
    double odd_z1;
    double odd_z2;
};

struct che_band_stop_filter {
    int sections;
    double out_scale;
    double notch1;
    double notch2;
    double* gain;
    double* fb1;
    double* fb2;
    double* fb3;
    double* fb4;
    double* z0;
    double* z1;
    double* z2;
    double* z3;
    double* z4;
    int odd;
    double odd_notch1;
    double odd_gain;
    double odd_fb1;
    double odd_fb2;
    double odd_z1;
    double odd_z2;
};

bw_low_pass_filter* create_bw_low_pass_filter(int N, double s, double f);
bw_high_pass_filter* create_bw_high_pass_filter(int N, double s, double f);
// Half-power edges f1 < f2; otherwise prints an error (no line end) and returns null.
bw_band_pass_filter* create_bw_band_pass_filter(int N, double s, double f1, double f2);
bw_band_stop_filter* create_bw_band_stop_filter(int N, double s, double f1, double f2);
// Note: eps precedes s. The cut-off is the edge of the ripple band.
che_low_pass_filter* create_che_low_pass_filter(int N, double eps, double s, double f);
che_high_pass_filter* create_che_high_pass_filter(int N, double eps, double s, double f);
che_band_pass_filter* create_che_band_pass_filter(int N, double eps, double s, double f1,
                                                  double f2);
che_band_stop_filter* create_che_band_stop_filter(int N, double eps, double s, double f1,
                                                  double f2);

double bw_low_pass(bw_low_pass_filter* filter, double x);
double bw_high_pass(bw_high_pass_filter* filter, double x);
double bw_band_pass(bw_band_pass_filter* filter, double x);
double bw_band_stop(bw_band_stop_filter* filter, double x);
double che_low_pass(che_low_pass_filter* filter, double x);
double che_high_pass(che_high_pass_filter* filter, double x);
double che_band_pass(che_band_pass_filter* filter, double x);
double che_band_stop(che_band_stop_filter* filter, double x);

void free_bw_low_pass(bw_low_pass_filter* filter);
void free_bw_high_pass(bw_high_pass_filter* filter);
void free_bw_band_pass(bw_band_pass_filter* filter);
void free_bw_band_stop(bw_band_stop_filter* filter);
void free_che_low_pass(che_low_pass_filter* filter);
void free_che_high_pass(che_high_pass_filter* filter);
void free_che_band_pass(che_band_pass_filter* filter);
void free_che_band_stop(che_band_stop_filter* filter);

// values[index] / (values[0] + ... + values[count - 1]); NaN when index is outside 0 .. count-1.
double softmax(double* values, int count, int index);

// Marks upward spikes: result[k] = -signal[k-1] + 2 signal[k] - signal[k+1] where that is at
// least strength times the population standard deviation of signal, else 0; result[0] and
// result[count - 1] are 0. Writes only the positions that exist.
void spike_filter_upward(double* signal, int count, double* result, double strength);
