#include <QApplication>
#include <QTimer>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "device_mgr.h"
#include "live_data_source.h"
#include "log_line.h"
#include "signal_quitter.h"
#include "style_sheet.h"

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv, argv + argc);
    if (const auto usage = usageErrors(args); !usage.empty()) {
        for (const auto& line : usage) {
            errLine(line);
        }
        return USAGE_EXIT_STATUS;
    }

    const CommandLine commandLine = scanArguments(args);
    for (const auto& line : commandLine.errors) {
        errLine(line);
    }
    outLine("Using line frequency of " + std::to_string(commandLine.lineFreq) + "Hz");

    QApplication app(argc, argv);
    app.setStyleSheet(loadStyleSheet());

    // Returns once every chassis is connected and described (Ctrl-C ends the wait).
    auto live = std::make_shared<LiveDataSource>(30000, 10000, commandLine.addresses);
    if (!live->GetUnreachable().empty()) {
        for (const auto& address : live->GetUnreachable()) {
            errLine("Unable to connect to chassis " + address);
        }
        DeviceMgr::GetInstance()->disconnect();
        return 1;
    }
    std::shared_ptr<DataSource> source = live;
    source->SetLineFreq(commandLine.lineFreq);

    // The main window on the source takes the place of this once-a-second report.
    std::vector<GraphData> records;
    QTimer report;
    report.setTimerType(Qt::PreciseTimer);
    QObject::connect(&report, &QTimer::timeout, [&source, &records] {
        if (records.empty()) {
            for (int c = 0; c < source->GetNumChannels(); ++c) {
                records.emplace_back(2000, Hann);
                records.back().SetTimestamp(0);  // filled: receives every new sample
            }
        }
        const int received = source->GetData(records);
        outLine("Received " + std::to_string(received) + " samples per channel on " +
                std::to_string(records.size()) + " channels");
    });

    live->Start();
    const SignalQuitter quitter({SIGINT, SIGTERM});
    report.start(1000);
    const int status = app.exec();

    report.stop();
    // The source stops its generator and releases the aggregator; then the links are stopped
    // and joined here rather than during static destruction.
    records.clear();
    source.reset();
    live.reset();
    DeviceMgr::GetInstance()->disconnect();
    return status;
}
