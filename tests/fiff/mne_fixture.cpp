#include "mne_fixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <cmath>
#include <sstream>

namespace mne_fixture {

namespace {

const QString DATA_DIR = QStringLiteral(FIFF_TEST_DATA_DIR);

QStringList strings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        list << item.toString();
    }
    return list;
}

}  // namespace

std::vector<std::string> names() {
    return {"short", "int", "single", "double", "skips"};
}

QString load(const QString& name, MneFixture& fixture) {
    QFile file(DATA_DIR + QStringLiteral("/mne_%1.json").arg(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return file.fileName() + QStringLiteral(": ") + file.errorString();
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        return file.fileName() + QStringLiteral(": ") + parseError.errorString();
    }
    const QJsonObject json = document.object();
    fixture.name = json[QStringLiteral("name")].toString();
    fixture.format = json[QStringLiteral("format")].toString();
    fixture.fifPath = DATA_DIR + QLatin1Char('/') + json[QStringLiteral("file")].toString();
    fixture.sfreq = json[QStringLiteral("sfreq")].toDouble();
    fixture.firstSamp = json[QStringLiteral("first_samp")].toInt();
    fixture.lastSamp = json[QStringLiteral("last_samp")].toInt();
    fixture.nchan = json[QStringLiteral("nchan")].toInt();
    fixture.chNames = strings(json[QStringLiteral("ch_names")]);
    fixture.kinds.clear();
    for (const QJsonValue& kind : json[QStringLiteral("kinds")].toArray()) {
        fixture.kinds << kind.toInt();
    }
    fixture.bads = strings(json[QStringLiteral("bads")]);
    fixture.picks = strings(json[QStringLiteral("picks")]);
    const QJsonValue lineFreq = json[QStringLiteral("line_freq")];
    fixture.lineFreq =
        lineFreq.isDouble() ? std::optional<double>(lineFreq.toDouble()) : std::nullopt;
    const QJsonValue data = json[QStringLiteral("data")];
    fixture.dataPath = data.isString() ? DATA_DIR + QLatin1Char('/') + data.toString() : QString();
    if (fixture.name != name || fixture.chNames.size() != fixture.nchan ||
        fixture.kinds.size() != fixture.nchan) {
        return file.fileName() + QStringLiteral(": inconsistent fixture description");
    }
    return {};
}

QString loadData(const MneFixture& fixture, Eigen::MatrixXd& data) {
    QFile file(fixture.dataPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return fixture.dataPath + QStringLiteral(": ") + file.errorString();
    }
    const QByteArray bytes = file.readAll();
    const qsizetype rows = fixture.picks.size();
    const qsizetype cols = fixture.lastSamp - fixture.firstSamp + 1;
    if (bytes.size() != rows * cols * qsizetype{sizeof(double)}) {
        return fixture.dataPath + QStringLiteral(": %1 bytes, not %2 x %3 doubles")
                                      .arg(bytes.size())
                                      .arg(rows)
                                      .arg(cols);
    }
    // Row after row on file; Eigen's default storage is column-major.
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> rowMajor(rows, cols);
    qFromLittleEndian<double>(bytes.constData(), rows * cols, rowMajor.data());
    data = rowMajor;
    return {};
}

std::string compareRows(const Eigen::MatrixXd& actual, const Eigen::MatrixXd& expected,
                        const QStringList& rowNames, int firstSample) {
    std::ostringstream report;
    if (actual.rows() != expected.rows() || actual.cols() != expected.cols()) {
        report << "shape " << actual.rows() << " x " << actual.cols() << ", expected "
               << expected.rows() << " x " << expected.cols();
        return report.str();
    }
    report.precision(17);
    for (Eigen::Index r = 0; r < expected.rows(); ++r) {
        const double tolerance = 1e-6 * expected.row(r).cwiseAbs().maxCoeff();
        Eigen::Index worst = 0;
        const double deviation = (actual.row(r) - expected.row(r)).cwiseAbs().maxCoeff(&worst);
        if (!(deviation <= tolerance)) {  // also catches NaN
            report << "channel " << rowNames.value(static_cast<int>(r)).toStdString() << " (row "
                   << r << "), sample " << firstSample + worst << ": read " << actual(r, worst)
                   << ", MNE " << expected(r, worst) << "; ";
        }
    }
    return report.str();
}

}  // namespace mne_fixture
