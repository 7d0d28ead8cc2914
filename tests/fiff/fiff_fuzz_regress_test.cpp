// Replays the inputs the fuzzer once found faults with (tests/data/fiff-fuzz): each goes
// through every reading step and must be handled without a crash or a sanitizer report.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include "fiff_exercise.h"

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

TEST(FiffFuzzRegression, SavedInputsAreHandledSafely) {
    const QDir dir(QStringLiteral(FIFF_TEST_DATA_DIR "/../fiff-fuzz"));
    const auto files = dir.entryInfoList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        GTEST_SKIP() << "no saved fuzzer inputs";
    }
    const auto previous = qInstallMessageHandler(quiet);
    testing::internal::CaptureStdout();
    for (const auto& info : files) {
        SCOPED_TRACE(info.fileName().toStdString());
        QFile file(info.absoluteFilePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        fiff_exercise::exerciseFiffReader(file.readAll());
    }
    (void)testing::internal::GetCapturedStdout();
    qInstallMessageHandler(previous);
}

}  // namespace
