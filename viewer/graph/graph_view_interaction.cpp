// Operations that change the graph view: gains, colours, time scale, slot height, pause and
// reset, display mode, spectrum settings, context menu.
#include <QAction>
#include <QMenu>
#include <cmath>
#include <sstream>
#include <string>

#include "graph_view.h"
#include "log_line.h"

namespace {

constexpr int TRACE_PROGRAM = 1;
constexpr int SLOT_HEIGHT_STEP = 10;  // nominal pixels per extra division of a slot

bool usesInputColor(int dataType) {
    return dataType == 0 || dataType == 14;
}

std::string number(float value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

ScalingType GraphView::GetScalingFactor(int dataType) {
    auto found = scalings.find(dataType);
    if (found == scalings.end()) {
        const auto fallback = defaultScalings.find(dataType);
        const ScalingType value =
            fallback != defaultScalings.end() ? fallback->second : ScalingType(1.0f, 0);
        found = scalings.emplace(dataType, value).first;
    }
    return found->second;
}

void GraphView::SetScalingFactor(int dataType, ScalingType value) {
    GetScalingFactor(dataType);
    scalings.at(dataType) = value;
}

float GraphView::GetScaling(int dataType) {
    return tickSpacing * (1.0f / GetScalingFactor(dataType).Get());
}

void GraphView::setGraphColor(int dataType) {
    setProgramColor(TRACE_PROGRAM, usesInputColor(dataType) ? inputLineColor : lineColor);
}

float GraphView::SetDivisions(float seconds) {
    // NaN passes both range tests below and must never reach the point count.
    if (!std::isfinite(seconds)) {
        errLine("Invalid divisions " + number(seconds));
        return config.divisions;
    }
    if (seconds > MAX_TIME_SEC) {
        errLine("Max divisions is " + number(MAX_TIME_SEC));
        seconds = MAX_TIME_SEC;
    } else if (seconds < MIN_TIME_SEC) {
        errLine("Min divisions is " + number(MIN_TIME_SEC));
        seconds = MIN_TIME_SEC;
    }
    config.divisions = seconds;
    genGraph();
    for (auto& data : graphData) {
        data.SetMaxElements(static_cast<unsigned>(numPoints));
    }
    resetGraph();
    return seconds;
}

int GraphView::getDivisions() const {
    return static_cast<int>(config.divisions);
}

void GraphView::IncreaseGraphHeight() {
    graphHeight += SLOT_HEIGHT_STEP;
    ticksPerGraph += 1;
    genGraph();
    resetGraph();
}

void GraphView::DecreaseGraphHeight(bool set_min) {
    if (graphHeight <= MINIMUM_GRAPH_HEIGHT) {
        return;
    }
    if (set_min) {
        graphHeight = MINIMUM_GRAPH_HEIGHT;
        ticksPerGraph = 1;
    } else {
        graphHeight -= SLOT_HEIGHT_STEP;
        ticksPerGraph -= 1;
    }
    genGraph();
    resetGraph();
}

void GraphView::SetPaused(bool pause) {
    const bool wasPaused = paused;
    paused = pause;
    // Resuming starts a fresh picture.
    if (wasPaused && !pause) {
        resetGraph();
    }
}

void GraphView::requestReset() {
    Q_EMIT sigResetRequested();
}

void GraphView::resetGraph() {
    outLine("resetGraph");
    sweepPos = 0;
    paused = false;
    autoscalePending = true;
    for (auto& data : graphData) {
        data.Reset();
    }
    for (auto& offset : offsets) {
        offset.recompute = true;
    }
}

void GraphView::setGraphType(GraphingType type) {
    config.type = type;
    // Five vertical grid lines across the spectrum; the time modes return to the configured
    // time scale.
    config.divisions = type == Spectrum ? SPECTRUM_DIVISIONS : config.timeDivisions;
    genGraph();
    requestReset();
}

void GraphView::toggleGraphType() {
    setGraphType(config.type == Sweep ? Scroll : Sweep);
}

void GraphView::EnableFft(bool on) {
    if (on) {
        // A second call must not forget the time mode to return to.
        if (config.type != Spectrum) {
            savedType = config.type;
        }
        setGraphType(Spectrum);
    } else {
        setGraphType(savedType);
    }
}

int GraphView::SetNumFftAverages(int count) {
    if (count < 1 || count > MAX_FFT_AVERAGES) {
        return numFftAverages;
    }
    for (auto& data : graphData) {
        data.spectrum.SetNumAverages(count);
    }
    numFftAverages = count;
    return count;
}

void GraphView::SetFftWindowType(int window) {
    windowType = static_cast<WindowingTypes>(window);
    for (auto& data : graphData) {
        data.spectrum.SetWindowType(windowType);
    }
}

void GraphView::showContextMenu(const QPoint& pos) {
    QMenu menu(tr("Context menu"), this);
    const QAction* reset = menu.addAction(tr("Reset"));
    connect(reset, &QAction::triggered, this, &GraphView::requestReset);
    const QAction* toggle =
        menu.addAction(config.type == Sweep ? tr("Switch to Scroll") : tr("Switch to Sweep"));
    connect(toggle, &QAction::triggered, this, &GraphView::toggleGraphType);
    menu.exec(mapToGlobal(pos));
}

namespace {

// Stores c and emits the change only when it differs.
template <typename Signal>
void updateColor(GraphView* view, QColor& field, const QColor& c, Signal signal) {
    if (field == c) {
        return;
    }
    field = c;
    Q_EMIT(view->*signal)(c);
}

}  // namespace

void GraphView::setGraphLineColor(const QColor& c) {
    updateColor(this, lineColor, c, &GraphView::graphLineColorChanged);
}

void GraphView::setGraphInputLineColor(const QColor& c) {
    updateColor(this, inputLineColor, c, &GraphView::graphInputLineColorChanged);
}

void GraphView::setGraphFrameColor(const QColor& c) {
    updateColor(this, frameColor, c, &GraphView::graphFrameColorChanged);
}

void GraphView::setGraphBackgroundColor(const QColor& c) {
    updateColor(this, backgroundColor, c, &GraphView::graphBackgroundColorChanged);
}

void GraphView::setGraphSweepLineColor(const QColor& c) {
    updateColor(this, sweepLineColor, c, &GraphView::graphSweepLineColorChanged);
}

void GraphView::setGraphGridColor(const QColor& c) {
    updateColor(this, gridColor, c, &GraphView::graphGridColorChanged);
}
