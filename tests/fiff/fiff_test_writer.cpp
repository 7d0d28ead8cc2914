#include "fiff_test_writer.h"

#include <QtEndian>
#include <bit>
#include <cmath>
#include <cstdint>

namespace fifftest {

namespace {

template <class T>
QByteArray bigEndian(T v) {
    QByteArray out(static_cast<qsizetype>(sizeof(T)), '\0');
    qToBigEndian(v, out.data());
    return out;
}

constexpr qint32 kFileIdKind = 100;
constexpr qint32 kDirPointerKind = 101;
constexpr qint32 kDirKind = 102;
constexpr qint32 kBlockStart = 104;
constexpr qint32 kBlockEnd = 105;
constexpr qint32 kTypeShort = 2;
constexpr qint32 kTypeInt = 3;
constexpr qint32 kTypeFloat = 4;
constexpr qint32 kTypeDouble = 5;
constexpr qint32 kTypeString = 10;
constexpr qint32 kTypeDauPack16 = 16;
constexpr qint32 kTypeChInfo = 30;
constexpr qint32 kTypeId = 31;
constexpr qint32 kTypeDirEntry = 32;

}  // namespace

QByteArray be16(qint16 v) {
    return bigEndian(v);
}
QByteArray be32(qint32 v) {
    return bigEndian(v);
}
QByteArray be64(qint64 v) {
    return bigEndian(v);
}
QByteArray beFloat(float v) {
    return bigEndian(std::bit_cast<quint32>(v));
}
QByteArray beDouble(double v) {
    return bigEndian(std::bit_cast<quint64>(v));
}

void putBe32(QByteArray& bytes, qint64 offset, qint32 v) {
    qToBigEndian(v, bytes.data() + offset);
}

FiffTestWriter::FiffTestWriter(bool withHeader) {
    if (!withHeader) {
        return;
    }
    idTag(kFileIdKind, kFileId);
    m_dirPointerPos = intTag(kDirPointerKind, 0);
}

qint64 FiffTestWriter::tag(qint32 kind, qint32 type, const QByteArray& data, qint32 next,
                           std::optional<qint32> sizeField) {
    const qint64 at = pos();
    const qint32 size = sizeField.value_or(static_cast<qint32>(data.size()));
    m_bytes.append(be32(kind)).append(be32(type)).append(be32(size)).append(be32(next));
    m_bytes.append(data);
    m_entries.append({kind, type, size, static_cast<qint32>(at)});
    return at;
}

qint64 FiffTestWriter::intTag(qint32 kind, qint32 value, qint32 next) {
    return tag(kind, kTypeInt, be32(value), next);
}

qint64 FiffTestWriter::intsTag(qint32 kind, const std::vector<qint32>& values) {
    QByteArray data;
    for (qint32 v : values) {
        data.append(be32(v));
    }
    return tag(kind, kTypeInt, data);
}

qint64 FiffTestWriter::floatTag(qint32 kind, float value) {
    return tag(kind, kTypeFloat, beFloat(value));
}

qint64 FiffTestWriter::doubleTag(qint32 kind, double value) {
    return tag(kind, kTypeDouble, beDouble(value));
}

qint64 FiffTestWriter::shortTag(qint32 kind, const std::vector<qint16>& values) {
    QByteArray data;
    for (qint16 v : values) {
        data.append(be16(v));
    }
    return tag(kind, kTypeShort, data);
}

qint64 FiffTestWriter::stringTag(qint32 kind, const QByteArray& text) {
    return tag(kind, kTypeString, text);
}

qint64 FiffTestWriter::idTag(qint32 kind, const Id& id) {
    QByteArray data;
    for (qint32 v : id) {
        data.append(be32(v));
    }
    return tag(kind, kTypeId, data);
}

qint64 FiffTestWriter::startBlock(qint32 blockKind) {
    return tag(kBlockStart, kTypeInt, be32(blockKind));
}

qint64 FiffTestWriter::endBlock(qint32 blockKind) {
    return tag(kBlockEnd, kTypeInt, be32(blockKind));
}

qint64 FiffTestWriter::channel(const ChannelSpec& ch) {
    QByteArray data;
    data.append(be32(ch.scanNo)).append(be32(ch.logNo)).append(be32(ch.kind));
    data.append(beFloat(ch.range)).append(beFloat(ch.cal)).append(be32(ch.coilType));
    for (const auto* v : {&ch.r0, &ch.ex, &ch.ey, &ch.ez}) {
        for (float f : *v) {
            data.append(beFloat(f));
        }
    }
    data.append(be32(ch.unit)).append(be32(ch.unitMul));
    QByteArray name = ch.name.toUtf8().left(15);
    name.append(QByteArray(16 - name.size(), '\0'));
    data.append(name);
    return tag(203, kTypeChInfo, data);
}

QByteArray encodeSamples(qint32 type, const Eigen::MatrixXd& values) {
    QByteArray data;
    for (Eigen::Index s = 0; s < values.cols(); ++s) {
        for (Eigen::Index c = 0; c < values.rows(); ++c) {
            const double v = values(c, s);
            switch (type) {
                case kTypeDauPack16:
                case kTypeShort:
                    data.append(be16(static_cast<qint16>(std::lround(v))));
                    break;
                case kTypeInt:
                    data.append(be32(static_cast<qint32>(std::lround(v))));
                    break;
                case kTypeFloat:
                    data.append(beFloat(static_cast<float>(v)));
                    break;
                default:
                    data.append(beDouble(v));
                    break;
            }
        }
    }
    return data;
}

qint64 FiffTestWriter::dataBuffer(qint32 type, const Eigen::MatrixXd& values) {
    return tag(300, type, encodeSamples(type, values));
}

qint64 FiffTestWriter::dataSkip(qint32 nbuffers) {
    return intTag(301, nbuffers);
}

qint64 FiffTestWriter::firstSample(qint32 sample) {
    return intTag(208, sample);
}

void FiffTestWriter::badChannels(const QByteArray& list) {
    startBlock(359);
    stringTag(3507, list);
    endBlock(359);
}

QByteArray FiffTestWriter::finish(Directory mode) {
    if (mode == Directory::None) {
        return m_bytes;
    }
    const auto at = static_cast<qint32>(pos());
    const auto count = static_cast<qint32>(m_entries.size()) + 2;
    QByteArray data;
    auto add = [&data](const DirEntry& e) {
        data.append(be32(e.kind)).append(be32(e.type)).append(be32(e.size)).append(be32(e.pos));
    };
    for (const DirEntry& e : m_entries) {
        add(e);
    }
    add({kDirKind, kTypeDirEntry, count * 16, at});
    add({});
    if (m_dirPointerPos >= 0) {
        putBe32(m_bytes, m_dirPointerPos + 16, at);
    }
    QByteArray out = m_bytes;
    out.append(be32(kDirKind))
        .append(be32(kTypeDirEntry))
        .append(be32(count * 16))
        .append(be32(-1));
    out.append(data);
    return out;
}

int RawFile::indexOf(qint32 kind, int nth) const {
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == kind && nth-- == 0) {
            return i;
        }
    }
    return -1;
}

