#include "graph_view.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "log_line.h"
#include "opengl_exception.h"

namespace {

enum ProgramIndex { FRAME_PROGRAM = 0, TRACE_PROGRAM = 1, SWEEP_LINE_PROGRAM = 2 };
constexpr int COLOR_UNIFORM = 0;  // first uniform of every program

// Feeds attribute `attribute` of the bound vertex array from `buffer`, `components` packed
// floats per vertex; `program` is bound.
void setUpAttribute(QOpenGLShaderProgram* program, QOpenGLBuffer& buffer, int attribute,
                    int components) {
    buffer.bind();
    program->enableAttributeArray(attribute);
    program->setAttributeBuffer(attribute, GL_FLOAT, 0, components, 0);
}

}  // namespace

GraphView::GraphView(const GraphViewConfig& viewConfig, std::shared_ptr<DataSource> source)
    : xBuffer(QOpenGLBuffer::VertexBuffer),
      yBuffer(QOpenGLBuffer::VertexBuffer),
      config(viewConfig),
      dataSource(std::move(source)),
      savedType(viewConfig.type),
      labelFont(QStringLiteral("Tahoma"), 8) {
    defaultScalings.emplace(28, ScalingType(20.0f, -12));
    defaultScalings.emplace(14, ScalingType(1.0f, -9));

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &GraphView::showContextMenu);
    refreshTimer = new QTimer(this);
    connect(refreshTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    refreshTimer->start(REFRESH_INTERVAL_MS);

    keys.addRecognizedKey(Qt::Key_R);

    programs.append(ShaderProgram(QStringLiteral(":/shaders/graph.vert"),
                                  QStringLiteral(":/shaders/graph.frag")));
    programs.back().uniforms = {QStringLiteral("color")};
    programs.append(ShaderProgram(QStringLiteral(":/shaders/graph_line.vert"),
                                  QStringLiteral(":/shaders/graph.frag")));
    programs.back().uniforms = {QStringLiteral("color"), QStringLiteral("scaling"),
                                QStringLiteral("offset")};
    programs.append(ShaderProgram(QStringLiteral(":/shaders/graph.vert"),
                                  QStringLiteral(":/shaders/graph.frag")));
    programs.back().uniforms = {QStringLiteral("color")};

    numFftBins = fftSize / 2 - 1;
    fftValues.assign(static_cast<std::size_t>(numFftBins), 0.0);
}

GraphView::~GraphView() {
    destroyGlObjects();
}

void GraphView::initializeGL() {
    if (!initializeOpenGLFunctions()) {
        qFatal("initializeOpenGLFunctions failed");
    }
    // A context can be replaced (the widget moved to another window): start from nothing.
    destroyGlObjects();
    try {
        for (auto& program : programs) {
            program.create();
        }
    } catch (const OpenGLException& e) {
        // Nothing can be drawn without the programs; a black window would hide the cause.
        e.writeMsgStackToStream(std::cerr);
        std::exit(EXIT_FAILURE);
    }
    createGlObjects();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GraphView::destroyGlObjects);
}

void GraphView::createGlObjects() {
    QOpenGLShaderProgram* frameProgram = programs[FRAME_PROGRAM].shaderProgram();
    QOpenGLShaderProgram* traceProgram = programs[TRACE_PROGRAM].shaderProgram();
    QOpenGLShaderProgram* sweepProgram = programs[SWEEP_LINE_PROGRAM].shaderProgram();

    const auto makeLines = [&](QOpenGLVertexArrayObject& vao, QOpenGLBuffer& buffer,
                               QOpenGLShaderProgram* program, QOpenGLBuffer::UsagePattern usage) {
        vao.create();
        vao.bind();
        buffer.create();
        buffer.setUsagePattern(usage);
        program->bind();
        setUpAttribute(program, buffer, 0, 3);
        program->release();
        vao.release();
    };
    makeLines(frameVao, frameBuffer, frameProgram, QOpenGLBuffer::StaticDraw);
    makeLines(gridVao, gridBuffer, frameProgram, QOpenGLBuffer::StaticDraw);
    makeLines(sweepLineVao, sweepLineBuffer, sweepProgram, QOpenGLBuffer::DynamicDraw);
    sweepLineBuffer.bind();
    sweepLineBuffer.allocate(&sweepLine, sizeof(LineSegment));
    sweepLineBuffer.release();

    traceVao.create();
    traceVao.bind();
    xBuffer.create();
    xBuffer.setUsagePattern(QOpenGLBuffer::StaticDraw);
    yBuffer.create();
    yBuffer.setUsagePattern(QOpenGLBuffer::DynamicDraw);
    traceProgram->bind();
    setUpAttribute(traceProgram, xBuffer, 0, 1);
    setUpAttribute(traceProgram, yBuffer, 1, 1);
    traceProgram->release();
    traceVao.release();
    yBuffer.release();

    glReady = true;
    // Whatever layout exists already (a context that was replaced) is uploaded again.
    uploadLayout();
}

