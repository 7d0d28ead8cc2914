#pragma once
// Runs a byte string through every reading step playback takes: open, measurement info, raw
// set-up, picks and a segment read. Shared by the fuzz target and the regression test that
// replays what the fuzzer found; it must never crash, whatever the bytes.
#include <QBuffer>
#include <QByteArray>
#include <algorithm>

#include "fiff_raw_data.h"
#include "fiff_stream.h"

namespace fiff_exercise {

// At most this many samples are read, so a damaged but accepted file cannot make a read large.
constexpr FIFFLIB::fiff_int_t MAX_SAMPLES = 4096;

inline void exerciseFiffReader(const QByteArray& bytes) {
    using namespace FIFFLIB;
    {
        QBuffer device;
        device.setData(bytes);
        FiffStream stream(&device);
        if (stream.open()) {
            FiffInfo info;
            FiffDirNode::SPtr measurement;
            const auto tree = stream.dirtree();
            (void)stream.read_meas_info(tree, info, measurement);
            (void)stream.read_bad_channels(tree);
            for (const auto& node : tree->dir_tree_find(FIFF::FIFFB_RAW_DATA)) {
                FiffTag::UPtr tag;
                (void)node->find_tag(&stream, FIFF::FIFF_FIRST_SAMPLE, tag);
            }
            stream.close();
        }
    }
    QBuffer device;
    device.setData(bytes);
    const FiffRawData raw(device);
    if (raw.isEmpty()) {
        return;
    }
    const auto picks = raw.info.pick_types(true, true, true, QStringList(), raw.info.bads);
    Eigen::MatrixXd data;
    Eigen::MatrixXd times;
    const qint64 last = std::min<qint64>(raw.last_samp, qint64{raw.first_samp} + MAX_SAMPLES - 1);
    (void)raw.read_raw_segment(data, times, raw.first_samp, static_cast<fiff_int_t>(last), picks);
    // A segment from the middle, starting inside a buffer.
    (void)raw.read_raw_segment(data, times, raw.first_samp + 1,
                               static_cast<fiff_int_t>(std::max<qint64>(raw.first_samp, last - 1)));
}

}  // namespace fiff_exercise
