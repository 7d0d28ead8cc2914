#include <QApplication>
#include <csignal>
#include <string>
#include <vector>

#include "command_line.h"
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
    // show take the place of this direct start of the chassis links.
    DeviceMgr::GetInstance()->connect(commandLine.addresses);

    const int status = app.exec();
    // Stop and join the links' threads now rather than during static destruction.
    DeviceMgr::GetInstance()->disconnect();
    return status;
}