void GraphView::destroyGlObjects() {
    if (!glReady) {
        return;
    }
    glReady = false;
    const ContextScope scope(*this);
    for (auto& program : programs) {
        program.destroy();
    }
    for (QOpenGLBuffer* buffer :
         {&frameBuffer, &gridBuffer, &sweepLineBuffer, &xBuffer, &yBuffer}) {
        buffer->destroy();
    }
    for (QOpenGLVertexArrayObject* vao : {&frameVao, &gridVao, &sweepLineVao, &traceVao}) {
        vao->destroy();
    }
    // The context outlives this view only when it is replaced; a later one connects anew.
    disconnect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GraphView::destroyGlObjects);
}

GraphView::ContextScope::ContextScope(GraphView& graphView) : view(graphView) {
    if (QOpenGLContext::currentContext() != view.context()) {
        view.makeCurrent();
        madeCurrent = true;
    }
}

GraphView::ContextScope::~ContextScope() {
    if (madeCurrent) {
        view.doneCurrent();
    }
}

void GraphView::resizeGL(int width, int height) {
    viewSize = {static_cast<float>(height), static_cast<float>(width)};
    leftEdge = static_cast<float>(
        static_cast<double>(GRAPH_LEFT_OFFSET_PIXELS) / static_cast<double>(width / 2) - 1.0);
    glViewport(0, 0, width, height);
    genGraph();
    resetGraph();
}

void GraphView::paintGL() {
    renderGraph();
    drawChannelLabels();
}

void GraphView::renderGraph() {
    if (inputPending) {
        inputPending = false;
        keys.clearWasPressedKeyStates();
        requestReset();
    }

    glClearColor(backgroundColor.redF(), backgroundColor.greenF(), backgroundColor.blueF(), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    programs[FRAME_PROGRAM].bind();
    drawSegments(frameVao, frameSegments.size(), frameColor);
    drawSegments(gridVao, gridSegments.size(), gridColor);
    programs[FRAME_PROGRAM].shaderProgram()->release();

    int newSamples = 0;
    if (!paused) {
        newSamples = dataSource->GetData(graphData);
    }
    // Every channel receives the same number of samples; the first one stands for all.
    const int held = graphData.empty() ? 0 : static_cast<int>(graphData.front().samples.size());

    programs[TRACE_PROGRAM].bind();
    setProgramColor(TRACE_PROGRAM, lineColor);
    switch (config.type) {
        case Sweep:
            drawSweep(newSamples, held);
            break;
        case Scroll:
            drawScroll(held);
            break;
        case Spectrum:
            drawSpectrum();
            break;
    }
}

void GraphView::drawSegments(QOpenGLVertexArrayObject& vao, std::size_t segments,
                             const QColor& color) {
    setProgramColor(FRAME_PROGRAM, color);
    vao.bind();
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(2 * segments));
    vao.release();
}

void GraphView::setProgramColor(int program, const QColor& color) {
    programs[program].shaderProgram()->setUniformValue(
        programs[program].uniformLocations[COLOR_UNIFORM], static_cast<GLfloat>(color.redF()),
        static_cast<GLfloat>(color.greenF()), static_cast<GLfloat>(color.blueF()),
        static_cast<GLfloat>(color.alphaF()));
}

void GraphView::keyPressEvent(QKeyEvent* event) {
    keys.keyPressEvent(event);
    // The tracker ignores auto-repeat; a held R must not flood the owner with resets.
    if (event->key() == Qt::Key_R && !event->isAutoRepeat() && keys.keyDown(Qt::Key_R)) {
        inputPending = true;
        event->accept();
        return;
    }
    QOpenGLWidget::keyPressEvent(event);
}

void GraphView::keyReleaseEvent(QKeyEvent* event) {
    keys.keyReleaseEvent(event);
    QOpenGLWidget::keyReleaseEvent(event);
}

void GraphView::closeEvent(QCloseEvent* event) {
    outLine("Closing graphView");
    refreshTimer->stop();
    QOpenGLWidget::closeEvent(event);
}
