#include "vt_fft.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kN = 1024;
constexpr std::size_t kBins = kN / 2 - 1;

std::vector<double> randomSamples(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(count);
    for (double& v : x) {
        v = dist(gen);
    }
    return x;
}

std::vector<double> sineAtBin(std::size_t count, int bin, int n) {
    std::vector<double> x(count);
    for (std::size_t i = 0; i < count; ++i) {
        x[i] = std::sin(2.0 * std::numbers::pi * bin * static_cast<double>(i) / n);
    }
    return x;
}

void feed(VtFFT& fft, const std::vector<double>& x, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        fft.AddVal(x[i]);
    }
}

std::optional<std::vector<double>> spectrum(VtFFT& fft) {
    std::vector<double> out(static_cast<std::size_t>(fft.size() / 2 - 1), -1.0);
    if (!fft.GetValues(out)) {
        return std::nullopt;
    }
    return out;
}

// |X_k| / n of the Hamming-windowed block for k = 1 ... n/2-1, by direct summation: an oracle
// that shares nothing with the FFT path.
std::vector<double> directHammingSpectrum(const double* x, int n) {
    const long double pi = std::numbers::pi_v<long double>;
    std::vector<long double> windowed(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        windowed[i] = (0.54L - 0.46L * std::cos(2.0L * pi * i / (n - 1))) * x[i];
    }
    std::vector<double> mags;
    for (int k = 1; k < n / 2; ++k) {
        std::complex<long double> sum = 0;
        for (int i = 0; i < n; ++i) {
            // Reduce k*i modulo n so the angle stays exact for large products.
            sum += std::polar(windowed[i], -2.0L * pi * ((static_cast<long>(k) * i) % n) / n);
        }
        mags.push_back(static_cast<double>(std::abs(sum) / n));
    }
    return mags;
}

void expectAllNear(const std::vector<double>& actual, const std::vector<double>& expected,
                   double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t m = 0; m < actual.size(); ++m) {
        ASSERT_NEAR(actual[m], expected[m], tolerance) << "m = " << m;
    }
}

TEST(VtFFTTest, FirstSpectrumAtBlockEndThenEveryHalfBlock) {
    VtFFT fft(kN, Hann);
    const auto x = randomSamples(1536, 1);
    std::vector<double> untouched(kBins, -1.0);

    feed(fft, x, 0, 1023);
    EXPECT_FALSE(fft.GetValues(untouched));
    EXPECT_EQ(untouched, std::vector<double>(kBins, -1.0));

    feed(fft, x, 1023, 1024);
    const auto first = spectrum(fft);
    ASSERT_TRUE(first);

    feed(fft, x, 1024, 1535);
    EXPECT_EQ(spectrum(fft), first);

    feed(fft, x, 1535, 1536);
    const auto second = spectrum(fft);
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);

    // A vector that is too short is grown, never overrun.
    std::vector<double> shortOut;
    ASSERT_TRUE(fft.GetValues(shortOut));
    EXPECT_EQ(shortOut, *second);
}

// Every block (the first one, then each half-overlapped one) against a direct DFT, for sizes
// including a length that is not a power of two. The overlap must carry unwindowed samples.
TEST(VtFFTTest, MatchesDirectDftOfEveryOverlappingBlock) {
    for (int n : {8, 96, kN}) {
        SCOPED_TRACE(n);
        VtFFT fft(n, Hamming);
        const auto x = randomSamples(3 * static_cast<std::size_t>(n), 7);
        const std::size_t half = static_cast<std::size_t>(n) / 2;
        feed(fft, x, 0, 2 * half - 1);
        for (std::size_t start = 0; start + 2 * half <= x.size(); start += half) {
            SCOPED_TRACE(start);
            feed(fft, x, start + 2 * half - 1, start + 2 * half);
            const auto got = spectrum(fft);
            ASSERT_TRUE(got);
            expectAllNear(*got, directHammingSpectrum(x.data() + start, n), 1e-12);
            // Feed the next half block but its last sample, which completes the next spectrum.
            if (start + 3 * half <= x.size()) {
                feed(fft, x, start + 2 * half, start + 3 * half - 1);
                EXPECT_EQ(spectrum(fft), got);
            }
        }
    }
}

