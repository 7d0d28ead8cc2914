#include "style_sheet.h"

#include <QFile>

#include "test_qt_resources.h"

QString loadStyleSheet() {
    initTestQtResources();
    QFile file(QString::fromLatin1(STYLE_SHEET_PATH));
    if (!file.open(QFile::ReadOnly)) {
        return {};
    }
    return QString::fromLatin1(file.readAll());
}
