// Per-frame trace building and drawing of the graph view in its three modes. Nothing here
// allocates: traces, spectra and GL buffers were sized by the layout.
#include <QOpenGLShaderProgram>
#include <algorithm>
#include <cmath>

#include "graph_view.h"
#include "log_line.h"

namespace {

enum ProgramIndex { TRACE_PROGRAM = 1, SWEEP_LINE_PROGRAM = 2 };
enum TraceUniform { SCALING_UNIFORM = 1, OFFSET_UNIFORM = 2 };
constexpr float PLOT_TOP = 0.95f;
// Once more samples than this are on screen after a reset, the pending autoscale is over.
constexpr int AUTOSCALE_SAMPLES = 100;

// out[i] = ring[from + i] - base for i < count, each sample narrowed to float first. Reads the
// ring's two contiguous pieces directly rather than wrapping every index.
void copyRing(const boost::circular_buffer<double>& ring, std::size_t from, std::size_t count,
              float* out, float base) {
    const auto one = ring.array_one();
    const auto two = ring.array_two();
    std::size_t i = 0;
    if (from < one.second) {
        const std::size_t first = std::min(count, one.second - from);
        for (; i < first; ++i) {
            out[i] = static_cast<float>(one.first[from + i]) - base;
        }
        from = 0;
    } else {
        from -= one.second;
    }
    for (std::size_t j = 0; i < count; ++i, ++j) {
        out[i] = static_cast<float>(two.first[from + j]) - base;
    }
}

}  // namespace

float GraphView::traceGain(int channel) {
    const ChannelInfo& info = channelInfo[static_cast<std::size_t>(channel)];
    if (config.scaleByDataType && !info.isInput) {
        return GetScaling(info.dataType);
    }
    return 1.0f;
}

void GraphView::setSlotOffset(int slot) {
    const float h = static_cast<float>(ticksPerGraph) * tickSpacing;
    const float y0 = PLOT_TOP - static_cast<float>(slot + 1) * h;
    QOpenGLShaderProgram* program = programs[TRACE_PROGRAM].shaderProgram();
    program->setUniformValue(programs[TRACE_PROGRAM].uniformLocations[OFFSET_UNIFORM], 0.0f, y0,
                             0.0f);
}

void GraphView::uploadSlot(int slot, int count) {
    yBuffer.bind();
    yBuffer.write(0, traceValues[static_cast<std::size_t>(slot)].data(),
                  count * static_cast<int>(sizeof(float)));
}

void GraphView::prepareTimeSlot(int slot) {
    setGraphColor(channelInfo[static_cast<std::size_t>(slot)].dataType);
    programs[TRACE_PROGRAM].shaderProgram()->setUniformValue(
        programs[TRACE_PROGRAM].uniformLocations[SCALING_UNIFORM], 1.0f, traceGain(slot), 1.0f);
    setSlotOffset(slot);
    uploadSlot(slot, numPoints);
}

void GraphView::drawSweep(int newSamples, int held) {
    sweepPos += newSamples;
    if (autoscalePending && sweepPos > AUTOSCALE_SAMPLES) {
        autoscalePending = false;
    }
    if (sweepPos >= numPoints) {
        // More than one sweep may have arrived at once (a stalled GUI at a short time scale).
        sweepPos %= numPoints;
        for (auto& offset : offsets) {
            offset.recompute = true;
        }
    }
    if (static_cast<std::size_t>(sweepPos) >= xPositions.size()) {
        return;  // not laid out yet
    }
    sweepLine.p0.x = xPositions[static_cast<std::size_t>(sweepPos)];
    sweepLine.p1.x = sweepLine.p0.x;

    for (int k = 0; k < numGraphsOnScreen; ++k) {
        sweepUpdate(k, held);
    }
    traceVao.bind();
    for (int k = 0; k < numGraphsOnScreen; ++k) {
        prepareTimeSlot(k);
        // Two strips, so that nothing joins the newest sample to the oldest one.
        if (held >= numPoints) {
            glDrawArrays(GL_LINE_STRIP, sweepPos, numPoints - sweepPos);
        }
        glDrawArrays(GL_LINE_STRIP, 0, sweepPos);
    }
    traceVao.release();
    programs[TRACE_PROGRAM].shaderProgram()->release();

    ShaderProgram& sweepProgram = programs[SWEEP_LINE_PROGRAM];
    sweepProgram.bind();
    setProgramColor(SWEEP_LINE_PROGRAM, sweepLineColor);
    sweepLineVao.bind();
    sweepLineBuffer.bind();
    sweepLineBuffer.write(0, &sweepLine, static_cast<int>(sizeof(LineSegment)));
    glDrawArrays(GL_LINE_STRIP, 0, 2);
    sweepLineVao.release();
    sweepProgram.shaderProgram()->release();
}

