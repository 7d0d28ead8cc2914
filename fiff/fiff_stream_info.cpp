// The readers of the measurement information and the raw-data set-up.
#include <cmath>
#include <limits>

#include "fiff_info.h"
#include "fiff_raw_data.h"
#include "fiff_stream.h"

namespace FIFFLIB {

namespace {

// A data skip longer than this many samples (about 4.6 hours at 1 kHz) means a damaged file.
constexpr qint64 kMaxSkipSamples = qint64(1) << 24;

// The first value of an entry's tag, through the accessor of its type; false when the tag
// cannot be read or holds no value of that type.
template <typename T>
bool readFirst(FiffStream& stream, const FiffDirEntry& entry, T& value,
               std::span<const T> (FiffTag::*view)() const) {
    FiffTag::UPtr tag;
    if (!stream.read_tag(tag, entry.pos)) {
        return false;
    }
    const std::span<const T> values = ((*tag).*view)();
    if (values.empty()) {
        return false;
    }
    value = values[0];
    return true;
}

bool readInt(FiffStream& stream, const FiffDirEntry& entry, fiff_int_t& value) {
    return readFirst(stream, entry, value, &FiffTag::toInt);
}

bool readFloat(FiffStream& stream, const FiffDirEntry& entry, float& value) {
    return readFirst(stream, entry, value, &FiffTag::toFloat);
}

void damagedTag(const FiffDirEntry& entry) {
    qWarning("Could not read the tag of kind %d at %d (file probably damaged)\n", entry.kind,
             entry.pos);
}

// Informational tags: read when they have the expected type, passed over otherwise.
void readOptional(FiffStream& stream, const FiffDirEntry& entry, FiffInfo& info) {
    const bool wanted = entry.kind == FIFF::FIFF_MEAS_DATE || entry.kind == FIFF::FIFF_COMMENT ||
                        entry.kind == FIFF::FIFF_EXPERIMENTER ||
                        entry.kind == FIFF::FIFF_PROJ_NAME || entry.kind == FIFF::FIFF_PROJ_ID;
    FiffTag::UPtr tag;
    if (!wanted || !stream.read_tag(tag, entry.pos)) {
        return;
    }
    // Checked first: the integer view reports a type mismatch on standard output.
    const std::span<const fiff_int_t> ints =
        tag->type == FIFFT_INT && !tag->isMatrix() ? tag->toInt() : std::span<const fiff_int_t>();
    switch (entry.kind) {
        case FIFF::FIFF_MEAS_DATE:
            if (ints.size() >= 2) {
                info.meas_date[0] = ints[0];
                info.meas_date[1] = ints[1];
            }
            break;
        case FIFF::FIFF_COMMENT:
            info.description = tag->toString();
            break;
        case FIFF::FIFF_EXPERIMENTER:
            info.experimenter = tag->toString();
            break;
        case FIFF::FIFF_PROJ_NAME:
            info.proj_name = tag->toString();
            break;
        default:  // FIFF_PROJ_ID
            if (!ints.empty()) {
                info.proj_id = ints[0];
            }
            break;
    }
}

// Bytes per value of a data buffer, 0 for types the reader does not handle.
qint64 bufferWidth(fiff_int_t type) {
    switch (type) {
        case FIFFT_DAU_PACK16:
        case FIFFT_SHORT:
            return 2;
        case FIFFT_INT:
        case FIFFT_FLOAT:
            return 4;
        case FIFFT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

bool inSampleRange(qint64 s) {
    if (s > std::numeric_limits<fiff_int_t>::max()) {
        qWarning("Sample numbers beyond the 32-bit range (file probably damaged)\n");
        return false;
    }
    return true;
}

// Walks the raw-data block: which buffer holds which sample numbers.
bool readRawDirectory(FiffStream& stream, const FiffDirNode& raw, FiffRawData& data) {
    const QList<FiffDirEntry::SPtr>& dir = raw.dir;
    const qint64 nchan = data.info.nchan;
    qint64 s = 0;
    qint64 pendingSkip = 0;
    qint64 initialSkip = 0;
    fiff_int_t value = 0;
    qsizetype k = 0;
    if (k < dir.size() && dir[k]->kind == FIFF::FIFF_FIRST_SAMPLE) {
        if (!readInt(stream, *dir[k], value)) {
            damagedTag(*dir[k]);
            return false;
        }
        s = value;
        ++k;
    }
    if (k < dir.size() && dir[k]->kind == FIFF::FIFF_DATA_SKIP) {
        if (!readInt(stream, *dir[k], value)) {
            damagedTag(*dir[k]);
            return false;
        }
        initialSkip = value;
        ++k;
    }
    data.first_samp = static_cast<fiff_int_t>(s);

    for (; k < dir.size(); ++k) {
        const FiffDirEntry::SPtr& entry = dir[k];
        if (entry->kind == FIFF::FIFF_DATA_SKIP) {
            if (!readInt(stream, *entry, value)) {
                damagedTag(*entry);
                return false;
            }
            pendingSkip = value;
        } else if (entry->kind == FIFF::FIFF_DATA_BUFFER) {
            const qint64 width = bufferWidth(entry->type);
            if (width == 0) {
                qWarning("Cannot handle data buffers of type %d\n", entry->type);
                return false;
            }
            const qint64 sampleBytes = nchan * width;
            if (entry->size < 0 || entry->size % sampleBytes != 0) {
                qWarning(
                    "Data buffer of %d bytes does not hold whole samples of %lld channels "
                    "(file probably damaged)\n",
                    entry->size, nchan);
                return false;
            }
            const qint64 nsamp = entry->size / sampleBytes;
            if (initialSkip > 0) {
                if (initialSkip > kMaxSkipSamples / std::max<qint64>(nsamp, 1)) {
                    qWarning("Data skip of %lld buffers is too long (file probably damaged)\n",
                             initialSkip);
                    return false;
                }
                s += nsamp * initialSkip;
                if (!inSampleRange(s)) {
                    return false;
                }
                data.first_samp = static_cast<fiff_int_t>(s);
                initialSkip = 0;
            }
            if (pendingSkip > 0) {
                if (pendingSkip > kMaxSkipSamples / std::max<qint64>(nsamp, 1)) {
                    qWarning("Data skip of %lld buffers is too long (file probably damaged)\n",
                             pendingSkip);
                    return false;
                }
                const qint64 count = pendingSkip * nsamp;
                if (!inSampleRange(s + count)) {
                    return false;
                }
                FiffRawDir skip;
                skip.first = static_cast<fiff_int_t>(s);
                skip.last = static_cast<fiff_int_t>(s + count - 1);
                skip.nsamp = static_cast<fiff_int_t>(count);
                data.rawdir.append(skip);
                s += count;
                pendingSkip = 0;
            }
            if (!inSampleRange(s + nsamp)) {
                return false;
            }
            FiffRawDir buffer;
            buffer.ent = entry;
            buffer.first = static_cast<fiff_int_t>(s);
            buffer.last = static_cast<fiff_int_t>(s + nsamp - 1);
            buffer.nsamp = static_cast<fiff_int_t>(nsamp);
            data.rawdir.append(buffer);
            s += nsamp;
        }
    }
    data.last_samp = static_cast<fiff_int_t>(s - 1);
    return true;
}

}  // namespace

bool FiffStream::read_meas_info(const FiffDirNode::SPtr& tree, FiffInfo& info,
                                FiffDirNode::SPtr& nodeInfo) {
    info.clear();
    if (!tree) {
        qWarning("Could not find measurement data\n");
        return false;
    }
    const QList<FiffDirNode::SPtr> meas = tree->dir_tree_find(FIFF::FIFFB_MEAS);
    if (meas.isEmpty()) {
        qWarning("Could not find measurement data\n");
        return false;
    }
    const QList<FiffDirNode::SPtr> measInfo = meas[0]->dir_tree_find(FIFF::FIFFB_MEAS_INFO);
    if (measInfo.isEmpty()) {
        qWarning("Could not find measurement info\n");
        return false;
    }

    fiff_int_t nchan = -1;
    float sfreq = -1.0f;
    float linefreq = -1.0f;
    float highpass = -1.0f;
    float lowpass = -1.0f;
    bool sfreqFound = false;
    QList<FiffChInfo> chs;
    for (const FiffDirEntry::SPtr& entry : measInfo[0]->dir) {
        bool ok = true;
        switch (entry->kind) {
            case FIFF::FIFF_NCHAN:
                ok = readInt(*this, *entry, nchan);
                break;
            case FIFF::FIFF_SFREQ:
                ok = readFloat(*this, *entry, sfreq);
                sfreqFound = ok;
                break;
            case FIFF::FIFF_LINE_FREQ:
                ok = readFloat(*this, *entry, linefreq);
                break;
            case FIFF::FIFF_HIGHPASS:
                ok = readFloat(*this, *entry, highpass);
                break;
            case FIFF::FIFF_LOWPASS:
                ok = readFloat(*this, *entry, lowpass);
                break;
            case FIFF::FIFF_CH_INFO: {
                FiffTag::UPtr tag;
                ok = read_tag(tag, entry->pos) && tag->type == FIFFT_CH_INFO_STRUCT &&
                     !tag->isMatrix() && tag->size() >= FiffChInfo::storageSize();
                if (ok) {
                    chs.append(tag->toChInfo());
                }
                break;
            }
            default:
                readOptional(*this, *entry, info);
                break;
        }
        if (!ok) {
            damagedTag(*entry);
            info.clear();
            return false;
        }
    }

    if (nchan == -1) {
        qWarning("Number of channels in not defined\n");
        return false;
    }
    if (nchan <= 0) {
        qWarning("Number of channels is %d (file probably damaged)\n", nchan);
        return false;
    }
    if (!sfreqFound) {
        qWarning("Sampling frequency is not defined\n");
        return false;
    }
    if (!(sfreq > 0.0f) || !std::isfinite(sfreq)) {
        qWarning("Sampling frequency is %g (file probably damaged)\n", double(sfreq));
        return false;
    }
    if (linefreq == -1.0f) {
        qWarning("Line frequency is not defined\n");
    }
    if (chs.isEmpty()) {
        qWarning("Channel information not defined\n");
        return false;
    }
    if (chs.size() != nchan) {
        qWarning("Incorrect number of channel definitions found\n");
        return false;
    }

    info.file_id = fileId;
    info.meas_id = meas[0]->id;
    if (info.meas_date[0] == -1) {
        info.meas_date[0] = info.meas_id.time.secs;
        info.meas_date[1] = info.meas_id.time.usecs;
    }
    info.bads = read_bad_channels(tree);
    info.nchan = nchan;
    info.sfreq = sfreq;
    info.linefreq = linefreq;
    info.highpass = highpass == -1.0f ? 0.0f : highpass;
    info.lowpass = lowpass == -1.0f ? sfreq / 2.0f : lowpass;
    info.chs = chs;
    for (const FiffChInfo& ch : chs) {
        info.ch_names.append(ch.ch_name);
    }
    nodeInfo = meas[0];
    return true;
}

QStringList FiffStream::read_bad_channels(const FiffDirNode::SPtr& tree) {
    if (!tree) {
        return {};
    }
    const QList<FiffDirNode::SPtr> nodes = tree->dir_tree_find(FIFF::FIFFB_MNE_BAD_CHANNELS);
    FiffTag::UPtr tag;
    if (nodes.isEmpty() || !nodes[0]->find_tag(this, FIFF::FIFF_MNE_CH_NAME_LIST, tag)) {
        return {};
    }
    return tag->toString().remove(QLatin1Char(' ')).split(QLatin1Char(':'));
}

bool FiffStream::setup_read_raw(QIODevice& device, FiffRawData& data, bool allow_maxshield,
                                bool is_littleEndian) {
    auto stream = std::make_shared<FiffStream>(&device);
    if (is_littleEndian) {
        stream->setByteOrder(QDataStream::LittleEndian);
    }
    const QString name = stream->streamName();
    qInfo("Opening raw data %s...\n", qUtf8Printable(name));
    if (!stream->open()) {
        return false;
    }

    FiffInfo info;
    FiffDirNode::SPtr meas;
    if (!stream->read_meas_info(stream->dirtree(), info, meas)) {
        stream->close();
        return false;
    }

    QList<FiffDirNode::SPtr> raw = meas->dir_tree_find(FIFF::FIFFB_RAW_DATA);
    if (raw.isEmpty()) {
        raw = meas->dir_tree_find(FIFF::FIFFB_CONTINUOUS_DATA);
        if (raw.isEmpty() && allow_maxshield) {
            qInfo("Maxshield data found\n");
            raw = meas->dir_tree_find(FIFF::FIFFB_SMSH_RAW_DATA);
        }
    }
    if (raw.isEmpty()) {
        qWarning("No raw data in %s\n", qUtf8Printable(name));
        stream->close();
        return false;
    }

    info.filename = name;
    data.clear();
    data.file = stream;
    data.info = info;
    data.first_samp = 0;
    if (!readRawDirectory(*stream, *raw[0], data)) {
        data.clear();
        stream->close();
        return false;
    }

    data.cals.resize(data.info.nchan);
    for (fiff_int_t i = 0; i < data.info.nchan; ++i) {
        const FiffChInfo& ch = data.info.chs[i];
        data.cals[i] = static_cast<double>(ch.range) * static_cast<double>(ch.cal);
    }

    const double sfreq = data.info.sfreq;
    qInfo("\tRange : %d ... %d  =  %9.3f ... %9.3f secs", data.first_samp, data.last_samp,
          data.first_samp / sfreq, data.last_samp / sfreq);
    qInfo("Ready.");
    stream->close();
    return true;
}

}  // namespace FIFFLIB
