#include "vt_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <utility>

namespace {

constexpr std::array<const char*, 6> WindowingTypesEnumStr = {
    "Hamming", "Hann", "Blackman", "BlackmanHarris", "Flattop", "Hanning"};
static_assert(WindowingTypesEnumStr.size() == Hanning + 1,
              "Error in WindowingEnumTypes: one name per window type");

// FFTW's planner, plan destruction and its allocator share global state and are not
// thread-safe, while estimators may be made and dropped on any thread; every such call goes
// through this one process-wide lock. Lock order: an estimator's lock, then this one (move
// assignment releases the old plan while holding both).
std::mutex& fftwPlannerMutex() {
    static std::mutex m;
    return m;
}

void writeLine(const char* line) {
    // One write per line so lines from several threads never interleave.
    std::fputs(line, stderr);
    std::fflush(stderr);
}

double* allocDoubles(std::size_t n) {
    return static_cast<double*>(fftw_malloc(n * sizeof(double)));
}

}  // namespace

VtFFT::VtFFT(int size, WindowingTypes windowType) : _windowType(windowType) {
    // The overlap carries exactly half a block, so the length must be even; anything else gets
    // no transform and leaves an inert estimator (AddVal ignored, GetValues false).
    if (size < 2 || size % 2 != 0) {
        writeLine("Failed to setup pffft\n");
    } else {
        _size = size;
        const auto n = static_cast<std::size_t>(size);
        {
            std::lock_guard<std::mutex> planner(fftwPlannerMutex());
            m_X = allocDoubles(2 * n);
            m_Y = allocDoubles(2 * n);
            m_W = allocDoubles(2 * n);
            m_save = allocDoubles(n / 2);
            // FFTW_ESTIMATE plans without running trial transforms, so the buffers' contents
            // are left alone. The r2c output (N/2+1 complex values) fits in m_W's 2N doubles.
            if (m_X != nullptr && m_W != nullptr) {
                _setup = fftw_plan_dft_r2c_1d(size, m_X, reinterpret_cast<fftw_complex*>(m_W),
                                              FFTW_ESTIMATE);
            }
        }
        if (_setup == nullptr) {
            writeLine("Failed to setup pffft\n");
        }
        if (m_X == nullptr) {
            writeLine("Failed to initialize m_X\n");
        }
        if (m_Y == nullptr) {
            writeLine("Failed to initialize m_Y\n");
        }
        if (m_W == nullptr) {
            writeLine("Failed to initialize m_W\n");
        }
        if (m_save == nullptr) {
            writeLine("Failed to initialize m_save\n");
        }
        // A partly set up estimator could not compute a spectrum; keep nothing, so the only
        // states are "complete" and "inert" and AddVal needs a single check.
        if (_setup == nullptr || m_X == nullptr || m_Y == nullptr || m_W == nullptr ||
            m_save == nullptr) {
            release();
        } else {
            std::memset(m_X, 0, 2 * n * sizeof(double));
            std::memset(m_Y, 0, 2 * n * sizeof(double));
        }
    }
    SetWindowType(windowType);
    SetNumAverages(1);
}

VtFFT::~VtFFT() {
    release();
}

// Starts empty, so the assignment only takes over other's state.
VtFFT::VtFFT(VtFFT&& other) noexcept {
    *this = std::move(other);
}

VtFFT& VtFFT::operator=(VtFFT&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    std::scoped_lock lock(_mutex, other._mutex);
    release();
    _size = std::exchange(other._size, 0);
    _setup = std::exchange(other._setup, nullptr);
    m_X = std::exchange(other.m_X, nullptr);
    m_Y = std::exchange(other.m_Y, nullptr);
    m_W = std::exchange(other.m_W, nullptr);
    m_save = std::exchange(other.m_save, nullptr);
    _writePosition = std::exchange(other._writePosition, 0);
    _window = std::exchange(other._window, {});
    _numAverages = std::exchange(other._numAverages, 1);
    _filled = std::exchange(other._filled, 0);
    _nextSlot = std::exchange(other._nextSlot, 0);
    _averages = std::exchange(other._averages, {});
    _windowType = other._windowType;
    return *this;
}

