#pragma once
// The channel part of the measurement information and the selection of channels.
#include <Eigen/Core>
#include <QList>
#include <QString>
#include <QStringList>

#include "fiff_ch_info.h"
#include "fiff_constants.h"

namespace FIFFLIB {

class FiffInfoBase {
public:
    virtual ~FiffInfoBase() = default;

    // Indices i, in order, with (include empty or names[i] in include), names[i] not in
    // exclude and names[i] not taken before. Exact, case-sensitive comparisons.
    static Eigen::RowVectorXi pick_channels(const QStringList& ch_names,
                                            const QStringList& include = QStringList(),
                                            const QStringList& exclude = QStringList());

    // MEG (kinds 1 and 301), EEG (2) and stimulus (3) channels, then include, minus exclude.
    Eigen::RowVectorXi pick_types(bool meg, bool eeg = false, bool stim = false,
                                  const QStringList& include = QStringList(),
                                  const QStringList& exclude = QStringList()) const;
    // meg: "all", "grad" (unit 201 only) or "mag" (unit 112 only); anything else picks no MEG.
    Eigen::RowVectorXi pick_types(const QString& meg, bool eeg = false, bool stim = false,
                                  const QStringList& include = QStringList(),
                                  const QStringList& exclude = QStringList()) const;

    virtual void clear();
    bool isEmpty() const { return nchan <= 0; }

    QString filename;
    QStringList bads;
    fiff_int_t nchan = -1;
    QList<FiffChInfo> chs;
    QStringList ch_names;
};

}  // namespace FIFFLIB
