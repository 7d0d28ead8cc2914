// The whole live path under load: chassis-sim (a separate process) -> TLS -> reassembly ->
// decode -> aggregator -> generator -> calibration and three filter stages -> rings -> the
// hand-over to display records. Reports, for one system size, whether the viewer keeps up
// (the age of the newest sample stays bounded), its CPU time per second, and the latency from
// the simulator sending a sample to that sample being in its ring.
//
//   bench_live_path [--chassis N] [--sensors S] [--seconds D] [--base 127.0.70]
//                   [--filters on|off]
//
// With the filter stages on (order 4, mains, low-pass and high-pass: the heaviest setting) the
// report gives the CPU time and whether the rings fill at 1 kHz. Filtered values no longer
// carry the simulator's timestamp, so sample ages and latencies are measured with the stages
// off (--filters off), where channel 0's values still do.
//
// Sample ages use the simulator's clock epoch (Unix ms) printed at its start; both processes
// read the same wall clock.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device_mgr.h"
#include "live_data_source.h"

#ifndef CHASSIS_SIM_PATH
#error "CHASSIS_SIM_PATH must name the chassis-sim program"
#endif

namespace {

using Clock = std::chrono::system_clock;

std::int64_t nowUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Simulator {
    pid_t pid = -1;
    std::int64_t epochUnixMs = -1;
};

// Starts chassis-sim and waits for its clock epoch line.
Simulator startSimulator(const std::vector<std::string>& addresses, int sensors) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        std::vector<std::string> args{CHASSIS_SIM_PATH, "--mode",
                                      "deterministic",  "--quiet",
                                      "--sensors",      std::to_string(sensors),
                                      "--slots",        std::to_string(std::max(sensors, 1))};
        for (const auto& a : addresses) {
            args.push_back("--address");
            args.push_back(a);
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Simulator sim;
    sim.pid = pid;
    std::FILE* out = fdopen(pipeFds[0], "r");
    char line[512];
    while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
        long long epoch = 0;
        if (std::sscanf(line, "chassis-sim: clock epoch %lld", &epoch) == 1) {
            sim.epochUnixMs = epoch;
            break;
        }
    }
    // Keep draining the simulator's output so it never blocks on a full pipe.
    std::thread([out] {
        char sink[512];
        while (out != nullptr && std::fgets(sink, sizeof sink, out) != nullptr) {
        }
    }).detach();
    return sim;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    int chassis = 8;
    int sensors = 24;
    int seconds = 60;
    std::string base = "127.0.70";
    bool filters = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--chassis") {
            chassis = std::atoi(argv[i + 1]);
        } else if (option == "--sensors") {
            sensors = std::atoi(argv[i + 1]);
        } else if (option == "--seconds") {
            seconds = std::atoi(argv[i + 1]);
        } else if (option == "--base") {
            base = argv[i + 1];
        } else if (option == "--filters") {
            filters = std::string(argv[i + 1]) != "off";
        }
    }
    std::vector<std::string> addresses;
    for (int c = 0; c < chassis; ++c) {
        addresses.push_back(base + "." + std::to_string(c + 1));
    }

    Simulator sim = startSimulator(addresses, sensors);
    if (sim.epochUnixMs < 0) {
        std::fprintf(stderr, "chassis-sim did not start\n");
        return 1;
    }

    // The viewer's own lines would drown the report.
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    dup2(fileno(devnull), STDOUT_FILENO);

    auto source = std::make_shared<LiveDataSource>(30000, 10000, addresses);
    if (filters) {
        source->SetFilterOrder(4);
        source->SetFilter(true, LineFreq);
        source->SetFilter(true, LowPass);
        source->SetFilter(true, HighPass);
    }
    const int channels = source->GetNumChannels();
    std::vector<GraphData> records;
    for (int c = 0; c < channels; ++c) {
        records.emplace_back(2000, Hann);
        records.back().SetTimestamp(0);
    }
    source->Start();

    // Hand over every 2 ms, so one hand-over holds at most one generator cycle and its record
    // time is that cycle's time. The first seconds drain what queued up during start-up.
    constexpr int WARM_UP_SECONDS = 3;
    const double calibration = static_cast<double>(1e-15f);  // channel 0: data type 28
    std::vector<double> latencies;
    std::vector<double> ages;  // age of the newest sample, once per second
    const auto start = std::chrono::steady_clock::now();
    const auto windowStart = start + std::chrono::seconds(WARM_UP_SECONDS);
    const auto end = windowStart + std::chrono::seconds(seconds);
    auto nextAge = windowStart;
    double cpuStart = -1.0;
    std::int64_t lastInstant = -1;
    long long samples = 0;
    while (std::chrono::steady_clock::now() < end) {
        const bool measuring = std::chrono::steady_clock::now() >= windowStart;
        if (measuring && cpuStart < 0.0) {
            cpuStart = cpuSeconds();
        }
        const int n = source->GetData(records);
        if (n > 0 && channels > 0 && measuring) {
            samples += n;
        }
        if (n > 0 && channels > 0 && !filters && measuring) {
            const auto& ring = records[0].samples;
            const std::int64_t cycleMs = records[0].timestamp;
            for (std::size_t k = ring.size() - static_cast<std::size_t>(n); k < ring.size(); ++k) {
                // Channel 0 is chassis 0, sensor 1, type 28: its value ends in the timestamp's
                // last four digits; the instant is the latest one before the cycle that fits.
                const auto raw = static_cast<std::int64_t>(std::llround(ring[k] / calibration));
                const std::int64_t low = raw % 10000;
                const std::int64_t approx = cycleMs - sim.epochUnixMs;
                std::int64_t instant = approx - ((approx - low) % 10000 + 10000) % 10000;
                if (approx - instant > 9000) {
                    instant += 10000;  // a hair after the cycle time: clocks read apart
                }
                latencies.push_back(static_cast<double>(cycleMs - (sim.epochUnixMs + instant)));
                lastInstant = instant;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextAge && lastInstant >= 0) {
            ages.push_back(static_cast<double>(nowUnixMs() - (sim.epochUnixMs + lastInstant)));
            nextAge += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double cpu = cpuSeconds() - cpuStart;
    source->Stop();
    source.reset();
    DeviceMgr::GetInstance()->disconnect();
    kill(sim.pid, SIGTERM);
    waitpid(sim.pid, nullptr, 0);

    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    const double rate = static_cast<double>(samples) / seconds;
    std::printf("system: %d chassis x %d channels = %d channels at 1 kHz, filters %s, %d s\n",
                chassis, sensors * 2, channels, filters ? "on (order 4, all three)" : "off",
                seconds);
    std::printf("rings fill at %.1f samples per second per channel -> %s\n", rate,
                rate >= 995.0 ? "keeps up" : "falls behind");
    std::printf("viewer CPU: %.3f s per second (%.1f%% of one core)\n", cpu / seconds,
                100.0 * cpu / seconds);
    if (!filters) {
        const double firstAge = ages.empty() ? 0.0 : ages.front();
        const double lastAge = ages.empty() ? 0.0 : ages.back();
        const double maxAge = ages.empty() ? 0.0 : *std::max_element(ages.begin(), ages.end());
        std::printf("age of the newest sample: first %.0f ms, last %.0f ms, max %.0f ms\n",
                    firstAge, lastAge, maxAge);
        std::printf("latency send -> ring: median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                    percentile(latencies, 0.5), percentile(latencies, 0.99),
                    percentile(latencies, 1.0));
    }
    return 0;
}
