#pragma once
// A raw recording opened for reading: information, raw-data directory and calibration, and
// the reading of a span of samples as calibrated values.
#include <Eigen/Core>
#include <QIODevice>
#include <QList>

#include "fiff_constants.h"
#include "fiff_info.h"
#include "fiff_raw_dir.h"
#include "fiff_stream.h"

namespace FIFFLIB {

class FiffRawData {
public:
    FiffRawData() = default;
    // Runs setup_read_raw on device; on failure writes "\tError during fiff setup raw read."
    // to standard output and stays empty.
    explicit FiffRawData(QIODevice& device);

    void clear();
    bool isEmpty() const { return rawdir.isEmpty(); }

    // Reads samples from ... to (inclusive; -1: first / last sample number) of the selected
    // channels (all when sel is empty) into data (channels x samples, calibrated) and their
    // times in seconds into times (1 row). Columns no buffer fills are 0. False when there is
    // nothing to read or the request is refused.
    bool read_raw_segment(Eigen::MatrixXd& data, Eigen::MatrixXd& times, fiff_int_t from = -1,
                          fiff_int_t to = -1, const Eigen::RowVectorXi& sel = Eigen::RowVectorXi(),
                          bool do_debug = false) const;

    FiffStream::SPtr file;
    FiffInfo info;
    fiff_int_t first_samp = -1;
    fiff_int_t last_samp = -1;
    Eigen::RowVectorXd cals;
    QList<FiffRawDir> rawdir;
    Eigen::MatrixXd proj;  // always empty here: no projection is applied
};

}  // namespace FIFFLIB
