#pragma once
// One tag in memory: kind, type, next pointer and the data, already in host byte order.
#include <Eigen/Core>
#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fiff_ch_info.h"
#include "fiff_constants.h"
#include "fiff_dir_entry.h"
#include "fiff_id.h"

namespace FIFFLIB {

class FiffTag {
public:
    using UPtr = std::unique_ptr<FiffTag>;

    static constexpr int headerSize() { return 16; }

    fiff_int_t kind = 0;
    fiff_int_t type = 0;
    fiff_int_t next = 0;

    // Number of data bytes and the data (8-byte aligned, so the typed views below are safe).
    fiff_int_t size() const { return dataSize; }
    const char* data() const { return reinterpret_cast<const char*>(storage.data()); }
    char* data() { return reinterpret_cast<char*>(storage.data()); }
    // Makes room for n data bytes (n >= 0), all zero; returns the data.
    char* resize(fiff_int_t n);

    // Matrices: type bits 0xFF000000 equal 0x40000000.
    bool isMatrix() const;
    // FIFFTS_MC_DENSE, FIFFTS_MC_CCS or FIFFTS_MC_RCS (the coding bits of the type).
    fiff_int_t getMatrixCoding() const;
    // The type; for a matrix only its low 16 bits.
    fiff_int_t getType() const;
    // Reads the dimensions stored at the end of a matrix tag. Refuses codings other than dense
    // and sparse (message on standard output) and dimensions that do not fit the tag.
    bool getMatrixDimensions(fiff_int_t& ndim, std::vector<fiff_int_t>& dims) const;

    // Converts the data, as read from a big-endian file, to host order according to the type.
    // Only whole elements are converted; trailing bytes are left as stored.
    void convert_tag_data();

    // Typed views: empty unless the type matches and the tag is not a matrix. toInt writes
    // "Expected an integer tag : <kind> (found data type <type> instead)" to standard output
    // on a mismatch.
    std::span<const fiff_int_t> toInt() const;
    std::span<const float> toFloat() const;
    std::span<const double> toDouble() const;
    std::span<const qint16> toShort() const;
    std::span<const qint16> toDauPack16() const;
    // Type 10; otherwise (or without data) an empty string. Stops at the first NUL.
    QString toString() const;
    // Type 31 with at least 20 bytes; otherwise an empty ID.
    FiffId toFiffID() const;
    // Type 32: one entry per whole 16 bytes; otherwise empty.
    QList<FiffDirEntry::SPtr> toDirEntry() const;
    // Type 30 with at least 96 bytes; otherwise a default record. Blanks removed from the name.
    FiffChInfo toChInfo() const;
    // A dense matrix of floats (type 4 as a matrix), rows x columns; empty otherwise.
    Eigen::MatrixXf toFloatMatrix() const;

private:
    friend class FiffStream;  // read_tag_info sets the size of a header without its data

    // Data bytes really held: 0 after read_tag_info, which reads the header only.
    qsizetype heldBytes() const;

    std::vector<std::uint64_t> storage;
    fiff_int_t dataSize = 0;
};

}  // namespace FIFFLIB
