#pragma once

#include <memory>
#include <string>
#include <vector>

class DataSource;
class GraphDialog;
class LiveDataSource;

// The live viewer as the program runs it: the live data source on the chassis addresses and
// the main window on it. Destroying it shuts down in order: the window while the source still
// exists, then the source (its generator and the aggregator), then the chassis links.
class LiveViewer {
public:
    // Connects to every chassis and returns once all have described themselves, with the window
    // built and the generator running (the window is not shown yet). Returns null when a chassis
    // can never connect; `unreachable` then names them.
    static std::unique_ptr<LiveViewer> start(const std::vector<std::string>& addresses,
                                             int lineFreq, std::vector<std::string>& unreachable);
    ~LiveViewer();
    LiveViewer(const LiveViewer&) = delete;
    LiveViewer& operator=(const LiveViewer&) = delete;

    GraphDialog& window() { return *_window; }
    std::shared_ptr<DataSource> source() const;

    // Saves a picture of the window to `path` after `delayMs` and then ends the event loop:
    // lets the viewer be checked on a machine without a screen.
    void scheduleScreenshot(const std::string& path, int delayMs);

private:
    LiveViewer() = default;

    std::shared_ptr<LiveDataSource> _source;
    std::unique_ptr<GraphDialog> _window;
};
