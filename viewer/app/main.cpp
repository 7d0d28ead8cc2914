#include <QApplication>
#include <QTimer>
#include <csignal>
#include <string>
#include <vector>

#include "command_line.h"
#include "data_aggregator.h"
#include "device_mgr.h"
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
    const SignalQuitter quitter({SIGINT, SIGTERM});

    // The live data source (30000, 10000) with SetLineFreq, the main window on it, Start and
    // show take the place of this direct start of the chassis links and the aggregator.
    auto aggregator = std::make_shared<DataAggregator>();
    DeviceMgr::GetInstance()->connect(commandLine.addresses, aggregator);
    aggregator->start();
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&aggregator] {
        const auto points = aggregator->retrieveAllDataPoints();
        if (!points.empty()) {
            outLine("Merged " + std::to_string(points.size()) + " time points of " +
                    std::to_string(points.back()->frames.size()) + " samples each");
        }
    });
    drain.start(1000);

    const int status = app.exec();
    // Stop and join the links' threads now rather than during static destruction.
    DeviceMgr::GetInstance()->disconnect();
    aggregator->stop();
    return status;
}
