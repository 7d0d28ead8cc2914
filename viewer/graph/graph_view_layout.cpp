// Layout of the graph view: parameters, point positions, frame, grid, sweep line and labels.
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "graph_view.h"
#include "log_line.h"

namespace {

constexpr float PLOT_RIGHT = 0.95f;    // right edge of the plot
constexpr float PLOT_TOP = 0.95f;      // top grid line
constexpr float PLOT_BOTTOM = -0.95f;  // time axis
constexpr float AXIS_TOP = 0.99f;      // the left axis and the sweep line reach up to here
constexpr float TICK_TOP = -0.93f;     // ticks on the time axis
constexpr float PLOT_HEIGHT = 1.9f;
constexpr float FIRST_POINT_INSET = 0.001f;
constexpr int LABEL_X = 10;
constexpr int LABEL_ABOVE_ZERO_LINE = 5;

LineSegment segment(float x0, float y0, float x1, float y1) {
    LineSegment s;
    s.p0 = {x0, y0, 0.0f};
    s.p1 = {x1, y1, 0.0f};
    return s;
}

bool isInputChannel(const std::string& name) {
    return name.rfind("Input", 0) == 0;
}

// Floats in the stream's default format (six significant digits).
template <typename... Parts>
std::string text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

}  // namespace

void GraphView::start() {
    genGraph();
}

void GraphView::genGraph() {
    outLine("genGraph");
    recalculateParameters();

    sweepLine = segment(0.0f, AXIS_TOP, 0.0f, PLOT_BOTTOM);

    frameSegments.clear();
    gridSegments.clear();
    frameSegments.push_back(segment(leftEdge, AXIS_TOP, leftEdge, PLOT_BOTTOM));
    frameSegments.push_back(segment(leftEdge, PLOT_BOTTOM, PLOT_RIGHT, PLOT_BOTTOM));

    const float plotWidth = PLOT_RIGHT + std::fabs(leftEdge);
    const float step = plotWidth / config.divisions;
    for (int i = 1; static_cast<float>(i) <= config.divisions; ++i) {
        const float x = leftEdge + static_cast<float>(i) * step;
        frameSegments.push_back(segment(x, PLOT_BOTTOM, x, TICK_TOP));
        gridSegments.push_back(segment(x, PLOT_TOP, x, PLOT_BOTTOM));
    }
    const float width = viewSize[1];
    outLine(text("Graph is ", static_cast<int>(width * (plotWidth / 2.0f)), " pixels wide out of ",
                 width));

    for (int j = 0; j < numTicks; ++j) {
        const float y = PLOT_TOP - static_cast<float>(j) * tickSpacing;
        gridSegments.push_back(segment(leftEdge, y, PLOT_RIGHT, y));
    }

    // Before the context exists there is nothing to upload to: the first resizeGL lays the
    // view out again.
    if (glReady) {
        const ContextScope scope(*this);
        uploadLayout();
    }
    updateChannelLabels();
}

void GraphView::recalculateParameters() {
    const float usableHeight = static_cast<float>(0.95 * static_cast<double>(viewSize[0]));
    outLine(text("usable_height: ", usableHeight));
    numTicks = static_cast<int>(usableHeight / static_cast<float>(MINIMUM_GRAPH_HEIGHT));
    outLine(text("graphHeight: ", graphHeight, " numTicks: ", numTicks));
    tickSpacing = PLOT_HEIGHT / static_cast<float>(numTicks);
    numGraphsOnScreen = std::min(dataSource->GetNumChannels(), numTicks / ticksPerGraph);
    outLine(text("Num graphs on screen ", numGraphsOnScreen));

    const float plotWidth = PLOT_RIGHT + std::fabs(leftEdge);
    if (config.type == Spectrum) {
        numPoints = numFftBins;
        xStep = plotWidth / static_cast<float>(numFftBins);
    } else {
        const float points = static_cast<float>(POINTS_PER_SECOND) * config.divisions;
        numPoints = static_cast<int>(points);
        xStep = plotWidth / points;
    }
    xPositions.resize(static_cast<std::size_t>(numPoints));
    configurePoints();
}

void GraphView::configurePoints() {
    const int channels = dataSource->GetNumChannels();
    const auto capacity = static_cast<unsigned>(numPoints);
    graphData.clear();
    offsets.clear();
    channelInfo.clear();
    graphData.reserve(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        graphData.emplace_back(capacity, windowType);
        // New estimators keep the averaging count in effect.
        if (numFftAverages != 1) {
            graphData.back().spectrum.SetNumAverages(numFftAverages);
        }
        const bool input = isInputChannel(dataSource->GetChannelName(c));
        GraphDataOffset offset;
        offset.enabled = !input;  // input channels are drawn without baseline removal
        offsets.push_back(offset);
        channelInfo.push_back({dataSource->GetChannelDataType(c), input});
    }

    traceValues.assign(static_cast<std::size_t>(numGraphsOnScreen),
                       std::vector<float>(static_cast<std::size_t>(numPoints), 0.0f));

    if (config.type == Spectrum) {
        const float xrange = 1.95f - (1.0f - std::fabs(leftEdge));
        outLine(text("xrange ", xrange));
        const float logMax = std::log10(static_cast<float>(numFftBins));
        for (int k = 1; k <= numFftBins; ++k) {
            xPositions[static_cast<std::size_t>(k - 1)] =
                leftEdge + std::log10(static_cast<float>(k)) * xrange / logMax;
        }
    } else {
        for (int m = 0; m < numPoints; ++m) {
            xPositions[static_cast<std::size_t>(m)] =
                leftEdge + FIRST_POINT_INSET + xStep * static_cast<float>(m);
        }
    }
}

void GraphView::uploadLayout() {
    const auto uploadSegments = [](QOpenGLVertexArrayObject& vao, QOpenGLBuffer& buffer,
                                   const std::vector<LineSegment>& segments) {
        vao.bind();
        buffer.bind();
        buffer.allocate(segments.data(), static_cast<int>(segments.size() * sizeof(LineSegment)));
        buffer.release();
        vao.release();
    };
    uploadSegments(frameVao, frameBuffer, frameSegments);
    uploadSegments(gridVao, gridBuffer, gridSegments);

    // Full size now, so that frames only overwrite.
    const int bytes = static_cast<int>(xPositions.size() * sizeof(float));
    traceVao.bind();
    xBuffer.bind();
    xBuffer.allocate(xPositions.data(), bytes);
    yBuffer.bind();
    yBuffer.allocate(bytes);
    yBuffer.release();
    traceVao.release();
}

int GraphView::ToPixel(float y) const {
    const int a = static_cast<int>(viewSize[0] / 2.0f);
    return static_cast<int>(static_cast<float>(a) - static_cast<float>(a) * y);
}

void GraphView::updateChannelLabels() {
    labels.clear();
    const float h = tickSpacing * static_cast<float>(ticksPerGraph);
    for (int i = 0; i < numGraphsOnScreen; ++i) {
        ChannelLabel label;
        label.text = QStaticText(QString::fromStdString(dataSource->GetChannelName(i)));
        label.text.prepare(QTransform(), labelFont);
        label.y = ToPixel(PLOT_TOP - static_cast<float>(i) * h - h) - LABEL_ABOVE_ZERO_LINE;
        labels.push_back(std::move(label));
    }
}

void GraphView::drawChannelLabels() {
    QPainter painter(this);
    painter.setFont(labelFont);
    for (const auto& label : labels) {
        painter.drawStaticText(LABEL_X, label.y, label.text);
    }
}
