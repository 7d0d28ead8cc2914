#pragma once
// Recordings written by MNE-Python (tests/data/fiff, made by make_fixtures.py) and what MNE
// read back from them: the independent side of the FIFF cross-checks.
#include <Eigen/Core>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

namespace mne_fixture {

struct MneFixture {
    QString name;     // short, int, single, double (as the format) and skips
    QString format;   // MNE's storage format: short, int, single or double
    QString fifPath;  // the recording
    double sfreq = 0.0;
    int firstSamp = 0;
    int lastSamp = 0;
    int nchan = 0;
    QStringList chNames;  // blanks removed
    QList<int> kinds;
    QStringList bads;   // blanks removed
    QStringList picks;  // MEG, reference, EEG and stimulus channels minus bads, channel order
    std::optional<double> lineFreq;
    QString dataPath;  // picks x samples, little-endian doubles
};

// The names of all fixtures.
std::vector<std::string> names();

// Reads mne_<name>.json; empty error on success.
QString load(const QString& name, MneFixture& fixture);

// MNE's calibrated data of the picks (rows) over all samples; empty error on success.
QString loadData(const MneFixture& fixture, Eigen::MatrixXd& data);

// Compares a reader's rows with MNE's, each row to 1e-6 of its largest magnitude (an all-zero
// row must stay exactly zero). Empty when they agree; otherwise the worst row, its channel,
// sample number and both values. Column c of both is sample firstSample + c.
std::string compareRows(const Eigen::MatrixXd& actual, const Eigen::MatrixXd& expected,
                        const QStringList& rowNames, int firstSample);

}  // namespace mne_fixture