qint64 RawFile::posOf(qint32 kind, int nth) const {
    const int i = indexOf(kind, nth);
    return i < 0 ? -1 : entries[i].pos;
}

RawFile buildRawRecording(const RawRecording& rec) {
    FiffTestWriter w;
    w.startBlock(100);
    w.startBlock(101);
    const qint32 nchan = rec.nchan.value_or(static_cast<qint32>(rec.channels.size()));
    if (!rec.omitNchan) {
        if (rec.nchanAsFloat) {
            w.floatTag(200, static_cast<float>(nchan));
        } else {
            w.intTag(200, nchan);
        }
    }
    if (!rec.omitSfreq) {
        w.floatTag(201, rec.sfreq);
    }
    if (rec.linefreq) {
        w.floatTag(235, *rec.linefreq);
    }
    if (rec.highpass) {
        w.floatTag(223, *rec.highpass);
    }
    if (rec.lowpass) {
        w.floatTag(219, *rec.lowpass);
    }
    for (const ChannelSpec& ch : rec.channels) {
        w.channel(ch);
    }
    if (rec.bads) {
        w.badChannels(*rec.bads);
    }
    w.endBlock(101);
    w.startBlock(rec.blockKind);
    if (rec.firstSample) {
        w.firstSample(*rec.firstSample);
    }
    if (rec.initialSkip) {
        w.dataSkip(*rec.initialSkip);
    }
    for (const RawItem& item : rec.items) {
        if (item.isSkip) {
            w.dataSkip(item.nbuffers);
        } else {
            w.dataBuffer(item.type, item.values);
        }
    }
    w.endBlock(rec.blockKind);
    w.endBlock(100);
    RawFile file;
    file.entries = w.entries();
    file.bytes = w.finish(rec.directory);
    return file;
}

ChannelSpec makeChannel(const QString& name, qint32 kind, qint32 unit, float range, float cal) {
    ChannelSpec ch;
    ch.name = name;
    ch.kind = kind;
    ch.unit = unit;
    ch.range = range;
    ch.cal = cal;
    return ch;
}

Eigen::MatrixXd rampValues(int nchan, int nsamp, int offset) {
    Eigen::MatrixXd v(nchan, nsamp);
    for (int c = 0; c < nchan; ++c) {
        for (int j = 0; j < nsamp; ++j) {
            v(c, j) = ((c % 2) != 0 ? -1.0 : 1.0) * ((c + 1) * 1000 + j + offset);
        }
    }
    return v;
}

}  // namespace fifftest
