#include "fiff_raw_data.h"

#include <algorithm>
#include <new>
#include <span>
#include <vector>

#include "fiff_out_line.h"

namespace FIFFLIB {

namespace {

// The rows to fill: which channel of a sample each row takes, and its calibration factor.
struct Rows {
    std::vector<int> channel;
    std::vector<double> cal;
    bool allInOrder = true;  // every channel in file order: a sample maps onto a column as is
};

// dst = cal * src elementwise. Written four at a time so that the compiler turns the body into
// vector instructions at -O2; the reading of a recording spends its user time here.
template <typename T>
void scaleSample(const T* __restrict src, const double* __restrict cal, double* __restrict dst,
                 std::size_t n) {
    std::size_t r = 0;
    for (; r + 4 <= n; r += 4) {
        dst[r] = cal[r] * static_cast<double>(src[r]);
        dst[r + 1] = cal[r + 1] * static_cast<double>(src[r + 1]);
        dst[r + 2] = cal[r + 2] * static_cast<double>(src[r + 2]);
        dst[r + 3] = cal[r + 3] * static_cast<double>(src[r + 3]);
    }
    for (; r < n; ++r) {
        dst[r] = cal[r] * static_cast<double>(src[r]);
    }
}

// Copies samples first ... first + count - 1 of a buffer (channel-fastest) into count columns
// of out, calibrated. False when the buffer is too short for them.
template <typename T>
bool copySamples(std::span<const T> buf, qint64 nchan, qint64 first, qint64 count, const Rows& rows,
                 double* out) {
    if (qint64(buf.size()) < (first + count) * nchan) {
        return false;
    }
    const std::size_t nrows = rows.channel.size();
    const double* cal = rows.cal.data();
    const int* channel = rows.channel.data();
    for (qint64 j = 0; j < count; ++j) {
        const T* sample = buf.data() + (first + j) * nchan;
        double* column = out + j * static_cast<qint64>(nrows);
        if (rows.allInOrder) {
            scaleSample(sample, cal, column, nrows);
        } else {
            for (std::size_t r = 0; r < nrows; ++r) {
                column[r] = cal[r] * static_cast<double>(sample[channel[r]]);
            }
        }
    }
    return true;
}

// Reads one data buffer and fills count columns of out from it; false (with the reason on
// standard output) when the buffer is not what the directory says, so its columns stay 0.
bool readBlock(FiffStream& stream, FiffTag& tag, const FiffDirEntry& ent, qint64 nchan,
               qint64 firstPick, qint64 count, const Rows& rows, bool selected, double* out) {
    if (!stream.read_tag(tag, ent.pos)) {
        writeOutLine(QString::asprintf(
            "Could not read the data buffer at %d (file probably damaged)", ent.pos));
        return false;
    }
    if (tag.type != ent.type || tag.size() != ent.size) {
        writeOutLine(QString::asprintf(
            "The data buffer at %d is not the one listed in the directory (file probably damaged)",
            ent.pos));
        return false;
    }
    bool ok = false;
    switch (tag.type) {
        case FIFFT_DAU_PACK16:
            ok = copySamples(tag.toDauPack16(), nchan, firstPick, count, rows, out);
            break;
        case FIFFT_SHORT:
            ok = copySamples(tag.toShort(), nchan, firstPick, count, rows, out);
            break;
        case FIFFT_INT:
            ok = copySamples(tag.toInt(), nchan, firstPick, count, rows, out);
            break;
        case FIFFT_FLOAT:
            ok = copySamples(tag.toFloat(), nchan, firstPick, count, rows, out);
            break;
        case FIFFT_DOUBLE:
            ok = copySamples(tag.toDouble(), nchan, firstPick, count, rows, out);
            break;
        default:
            writeOutLine(
                QString::asprintf(selected ? "Data Storage Format not known yet [2]!! Type: %d\n"
                                           : "Data Storage Format not known yet [1]!! Type: %d\n",
                                  tag.type));
            return false;
    }
    if (!ok) {
        writeOutLine(QString::asprintf("The data buffer at %d is too short (file probably damaged)",
                                       ent.pos));
    }
    return ok;
}

char entryLetter(const FiffRawDir& entry, qint64 firstPick, qint64 lastPick) {
    if (!entry.ent) {
        return 'S';
    }
    const bool begins = firstPick > 0;
    const bool ends = lastPick < entry.nsamp - 1;
    if (begins && ends) {
        return 'M';
    }
    return begins ? 'B' : (ends ? 'E' : 'W');
}

}  // namespace

FiffRawData::FiffRawData(QIODevice& device) {
    if (!FiffStream::setup_read_raw(device, *this, true, false)) {
        writeOutLine(QStringLiteral("\tError during fiff setup raw read."));
    }
}

void FiffRawData::clear() {
    file.reset();
    info.clear();
    first_samp = -1;
    last_samp = -1;
    cals.resize(0);
    rawdir.clear();
    proj.resize(0, 0);
}

bool FiffRawData::read_raw_segment(Eigen::MatrixXd& data, Eigen::MatrixXd& times, fiff_int_t from,
                                   fiff_int_t to, const Eigen::RowVectorXi& sel,
                                   bool do_debug) const {
    if (from == -1) {
        from = first_samp;
    }
    if (to == -1) {
        to = last_samp;
    }
    from = std::max(from, first_samp);
    to = std::min(to, last_samp);
    const double sfreq = info.sfreq;
    const qint64 nchan = info.nchan;
    if (to < from || rawdir.isEmpty() || !file || nchan <= 0 || cals.size() < nchan) {
        writeOutLine(
            QString::asprintf("No data in this range %d ... %d  =  %9.3f ... %9.3f secs...", from,
                              to, from / sfreq, to / sfreq));
        return false;
    }

    Rows rows;
    const qint64 nrows = sel.size() > 0 ? sel.size() : nchan;
    rows.channel.resize(static_cast<std::size_t>(nrows));
    rows.cal.resize(static_cast<std::size_t>(nrows));
    for (qint64 r = 0; r < nrows; ++r) {
        const qint64 ch = sel.size() > 0 ? sel[r] : r;
        if (ch < 0 || ch >= nchan) {
            writeOutLine(QString::asprintf("Channel %lld is not in the recording (0 ... %lld)", ch,
                                           nchan - 1));
            return false;
        }
        rows.channel[static_cast<std::size_t>(r)] = static_cast<int>(ch);
        rows.cal[static_cast<std::size_t>(r)] = cals[ch];
        rows.allInOrder = rows.allInOrder && ch == r;
    }
    rows.allInOrder = rows.allInOrder && nrows == nchan;

    const qint64 ncols = qint64(to) - from + 1;
    try {
        // Not cleared here: columns are zeroed as the walk passes them unfilled, which saves a
        // pass over a matrix as large as the recording.
        data.resize(nrows, ncols);
        times.resize(1, ncols);
    } catch (const std::bad_alloc&) {
        data.resize(0, 0);
        times.resize(0, 0);
        writeOutLine(
            QString::asprintf("Cannot allocate %lld x %lld values for the samples %d ... %d", nrows,
                              ncols, from, to));
        return false;
    }

    QIODevice* dev = file->device();
    if (dev && !dev->isOpen() && !dev->open(QIODevice::ReadOnly)) {
        writeOutLine(QStringLiteral("Cannot open file %1").arg(info.filename));
    }

    // Columns before filledUpTo are final: read or zeroed.
    qint64 filledUpTo = 0;
    const auto zeroUpTo = [&](qint64 end) {
        if (end > filledUpTo) {
            data.middleCols(filledUpTo, end - filledUpTo).setZero();
            filledUpTo = end;
        }
    };
    FiffTag tag;  // one buffer reused for every data tag
    for (const FiffRawDir& entry : rawdir) {
        if (entry.last <= from || entry.nsamp <= 0) {
            continue;
        }
        const qint64 firstPick = from > entry.first ? qint64(from) - entry.first : 0;
        const qint64 lastPick = std::min<qint64>(
            to < entry.last ? qint64(to) - entry.first : entry.nsamp - 1, entry.nsamp - 1);
        // Placed by sample number, so a block never lands beside its times.
        const qint64 column = qint64(entry.first) + firstPick - from;
        const qint64 count = std::min(lastPick - firstPick + 1, ncols - column);
        if (do_debug) {
            writeOutLine(QString::asprintf(
                "%c %lld ... %lld", entryLetter(entry, firstPick, lastPick), firstPick, lastPick));
        }
        if (entry.ent && column >= 0 && count > 0 &&
            readBlock(*file, tag, *entry.ent, nchan, firstPick, count, rows, sel.size() > 0,
                      data.data() + column * nrows)) {
            zeroUpTo(column);
            filledUpTo = std::max(filledUpTo, column + count);
        }
        if (entry.last >= to) {
            break;
        }
    }

    zeroUpTo(ncols);
    for (qint64 i = 0; i < ncols; ++i) {
        times(0, i) = static_cast<double>(from + i) / sfreq;
    }
    return true;
}

}  // namespace FIFFLIB
