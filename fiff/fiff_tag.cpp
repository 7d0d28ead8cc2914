#include "fiff_tag.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

#include "fiff_out_line.h"

namespace FIFFLIB {

namespace {

// More dimensions than any matrix of the format has; larger counts mean a damaged tag.
constexpr fiff_int_t kMaxMatrixDims = 8;

// Big-endian on file to host order, whole elements of W bytes only, in place.
template <int W>
void fromBigEndian(char* p, qsizetype bytes) {
    const qsizetype count = bytes / W;
    if (count <= 0) {
        return;
    }
    if constexpr (W == 2) {
        qFromBigEndian<quint16>(p, count, p);
    } else if constexpr (W == 4) {
        qFromBigEndian<quint32>(p, count, p);
    } else {
        qFromBigEndian<quint64>(p, count, p);
    }
}

// Records made of 32-bit fields only: the fields of every whole record.
void recordsOf32(char* p, qsizetype bytes, qsizetype recordSize) {
    fromBigEndian<4>(p, bytes / recordSize * recordSize);
}

fiff_int_t intAt(const char* p) {
    fiff_int_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float floatAt(const char* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

Eigen::Vector3f vec3At(const char* p) {
    return {floatAt(p), floatAt(p + 4), floatAt(p + 8)};
}

// Bytes per element of a matrix, 0 for element types the reader does not know.
qsizetype matrixElementWidth(fiff_int_t base) {
    switch (base) {
        case FIFFT_BYTE:
            return 1;
        case FIFFT_SHORT:
        case FIFFT_USHORT:
        case FIFFT_DAU_PACK16:
            return 2;
        case FIFFT_INT:
        case FIFFT_FLOAT:
        case FIFFT_UINT:
            return 4;
        case FIFFT_DOUBLE:
        case FIFFT_COMPLEX_FLOAT:
            return 8;
        case FIFFT_COMPLEX_DOUBLE:
            return 16;
        default:
            return 0;
    }
}

// Width of the converted element types of a matrix (3, 4 and 5), 0 for the others.
qsizetype convertedWidth(fiff_int_t base) {
    switch (base) {
        case FIFFT_INT:
        case FIFFT_FLOAT:
            return 4;
        case FIFFT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

template <typename T>
std::span<const T> viewAs(const char* p, qsizetype bytes) {
    if (bytes < static_cast<qsizetype>(sizeof(T))) {
        return {};
    }
    return {reinterpret_cast<const T*>(p), static_cast<std::size_t>(bytes) / sizeof(T)};
}

}  // namespace

char* FiffTag::resize(fiff_int_t n) {
    dataSize = std::max<fiff_int_t>(n, 0);
    storage.assign((static_cast<std::size_t>(dataSize) + 7) / 8, 0);
    return data();
}

qsizetype FiffTag::heldBytes() const {
    const qsizetype held = static_cast<qsizetype>(storage.size()) * 8;
    return std::clamp<qsizetype>(dataSize, 0, held);
}

bool FiffTag::isMatrix() const {
    return (type & FIFFTS_FS_MASK) == FIFFTS_FS_MATRIX;
}

fiff_int_t FiffTag::getMatrixCoding() const {
    return type & FIFFTS_MC_MASK;
}

fiff_int_t FiffTag::getType() const {
    return isMatrix() ? (type & 0xFFFF) : type;
}

bool FiffTag::getMatrixDimensions(fiff_int_t& ndim, std::vector<fiff_int_t>& dims) const {
    ndim = 0;
    dims.clear();
    if (!isMatrix()) {
        return false;
    }
    const fiff_int_t coding = getMatrixCoding();
    const bool dense = coding == FIFFTS_MC_DENSE;
    if (!dense && coding != FIFFTS_MC_CCS && coding != FIFFTS_MC_RCS) {
        writeOutLine(
            QStringLiteral("Error: Cannot handle other than dense or sparse matrices yet."));
        return false;
    }
    const qsizetype held = heldBytes();
    if (held < 4) {
        return false;
    }
    const char* p = data();
    const fiff_int_t n = intAt(p + held - 4);
    if (n < 1 || n > kMaxMatrixDims || (!dense && n > 2)) {
        return false;
    }
    // Dense: the dimensions, then n. Sparse: the non-zero count, the dimensions, then n.
    const qsizetype tailValues = dense ? n : n + 1;
    const qsizetype tailBytes = 4 * (tailValues + 1);
    if (tailBytes > held) {
        return false;
    }
    std::vector<fiff_int_t> values(static_cast<std::size_t>(tailValues));
    for (qsizetype i = 0; i < tailValues; ++i) {
        values[static_cast<std::size_t>(i)] = intAt(p + held - tailBytes + 4 * i);
        if (values[static_cast<std::size_t>(i)] < 0) {
            return false;
        }
    }
    const qsizetype dataBytes = held - tailBytes;
    const fiff_int_t base = type & FIFFTS_BASE_MASK;
    if (dense) {
        const qsizetype width = matrixElementWidth(base);
        if (width == 0) {
            return false;
        }
        // Stop as soon as the product exceeds what the tag holds, so it cannot overflow.
        qsizetype elements = 1;
        for (fiff_int_t d : values) {
            elements *= d;
            if (elements > dataBytes / width) {
                return false;
            }
        }
        if (elements * width != dataBytes) {
            return false;
        }
    } else {
        // Values, their row (CCS) or column (RCS) indices, then the pointers.
        const qsizetype width = convertedWidth(base);
        if (width == 0) {
            return false;
        }
        const qsizetype nz = values[0];
        if (nz > dataBytes / (width + 4)) {
            return false;
        }
        const qsizetype rest = dataBytes - nz * (width + 4);
        if (n == 2) {
            const qsizetype pointers = (coding == FIFFTS_MC_CCS ? values[2] : values[1]) + 1;
            if (pointers * 4 != rest) {
                return false;
            }
        }
    }
    ndim = n;
    dims = std::move(values);
    return true;
}

void FiffTag::convert_tag_data() {
    const qsizetype held = heldBytes();
    if (held == 0) {
        return;
    }
    char* p = data();
    if (isMatrix()) {
        if (held < 4) {
            return;  // not even the dimension count
        }
        // The dimensions are 32-bit integers whatever the element type.
        fromBigEndian<4>(p + held - 4, 4);
        const fiff_int_t n = intAt(p + held - 4);
        const fiff_int_t coding = getMatrixCoding();
        const bool dense = coding == FIFFTS_MC_DENSE;
        const bool sparse =
            (coding == FIFFTS_MC_CCS || coding == FIFFTS_MC_RCS) && (n == 1 || n == 2);
        if ((!dense && !sparse) || n < 1 || n > kMaxMatrixDims) {
            return;
        }
        const qsizetype tailValues = dense ? n : n + 1;
        const qsizetype tailBytes = 4 * (tailValues + 1);
        if (tailBytes > held) {
            return;
        }
        fromBigEndian<4>(p + held - tailBytes, 4 * tailValues);
        const qsizetype dataBytes = held - tailBytes;
        const qsizetype width = convertedWidth(type & FIFFTS_BASE_MASK);
        if (width == 0) {
            return;
        }
        qsizetype valueBytes = dataBytes;
        if (sparse) {
            const qsizetype nz = intAt(p + held - tailBytes);
            if (nz < 0 || nz > dataBytes / width) {
                return;
            }
            valueBytes = nz * width;
            // Indices and pointers are 32-bit integers.
            fromBigEndian<4>(p + valueBytes, dataBytes - valueBytes);
        }
        if (width == 4) {
            fromBigEndian<4>(p, valueBytes);
        } else {
            fromBigEndian<8>(p, valueBytes);
        }
        return;
    }
    switch (type) {
        case FIFFT_SHORT:
        case FIFFT_USHORT:
        case FIFFT_DAU_PACK16:
            fromBigEndian<2>(p, held);
            break;
        case FIFFT_INT:
        case FIFFT_FLOAT:
        case FIFFT_JULIAN:
        case FIFFT_UINT:
        case FIFFT_COMPLEX_FLOAT:
            fromBigEndian<4>(p, held);
            break;
        case FIFFT_DOUBLE:
        case FIFFT_LONG:
        case FIFFT_ULONG:
        case FIFFT_COMPLEX_DOUBLE:
            fromBigEndian<8>(p, held);
            break;
        case FIFFT_OLD_PACK: {
            // Offset and scale as floats, then the packed 16-bit values.
            const qsizetype head = std::min<qsizetype>(held, 8);
            fromBigEndian<4>(p, head);
            fromBigEndian<2>(p + head, held - head);
            break;
        }
        case FIFFT_CH_INFO_STRUCT: {
            // Every field but the name (the last 16 bytes) is 32 bits wide.
            const qsizetype record = FiffChInfo::storageSize();
            for (qsizetype off = 0; off + record <= held; off += record) {
                fromBigEndian<4>(p + off, record - 16);
            }
            break;
        }
        case FIFFT_ID_STRUCT:
            recordsOf32(p, held, FiffId::storageSize());
            break;
        case FIFFT_DIR_ENTRY_STRUCT:
            recordsOf32(p, held, FiffDirEntry::storageSize());
            break;
        case FIFFT_DIG_POINT_STRUCT:
            recordsOf32(p, held, 20);
            break;
        case FIFFT_CH_POS_STRUCT:
            recordsOf32(p, held, 52);
            break;
        case FIFFT_COORD_TRANS_STRUCT:
            recordsOf32(p, held, 104);
            break;
        case FIFFT_DATA_REF_STRUCT:
            // Two 32-bit, then two 64-bit fields.
            for (qsizetype off = 0; off + 24 <= held; off += 24) {
                fromBigEndian<4>(p + off, 8);
                fromBigEndian<8>(p + off + 8, 16);
            }
            break;
        default:
            break;
    }
}

std::span<const fiff_int_t> FiffTag::toInt() const {
    if (isMatrix() || type != FIFFT_INT) {
        writeOutLine(QString::asprintf(
            "Expected an integer tag : %d (found data type %d instead)\n", kind, type));
        return {};
    }
    return viewAs<fiff_int_t>(data(), heldBytes());
}

std::span<const float> FiffTag::toFloat() const {
    if (isMatrix() || type != FIFFT_FLOAT) {
        return {};
    }
    return viewAs<float>(data(), heldBytes());
}

std::span<const double> FiffTag::toDouble() const {
    if (isMatrix() || type != FIFFT_DOUBLE) {
        return {};
    }
    return viewAs<double>(data(), heldBytes());
}

std::span<const qint16> FiffTag::toShort() const {
    if (isMatrix() || type != FIFFT_SHORT) {
        return {};
    }
    return viewAs<qint16>(data(), heldBytes());
}

std::span<const qint16> FiffTag::toDauPack16() const {
    if (isMatrix() || type != FIFFT_DAU_PACK16) {
        return {};
    }
    return viewAs<qint16>(data(), heldBytes());
}

QString FiffTag::toString() const {
    const qsizetype held = heldBytes();
    if (isMatrix() || type != FIFFT_STRING || held == 0) {
        return {};
    }
    const char* p = data();
    const void* nul = std::memchr(p, '\0', static_cast<std::size_t>(held));
    const qsizetype length = nul ? static_cast<const char*>(nul) - p : held;
    return QString::fromUtf8(p, length);
}

FiffId FiffTag::toFiffID() const {
    if (isMatrix() || type != FIFFT_ID_STRUCT || heldBytes() < FiffId::storageSize()) {
        return {};
    }
    const char* p = data();
    return FiffId(intAt(p), intAt(p + 4), intAt(p + 8), intAt(p + 12), intAt(p + 16));
}

QList<FiffDirEntry::SPtr> FiffTag::toDirEntry() const {
    QList<FiffDirEntry::SPtr> entries;
    if (isMatrix() || type != FIFFT_DIR_ENTRY_STRUCT) {
        return entries;
    }
    const qsizetype count = heldBytes() / FiffDirEntry::storageSize();
    entries.reserve(count);
    const char* p = data();
    for (qsizetype i = 0; i < count; ++i, p += FiffDirEntry::storageSize()) {
        auto entry = std::make_shared<FiffDirEntry>();
        entry->kind = intAt(p);
        entry->type = intAt(p + 4);
        entry->size = intAt(p + 8);
        entry->pos = intAt(p + 12);
        entries.append(std::move(entry));
    }
    return entries;
}

FiffChInfo FiffTag::toChInfo() const {
    FiffChInfo ch;
    if (isMatrix() || type != FIFFT_CH_INFO_STRUCT || heldBytes() < FiffChInfo::storageSize()) {
        return ch;
    }
    const char* p = data();
    ch.scanNo = intAt(p);
    ch.logNo = intAt(p + 4);
    ch.kind = intAt(p + 8);
    ch.range = floatAt(p + 12);
    ch.cal = floatAt(p + 16);
    ch.chpos.coil_type = intAt(p + 20);
    ch.chpos.r0 = vec3At(p + 24);
    ch.chpos.ex = vec3At(p + 36);
    ch.chpos.ey = vec3At(p + 48);
    ch.chpos.ez = vec3At(p + 60);
    ch.unit = intAt(p + 72);
    ch.unit_mul = intAt(p + 76);
    // NUL-terminated unless all 16 bytes are used.
    const char* name = p + 80;
    const void* nul = std::memchr(name, '\0', 16);
    const qsizetype length = nul ? static_cast<const char*>(nul) - name : 16;
    ch.ch_name = QString::fromUtf8(name, length).remove(QLatin1Char(' '));

    if (ch.kind == FIFF::FIFFV_MEG_CH || ch.kind == FIFF::FIFFV_REF_MEG_CH) {
        ch.coil_trans = Eigen::Matrix4f::Identity();
        ch.coil_trans.block<3, 1>(0, 0) = ch.chpos.ex;
        ch.coil_trans.block<3, 1>(0, 1) = ch.chpos.ey;
        ch.coil_trans.block<3, 1>(0, 2) = ch.chpos.ez;
        ch.coil_trans.block<3, 1>(0, 3) = ch.chpos.r0;
        ch.coord_frame = FIFF::FIFFV_COORD_DEVICE;
    } else if (ch.kind == FIFF::FIFFV_EEG_CH) {
        ch.eeg_loc.col(0) = ch.chpos.r0;
        if (!ch.chpos.ex.isZero(0.0f)) {
            ch.eeg_loc.col(1) = ch.chpos.ex;
        }
        ch.coord_frame = FIFF::FIFFV_COORD_HEAD;
    } else {
        ch.coord_frame = FIFF::FIFFV_COORD_UNKNOWN;
    }
    return ch;
}

Eigen::MatrixXf FiffTag::toFloatMatrix() const {
    fiff_int_t ndim = 0;
    std::vector<fiff_int_t> dims;
    if (!isMatrix() || getMatrixCoding() != FIFFTS_MC_DENSE ||
        (type & FIFFTS_BASE_MASK) != FIFFT_FLOAT || !getMatrixDimensions(ndim, dims) || ndim != 2) {
        return {};
    }
    // Stored row by row, with the column count first among the dimensions.
    using RowMajor = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
    const Eigen::Index rows = dims[1];
    const Eigen::Index cols = dims[0];
    return Eigen::Map<const RowMajor>(reinterpret_cast<const float*>(data()), rows, cols);
}

}  // namespace FIFFLIB