void GraphView::sweepUpdate(int slot, int held) {
    const GraphData& data = graphData[static_cast<std::size_t>(slot)];
    const auto& ring = data.samples;
    float* y = traceValues[static_cast<std::size_t>(slot)].data();
    GraphDataOffset& o = offsets[static_cast<std::size_t>(slot)];
    const auto points = static_cast<std::size_t>(numPoints);
    const auto s = static_cast<std::size_t>(sweepPos);
    const std::size_t size = ring.size();
    const std::size_t averaged =
        std::min<std::size_t>(data.GetNumValidElements(), MAX_AVERAGE_POINTS);

    if (static_cast<std::size_t>(held) >= points && size >= points) {
        // Each sweep takes a fresh baseline: the mean of up to 100 samples ending with the
        // first sample of the new sweep (indices below 0 wrap to the newest samples).
        if (s > 0 && o.recompute && averaged > 0) {
            double sum = 0.0;
            for (std::size_t j = 0; j < averaged; ++j) {
                const auto index =
                    static_cast<std::ptrdiff_t>(size - s) - static_cast<std::ptrdiff_t>(j);
                sum += ring[static_cast<std::size_t>(
                    index < 0 ? index + static_cast<std::ptrdiff_t>(size) : index)];
            }
            o.previous = o.current;
            o.current = static_cast<float>(sum / static_cast<double>(averaged));
            o.recompute = false;
        }
        // Left of the sweep line the newest samples; right of it the rest of the previous
        // sweep, with the baseline it was drawn with.
        copyRing(ring, size - s, s, y, o.enabled ? o.current : 0.0f);
        copyRing(ring, 0, points - s, y + s, o.enabled ? o.previous : 0.0f);
        return;
    }

    // Still filling: points from `count` on keep their old values and are not drawn.
    const std::size_t count = std::min({static_cast<std::size_t>(std::max(held, 0)), size, points});
    if (count > 0 && o.recompute) {
        const std::size_t n = std::min(averaged, size);
        if (n > 0) {
            double sum = 0.0;
            for (std::size_t j = 0; j < n; ++j) {
                sum += ring[j];
            }
            o.previous = o.current;
            o.current = static_cast<float>(sum / static_cast<double>(n));
            o.recompute = false;
        }
    }
    copyRing(ring, 0, count, y, o.enabled ? o.current : 0.0f);
}

void GraphView::drawScroll(int held) {
    sweepPos = numPoints - held;
    if (autoscalePending && held > AUTOSCALE_SAMPLES) {
        autoscalePending = false;
        outLine("update autoscale done");
    }
    for (int k = 0; k < numGraphsOnScreen; ++k) {
        scrollUpdate(k, held);
    }
    traceVao.bind();
    for (int k = 0; k < numGraphsOnScreen; ++k) {
        prepareTimeSlot(k);
        glDrawArrays(GL_LINE_STRIP, sweepPos, numPoints - sweepPos);
    }
    traceVao.release();
    programs[TRACE_PROGRAM].shaderProgram()->release();
}

void GraphView::scrollUpdate(int slot, int held) {
    const auto& ring = graphData[static_cast<std::size_t>(slot)].samples;
    float* y = traceValues[static_cast<std::size_t>(slot)].data() + sweepPos;
    GraphDataOffset& o = offsets[static_cast<std::size_t>(slot)];
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(held, 0)), ring.size());
    // The baseline is taken once after each reset, from the first sample shown.
    if (count > 0 && o.recompute) {
        o.current = static_cast<float>(ring[0]);
        o.recompute = false;
    }
    copyRing(ring, 0, count, y, o.enabled ? o.current : 0.0f);
}

void GraphView::drawSpectrum() {
    QOpenGLShaderProgram* program = programs[TRACE_PROGRAM].shaderProgram();
    program->setUniformValue(programs[TRACE_PROGRAM].uniformLocations[SCALING_UNIFORM], 1.0f, 1.0f,
                             1.0f);
    // A magnitude of 0 lands on the slot's zero line and the full-scale value one division
    // above it: (1 + tickSpacing)^(v / F) - 1.
    const double top = std::log10(1.0 + static_cast<double>(tickSpacing));
    traceVao.bind();
    for (int k = 0; k < numGraphsOnScreen; ++k) {
        const int dataType = channelInfo[static_cast<std::size_t>(k)].dataType;
        setGraphColor(dataType);
        const double fullScale = static_cast<double>(GetScalingFactor(dataType).Get());
        if (!graphData[static_cast<std::size_t>(k)].spectrum.GetValues(fftValues)) {
            continue;  // no spectrum yet
        }
        float* y = traceValues[static_cast<std::size_t>(k)].data();
        for (int i = 0; i < numFftBins; ++i) {
            y[i] = static_cast<float>(
                std::pow(10.0, fftValues[static_cast<std::size_t>(i)] / fullScale * top) - 1.0);
        }
        setSlotOffset(k);
        uploadSlot(k, numFftBins);
        glDrawArrays(GL_LINE_STRIP, 0, numFftBins);
    }
    traceVao.release();
}
