#pragma once
// Diagnostic lines of the reader on standard output.
#include <QByteArray>
#include <QString>
#include <iostream>

namespace FIFFLIB {

// Writes the line and one line end in a single write and flushes it, so lines from several
// threads never interleave mid-line.
inline void writeOutLine(const QString& line) {
    QByteArray bytes = line.toUtf8();
    if (!bytes.endsWith('\n')) {
        bytes.append('\n');
    }
    std::cout.write(bytes.constData(), bytes.size());
    std::cout.flush();
}

}  // namespace FIFFLIB