TEST(VtFFTTest, HannSineAtBin64) {
    VtFFT fft(kN, Hann);
    feed(fft, sineAtBin(kN, 64, kN), 0, kN);
    const auto out = spectrum(fft);
    ASSERT_TRUE(out);
    EXPECT_NEAR((*out)[63], 0.2498, 1e-4);
    EXPECT_NEAR((*out)[62], 0.1251, 1e-4);
    EXPECT_NEAR((*out)[64], 0.1251, 1e-4);
    for (std::size_t m = 0; m < kBins; ++m) {
        if (m < 62 || m > 64) {
            ASSERT_LT((*out)[m], 1e-4) << "m = " << m;
        }
    }
}

TEST(VtFFTTest, HannConstantLeaksOnlyIntoBin1) {
    VtFFT fft(kN, Hann);
    feed(fft, std::vector<double>(kN, 1.0), 0, kN);
    const auto out = spectrum(fft);
    ASSERT_TRUE(out);
    EXPECT_NEAR((*out)[0], 0.2501, 1e-4);
    for (std::size_t m = 1; m < kBins; ++m) {
        ASSERT_LT((*out)[m], 2e-4) << "m = " << m;
    }
}

// An impulse at position i gives |w[i]| / N in every bin, which exposes single window values.
// Expected values are scipy.signal.windows (symmetric, N = 1024); "Hanning" is hann(N + 2)
// without its two zero ends.
TEST(VtFFTTest, WindowValuesMatchReference) {
    struct Case {
        WindowingTypes type;
        std::size_t index;
        double value;
    };
    const Case cases[] = {
        {Hamming, 0, 0.08},
        {Hamming, 100, 0.16406992287872263},
        {Hamming, 1023, 0.08},
        {Hann, 0, 0.0},
        {Hann, 100, 0.091380350955133194},
        {Hann, 511, 0.99999764230216159},
        {Hann, 1023, 0.0},
        {Blackman, 100, 0.038241162209885243},
        {Blackman, 1023, 0.0},
        {BlackmanHarris, 0, 6.0000000000001025e-05},
        {BlackmanHarris, 100, 0.010271871336845524},
        {Flattop, 0, 0.00042105100000000128},  // negative; the magnitude shows its size
        {Flattop, 100, 0.014759301083833363},
        {Flattop, 511, 0.99998873771239916},
        {Hanning, 0, 9.3940021377303395e-06},
        {Hanning, 100, 0.092806325741584983},
        {Hanning, 1023, 9.3940021377303395e-06},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " index " << c.index);
        VtFFT fft(kN, c.type);
        std::vector<double> impulse(kN, 0.0);
        impulse[c.index] = 1.0;
        feed(fft, impulse, 0, kN);
        const auto out = spectrum(fft);
        ASSERT_TRUE(out);
        for (std::size_t m = 0; m < kBins; ++m) {
            ASSERT_NEAR((*out)[m] * kN, c.value, 1e-12) << "m = " << m;
        }
    }
}

// The averaged output after each spectrum is the mean of the latest min(spectra, averages)
// single spectra, taken from an estimator with one average fed the same samples.
TEST(VtFFTTest, AveragesAreMovingMeanOfLatestSpectra) {
    for (int averages : {4, 3}) {
        SCOPED_TRACE(averages);
        VtFFT avg(kN, Blackman);
        avg.SetNumAverages(averages);
        VtFFT single(kN, Blackman);
        const auto x = randomSamples(kN + 7 * kN / 2, 3);
        std::vector<std::vector<double>> singles;
        std::size_t done = 0;
        for (std::size_t end = kN; end <= x.size(); end += kN / 2) {
            feed(avg, x, done, end);
            feed(single, x, done, end);
            done = end;
            singles.push_back(*spectrum(single));
            const std::size_t used = std::min<std::size_t>(singles.size(), averages);
            std::vector<double> expected(kBins, 0.0);
            for (std::size_t j = singles.size() - used; j < singles.size(); ++j) {
                for (std::size_t m = 0; m < kBins; ++m) {
                    expected[m] += singles[j][m] / static_cast<double>(used);
                }
            }
            SCOPED_TRACE(singles.size());
            const auto got = spectrum(avg);
            ASSERT_TRUE(got);
            expectAllNear(*got, expected, 1e-15);
        }
    }
}

