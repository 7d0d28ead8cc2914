#include "fiff_info_base.h"

#include <QSet>
#include <vector>

namespace FIFFLIB {

Eigen::RowVectorXi FiffInfoBase::pick_channels(const QStringList& ch_names,
                                               const QStringList& include,
                                               const QStringList& exclude) {
    const QSet<QString> wanted(include.cbegin(), include.cend());
    const QSet<QString> unwanted(exclude.cbegin(), exclude.cend());
    QSet<QString> taken;
    std::vector<int> picks;
    for (qsizetype i = 0; i < ch_names.size(); ++i) {
        const QString& name = ch_names[i];
        if ((include.isEmpty() || wanted.contains(name)) && !unwanted.contains(name) &&
            !taken.contains(name)) {
            taken.insert(name);
            picks.push_back(static_cast<int>(i));
        }
    }
    Eigen::RowVectorXi sel(static_cast<Eigen::Index>(picks.size()));
    for (std::size_t k = 0; k < picks.size(); ++k) {
        sel[static_cast<Eigen::Index>(k)] = picks[k];
    }
    return sel;
}

Eigen::RowVectorXi FiffInfoBase::pick_types(bool meg, bool eeg, bool stim,
                                            const QStringList& include,
                                            const QStringList& exclude) const {
    return pick_types(meg ? QStringLiteral("all") : QString(), eeg, stim, include, exclude);
}

Eigen::RowVectorXi FiffInfoBase::pick_types(const QString& meg, bool eeg, bool stim,
                                            const QStringList& include,
                                            const QStringList& exclude) const {
    QStringList wanted;
    for (const FiffChInfo& ch : chs) {
        bool pick = false;
        if (ch.kind == FIFF::FIFFV_MEG_CH || ch.kind == FIFF::FIFFV_REF_MEG_CH) {
            pick = meg == QLatin1String("all") ||
                   (meg == QLatin1String("grad") && ch.unit == FIFF::FIFF_UNIT_T_M) ||
                   (meg == QLatin1String("mag") && ch.unit == FIFF::FIFF_UNIT_T);
        } else if (ch.kind == FIFF::FIFFV_EEG_CH) {
            pick = eeg;
        } else if (ch.kind == FIFF::FIFFV_STIM_CH) {
            pick = stim;
        }
        if (pick) {
            wanted.append(ch.ch_name);
        }
    }
    wanted += include;
    if (wanted.isEmpty()) {
        return {};
    }
    return pick_channels(ch_names, wanted, exclude);
}

void FiffInfoBase::clear() {
    filename.clear();
    bads.clear();
    nchan = -1;
    chs.clear();
    ch_names.clear();
}

}  // namespace FIFFLIB
