// Reading a whole raw recording the way playback does: set-up (FiffRawData on a QFile), the
// picks, and one read_raw_segment over all samples. Repeated; reports the best and the median
// time and the throughput in file megabytes per second.
//
//   bench_fiff_read FILE [--repeat N]
//
// The last line is for scripts: "result best_s=<s> median_s=<s> bytes=<file size>".
// bench/fiff_read_bench.sh makes a recording with MNE-Python and compares with it.

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fiff_raw_data.h"

namespace {

using Clock = std::chrono::steady_clock;

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
    // Set-up chatter is not timing; warnings still matter.
    if (type != QtInfoMsg && type != QtDebugMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message.trimmed()));
    }
}

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--repeat")) {
        std::fprintf(stderr, "usage: bench_fiff_read FILE [--repeat N]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeat = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;
    const double megabytes = static_cast<double>(QFileInfo(path).size()) / 1e6;
    qInstallMessageHandler(quiet);

    std::vector<double> total;
    std::vector<double> setup;
    double checksum = 0.0;
    for (int i = 0; i < repeat; ++i) {
        const auto start = Clock::now();
        QFile file(path);
        const FIFFLIB::FiffRawData raw(file);
        if (raw.isEmpty()) {
            std::fprintf(stderr, "bench_fiff_read: cannot set up %s\n", argv[1]);
            return 1;
        }
        const Eigen::RowVectorXi picks =
            raw.info.pick_types(true, true, true, QStringList(), raw.info.bads);
        const auto afterSetup = Clock::now();
        Eigen::MatrixXd data;
        Eigen::MatrixXd times;
        if (!raw.read_raw_segment(data, times, -1, -1, picks)) {
            std::fprintf(stderr, "bench_fiff_read: cannot read %s\n", argv[1]);
            return 1;
        }
        const auto end = Clock::now();
        setup.push_back(seconds(start, afterSetup));
        total.push_back(seconds(start, end));
        checksum += data(data.rows() - 1, data.cols() - 1);  // keeps the read observable
        if (i == 0) {
            std::printf("%s: %.1f MB, %lld channels picked x %lld samples\n", argv[1], megabytes,
                        static_cast<long long>(data.rows()), static_cast<long long>(data.cols()));
        }
    }
    const double best = *std::min_element(total.begin(), total.end());
    const double mid = median(total);
    std::printf(
        "set-up + read, %d runs: best %.3f s (%.0f MB/s), median %.3f s (%.0f MB/s); "
        "set-up alone median %.4f s  [checksum %g]\n",
        repeat, best, megabytes / best, mid, megabytes / mid, median(setup), checksum);
    std::printf("result best_s=%.6f median_s=%.6f bytes=%lld\n", best, mid,
                static_cast<long long>(QFileInfo(path).size()));
    return 0;
}