void VtFFT::release() {
    if (_setup == nullptr && m_X == nullptr && m_Y == nullptr && m_W == nullptr &&
        m_save == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> planner(fftwPlannerMutex());
    if (_setup != nullptr) {
        fftw_destroy_plan(_setup);
    }
    fftw_free(m_X);
    fftw_free(m_Y);
    fftw_free(m_W);
    fftw_free(m_save);
    _setup = nullptr;
    m_X = m_Y = m_W = m_save = nullptr;
    _size = 0;
    _writePosition = 0;
}

void VtFFT::AddVal(double x) {
    if (m_X == nullptr) {
        return;
    }
    // Between block completions a sample costs one store and no lock.
    m_X[_writePosition++] = x;
    if (_writePosition < _size) {
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    const int half = _size / 2;
    // Keep the second half unwindowed: it is the first half of the next block.
    std::memcpy(m_save, m_X + half, static_cast<std::size_t>(half) * sizeof(double));
    ApplyWindow();
    PerformFFT();
    SaveForAverage();
    std::memcpy(m_X, m_save, static_cast<std::size_t>(half) * sizeof(double));
    _writePosition = half;
}

bool VtFFT::GetValues(std::vector<double>& out) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_filled == 0) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(_size / 2 - 1);
    // A short vector is grown rather than overrun.
    if (out.size() < count) {
        out.resize(count);
    }
    // Unwritten slots hold zeros, so summing every slot is the sum of the stored spectra.
    // Slot by slot, so each pass runs over contiguous memory.
    std::fill_n(out.begin(), count, 0.0);
    for (const auto& slot : _averages) {
        for (std::size_t m = 0; m < count; ++m) {
            out[m] += slot[m];
        }
    }
    for (std::size_t m = 0; m < count; ++m) {
        out[m] /= _filled;
    }
    return true;
}

void VtFFT::SetWindowType(WindowingTypes type) {
    std::lock_guard<std::mutex> lock(_mutex);
    _window.resize(static_cast<std::size_t>(_size), 1.0);
    std::vector<double> coefficients;
    switch (type) {
        case Hamming:
            coefficients = {0.54, 0.46};
            break;
        case Hann:
            coefficients = {0.5, 0.5};
            break;
        case Blackman:
            coefficients = {0.42, 0.5, 0.08};
            break;
        case BlackmanHarris:
            coefficients = {0.35875, 0.48829, 0.14128, 0.01168};
            break;
        case Flattop:
            coefficients = {0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368};
            break;
        case Hanning:
            break;
        default:
            // Unknown types get an all-zero window: every later spectrum is 0, not an error.
            coefficients = {0.0};
            break;
    }
    if (type == Hanning) {
        HanningWindow();
    } else {
        CosWindow(coefficients);
    }
    ResetFft();
}

void VtFFT::SetNumAverages(int n) {
    if (n < 1) {
        writeLine("Can't set less than 1 for averages\n");
        return;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    _numAverages = n;
    ResetFft();
}

void VtFFT::ResetFft() {
    _averages.clear();
    _averages.resize(static_cast<std::size_t>(_numAverages),
                     std::vector<double>(static_cast<std::size_t>(_size / 2), 0.0));
    _filled = 0;
    _nextSlot = 0;
    _writePosition = 0;
}

void VtFFT::PerformFFT() {
    if (_setup == nullptr) {
        return;
    }
    fftw_execute(_setup);
    // m_W holds bins 0 ... N/2 as interleaved (re, im). The ordered layout is the same for
    // bins 1 ... N/2-1; bin 0's imaginary part (always 0) gives way to bin N/2's real part.
    std::memcpy(m_Y, m_W, static_cast<std::size_t>(_size) * sizeof(double));
    m_Y[1] = m_W[_size];
}

void VtFFT::ApplyWindow() {
    if (m_X == nullptr) {
        return;
    }
    const std::size_t n = std::min(_window.size(), static_cast<std::size_t>(_size));
    for (std::size_t i = 0; i < n; ++i) {
        m_X[i] *= _window[i];
    }
}

void VtFFT::CosWindow(std::vector<double>& coefficients) {
    double c[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < 5 && j < coefficients.size(); ++j) {
        c[j] = coefficients[j];
    }
    const std::size_t n = _window.size();
    // Symmetric window: both ends sit at phase 0 and 2*pi.
    const double step = n > 1 ? 2.0 * std::numbers::pi / static_cast<double>(n - 1) : 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = step * static_cast<double>(i);
        _window[i] = c[0] - c[1] * std::cos(a) + c[2] * std::cos(2.0 * a) -
                     c[3] * std::cos(3.0 * a) + c[4] * std::cos(4.0 * a);
    }
}

void VtFFT::HanningWindow() {
    const std::size_t n = _window.size();
    // Spread over N+1 intervals so that neither end is zero.
    const double step = 2.0 * std::numbers::pi / static_cast<double>(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        _window[i] = 0.5 - 0.5 * std::cos(step * static_cast<double>(i + 1));
    }
}

void VtFFT::SaveForAverage() {
    if (m_Y == nullptr || _averages.empty()) {
        return;
    }
    std::vector<double>& slot = _averages[static_cast<std::size_t>(_nextSlot)];
    const int half = _size / 2;
    const double n = static_cast<double>(_size);
    // Bins 0 and N/2 are not kept; position N/2-1 of the slot stays 0.
    for (int k = 1; k < half; ++k) {
        const double re = m_Y[2 * k];
        const double im = m_Y[2 * k + 1];
        slot[static_cast<std::size_t>(k - 1)] = std::sqrt(re * re + im * im) / n;
    }
    _nextSlot = (_nextSlot + 1) % _numAverages;
    if (_filled < _numAverages) {
        ++_filled;
    }
}

void VtFFT::GetWindows(std::vector<std::string>& names) {
    names.insert(names.end(), WindowingTypesEnumStr.begin(), WindowingTypesEnumStr.end());
}
