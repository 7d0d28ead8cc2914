// libFuzzer target over the FIFF reader: every input is opened, its measurement information
// read, raw reading set up and a segment read, all from memory.
#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

#include "fiff_exercise.h"

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fiff_exercise::exerciseFiffReader(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