// Both setters restart: spectra are dropped and the next one needs a full block of new
// samples; afterwards the estimator matches a fresh one with the new settings.
TEST(VtFFTTest, SettersRestartTheEstimator) {
    struct Case {
        const char* name;
        void (*apply)(VtFFT&);
        WindowingTypes window;
        int averages;
    };
    const Case cases[] = {
        {"same window", [](VtFFT& f) { f.SetWindowType(Hann); }, Hann, 2},
        {"other window", [](VtFFT& f) { f.SetWindowType(Flattop); }, Flattop, 2},
        {"same averages", [](VtFFT& f) { f.SetNumAverages(2); }, Hann, 2},
        {"more averages", [](VtFFT& f) { f.SetNumAverages(5); }, Hann, 5},
    };
    const auto before = randomSamples(1536, 11);
    const auto after = randomSamples(kN * 3, 12);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VtFFT fft(kN, Hann);
        fft.SetNumAverages(2);
        feed(fft, before, 0, before.size());
        ASSERT_TRUE(spectrum(fft));

        c.apply(fft);
        EXPECT_FALSE(spectrum(fft));
        feed(fft, after, 0, kN - 1);
        EXPECT_FALSE(spectrum(fft));

        VtFFT fresh(kN, c.window);
        fresh.SetNumAverages(c.averages);
        feed(fresh, after, 0, kN - 1);
        for (std::size_t end = kN; end <= after.size(); end += kN / 2) {
            feed(fft, after, end - 1, end);
            feed(fresh, after, end - 1, end);
            ASSERT_EQ(spectrum(fft), spectrum(fresh)) << "end = " << end;
            feed(fft, after, end, std::min(after.size(), end + kN / 2 - 1));
            feed(fresh, after, end, std::min(after.size(), end + kN / 2 - 1));
        }
    }
}

// A refused count leaves the count and the stored spectra as they were: the estimator keeps
// behaving exactly like a twin that never saw the call.
TEST(VtFFTTest, AveragesBelowOneAreRefused) {
    const auto x = randomSamples(kN * 4, 5);
    for (int n : {0, -3}) {
        SCOPED_TRACE(n);
        VtFFT fft(kN, Hamming);
        VtFFT twin(kN, Hamming);
        fft.SetNumAverages(3);
        twin.SetNumAverages(3);
        feed(fft, x, 0, 1600);
        feed(twin, x, 0, 1600);

        testing::internal::CaptureStderr();
        fft.SetNumAverages(n);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't set less than 1 for averages\n");

        EXPECT_EQ(spectrum(fft), spectrum(twin));
        for (std::size_t begin = 1600, end = 2048; end <= x.size(); begin = end, end += kN / 2) {
            feed(fft, x, begin, end);
            feed(twin, x, begin, end);
            ASSERT_EQ(spectrum(fft), spectrum(twin)) << "end = " << end;
        }
    }
}

TEST(VtFFTTest, UnknownWindowTypeGivesZeroSpectrum) {
    const auto x = randomSamples(kN * 2, 9);
    for (int type : {6, 9, -1}) {
        SCOPED_TRACE(type);
        VtFFT fft(kN, static_cast<WindowingTypes>(type));
        feed(fft, x, 0, x.size());
        EXPECT_EQ(spectrum(fft), std::vector<double>(kBins, 0.0));

        // Also when switched to later, from a working window.
        VtFFT switched(kN, Hann);
        switched.SetWindowType(static_cast<WindowingTypes>(type));
        feed(switched, x, 0, x.size());
        EXPECT_EQ(spectrum(switched), std::vector<double>(kBins, 0.0));
    }
}

// The overlap needs an even length of at least 2; other sizes report the setup failure and
// give an estimator that ignores samples and never has a spectrum.
TEST(VtFFTTest, UnusableSizeGivesInertEstimator) {
    for (int n : {0, 1, 1023, -8}) {
        SCOPED_TRACE(n);
        testing::internal::CaptureStderr();
        VtFFT fft(n, Hann);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to setup pffft\n");
        feed(fft, randomSamples(4096, 2), 0, 4096);
        std::vector<double> out(kBins, -1.0);
        EXPECT_FALSE(fft.GetValues(out));
        EXPECT_EQ(out, std::vector<double>(kBins, -1.0));
    }
}

void expectInert(VtFFT& fft) {
    std::vector<double> out(kBins, -1.0);
    EXPECT_FALSE(fft.GetValues(out));
    feed(fft, randomSamples(2 * kN, 4), 0, 2 * kN);
    EXPECT_FALSE(fft.GetValues(out));
    EXPECT_EQ(out, std::vector<double>(kBins, -1.0));
}

