#pragma once

#include <mutex>
#include <string>
#include <vector>

// Window functions of the spectrum estimator, in the order of their names.
enum WindowingTypes {
    Hamming = 0,
    Hann = 1,
    Blackman = 2,
    BlackmanHarris = 3,
    Flattop = 4,
    Hanning = 5,
};

struct fftw_plan_s;

// Windowed, half-overlapped, averaged magnitude spectrum of one channel's samples: after the
// first N samples a spectrum is computed every N/2 samples, and the latest few are averaged.
// Samples are added from one thread; the averaged spectrum may be read from another.
class VtFFT {
public:
    VtFFT(int size, WindowingTypes windowType);
    ~VtFFT();
    VtFFT(VtFFT&& other) noexcept;
    VtFFT& operator=(VtFFT&& other) noexcept;
    VtFFT(const VtFFT&) = delete;
    VtFFT& operator=(const VtFFT&) = delete;

    void AddVal(double x);
    // False while no spectrum exists (out untouched); otherwise writes the mean magnitude of
    // bin m+1 into out[m] for m = 0 ... N/2-2. `out` must hold at least N/2-1 elements.
    bool GetValues(std::vector<double>& out);
    // Recomputes the window and restarts the estimator.
    void SetWindowType(WindowingTypes type);
    // Sets the number of averaged spectra and restarts; below 1 is refused.
    void SetNumAverages(int n);
    // Discards every spectrum and empties the block; the caller holds the lock.
    void ResetFft();
    void PerformFFT();
    void ApplyWindow();
    void CosWindow(std::vector<double>& coefficients);
    void HanningWindow();
    void SaveForAverage();

    int size() const { return _size; }
    static void GetWindows(std::vector<std::string>& names);

private:
    void release();

    int _size = 0;
    fftw_plan_s* _setup = nullptr;
    double* m_X = nullptr;     // input block, windowed in place before each transform
    double* m_Y = nullptr;     // transform output in the ordered layout (see PerformFFT)
    double* m_W = nullptr;     // work area
    double* m_save = nullptr;  // second half of a full block, carried over as the next first half
    int _writePosition = 0;
    std::vector<double> _window;
    // Guards the transform, the averages and the window. Taken after a data source's lock.
    std::mutex _mutex;
    int _numAverages = 1;
    int _filled = 0;
    int _nextSlot = 0;
    std::vector<std::vector<double>> _averages;
    WindowingTypes _windowType;
};
