#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "graph_dialog.h"
#include "live_viewer.h"
#include "log_line.h"
#include "signal_quitter.h"
#include "style_sheet.h"

namespace {

// A diagnostic for machines without a screen: VIEWER_SCREENSHOT=path saves a picture of the
// window after VIEWER_SCREENSHOT_AFTER_MS (default 5000) and ends the program.
void scheduleScreenshotFromEnvironment(LiveViewer& viewer) {
    const char* path = std::getenv("VIEWER_SCREENSHOT");
    if (path == nullptr || *path == '\0') {
        return;
    }
    const char* delay = std::getenv("VIEWER_SCREENSHOT_AFTER_MS");
    viewer.scheduleScreenshot(path, delay != nullptr ? std::atoi(delay) : 5000);
}

}  // namespace

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

    // Connects and waits until every chassis has described itself (Ctrl-C ends the wait);
    // nothing is shown before that.
    std::vector<std::string> unreachable;
    auto viewer = LiveViewer::start(commandLine.addresses, commandLine.lineFreq, unreachable);
    if (!viewer) {
        for (const auto& address : unreachable) {
            errLine("Unable to connect to chassis " + address);
        }
        return 1;
    }

    const SignalQuitter quitter({SIGINT, SIGTERM});
    scheduleScreenshotFromEnvironment(*viewer);
    viewer->window().show();
    const int status = app.exec();
    viewer.reset();  // window, then source, then links
    return status;
}