// Moves in the middle of a block keep the partial block, window, averages and counters: the
// moved-to estimator continues exactly like a twin that was never moved.
TEST(VtFFTTest, MovesTransferTheWholeState) {
    const auto x = randomSamples(6000, 21);
    VtFFT twin(kN, Blackman);
    twin.SetNumAverages(3);
    feed(twin, x, 0, 1300);

    VtFFT a(kN, Blackman);
    a.SetNumAverages(3);
    feed(a, x, 0, 1300);

    VtFFT b(std::move(a));
    expectInert(a);
    EXPECT_EQ(spectrum(b), spectrum(twin));
    feed(b, x, 1300, 2900);
    feed(twin, x, 1300, 2900);
    EXPECT_EQ(spectrum(b), spectrum(twin));

    // Assignment over a working estimator of another size releases that one's resources.
    VtFFT c(64, Hann);
    feed(c, x, 0, 100);
    c = std::move(b);
    expectInert(b);
    feed(c, x, 2900, 4100);
    feed(twin, x, 2900, 4100);
    EXPECT_EQ(spectrum(c), spectrum(twin));

    // A moved-from estimator can be assigned to again.
    a = std::move(c);
    feed(a, x, 4100, x.size());
    feed(twin, x, 4100, x.size());
    EXPECT_EQ(spectrum(a), spectrum(twin));
}

// Growth of a vector moves every element, as the graph view's records are moved.
TEST(VtFFTTest, VectorGrowthKeepsEstimators) {
    constexpr int kCount = 20;
    const auto x = randomSamples(4000, 31);
    std::vector<VtFFT> grown;
    std::vector<VtFFT> reference;
    reference.reserve(kCount);
    for (int i = 0; i < kCount; ++i) {
        const auto type = static_cast<WindowingTypes>(i % 6);
        grown.emplace_back(kN, type);
        reference.emplace_back(kN, type);
        const std::size_t partial = 1000 + 97 * static_cast<std::size_t>(i);
        feed(grown.back(), x, 0, partial);
        feed(reference.back(), x, 0, partial);
    }
    for (int i = 0; i < kCount; ++i) {
        SCOPED_TRACE(i);
        const std::size_t partial = 1000 + 97 * static_cast<std::size_t>(i);
        feed(grown[i], x, partial, x.size());
        feed(reference[i], x, partial, x.size());
        EXPECT_EQ(spectrum(grown[i]), spectrum(reference[i]));
    }
}

TEST(VtFFTTest, GetWindowsAppendsNamesInEnumOrder) {
    std::vector<std::string> names = {"kept"};
    VtFFT::GetWindows(names);
    const std::vector<std::string> expected = {"kept",           "Hamming", "Hann",   "Blackman",
                                               "BlackmanHarris", "Flattop", "Hanning"};
    EXPECT_EQ(names, expected);
}

// One thread feeds while another reads. Every block of a sine at bin 64 has the same spectrum,
// so each read must show it whole, whichever moment it lands on.
TEST(VtFFTTest, ReaderThreadSeesCompleteSpectra) {
    VtFFT fft(kN, Hann);
    fft.SetNumAverages(4);
    const auto x = sineAtBin(kN + 400 * kN / 2, 64, kN);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        feed(fft, x, 0, x.size());
        done = true;
    });
    int reads = 0;
    int bad = 0;
    std::vector<double> out(kBins);
    while (!done) {
        if (fft.GetValues(out)) {
            ++reads;
            if (std::abs(out[63] - 0.249756) > 1e-5 || std::abs(out[64] - 0.125061) > 1e-5) {
                ++bad;
            }
        }
    }
    writer.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    ASSERT_TRUE(fft.GetValues(out));
    EXPECT_NEAR(out[63], 0.249756, 1e-5);
}

// Plans are made and destroyed on several threads at once; each estimator must still compute
// the same spectrum as one made alone.
TEST(VtFFTTest, EstimatorsLiveOnSeveralThreads) {
    constexpr int kThreads = 4;
    std::vector<std::vector<double>> inputs;
    std::vector<std::vector<double>> expected;
    for (int t = 0; t < kThreads; ++t) {
        const int n = 64 << t;
        inputs.push_back(randomSamples(static_cast<std::size_t>(n), 40 + t));
        VtFFT alone(n, Hann);
        feed(alone, inputs.back(), 0, inputs.back().size());
        expected.push_back(*spectrum(alone));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                VtFFT fft(64 << t, Hann);
                feed(fft, inputs[t], 0, inputs[t].size());
                if (spectrum(fft) != expected[t]) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
