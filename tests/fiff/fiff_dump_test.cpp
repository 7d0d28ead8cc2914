// fiff-dump on recordings written by MNE-Python: the printed lines and the --data rows agree
// with MNE; unreadable files and bad usage give their status and message.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <sstream>
#include <string>
#include <vector>

#include "fiff_dump.h"
#include "mne_fixture.h"

namespace {

using mne_fixture::MneFixture;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    testing::internal::CaptureStdout();  // the reader's own diagnostics
    ToolRun run;
    run.status = fiff_dump::runFiffDump(args, out, err);
    (void)testing::internal::GetCapturedStdout();
    run.out = out.str();
    run.err = err.str();
    return run;
}

MneFixture fixtureOf(const std::string& name) {
    MneFixture fixture;
    const QString error = mne_fixture::load(QString::fromStdString(name), fixture);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    return fixture;
}

std::string expectedLines(const MneFixture& fixture) {
    return "sfreq: " + QString::number(fixture.sfreq).toStdString() + "\n" +
           "first: " + std::to_string(fixture.firstSamp) + "\n" +
           "last: " + std::to_string(fixture.lastSamp) + "\n" +
           "channels: " + std::to_string(fixture.nchan) + "\n" +
           "bads: " + fixture.bads.join(',').toStdString() + "\n" +
           "picks: " + fixture.picks.join(',').toStdString() + "\n";
}

TEST(FiffDump, PrintsAndWritesWhatMneReads) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const std::string& name : mne_fixture::names()) {
        SCOPED_TRACE(name);
        const MneFixture fixture = fixtureOf(name);
        MneFixture written = fixture;
        written.dataPath = dir.filePath(QString::fromStdString(name + ".f64"));
        const ToolRun run =
            runTool({fixture.fifPath.toStdString(), "--data", written.dataPath.toStdString()});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, expectedLines(fixture));

        Eigen::MatrixXd expected;
        Eigen::MatrixXd actual;
        ASSERT_TRUE(mne_fixture::loadData(fixture, expected).isEmpty());
        const QString error = mne_fixture::loadData(written, actual);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(mne_fixture::compareRows(actual, expected, fixture.picks, fixture.firstSamp), "");
    }
}

TEST(FiffDump, UnreadableFilesGiveStatusOneAndTheReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const MneFixture shortFixture = fixtureOf("short");

    const QString notFiff = dir.filePath(QStringLiteral("notes.fif"));
    QFile text(notFiff);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just some text, long enough to be read as a tag header\n");
    text.close();

    // Cut inside the channel records: fewer records than channels.
    const QString truncated = dir.filePath(QStringLiteral("truncated.fif"));
    QFile source(shortFixture.fifPath);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QFile cut(truncated);
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(source.read(1000));
    cut.close();

    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string prefix;  // "fiff-dump: cannot read FILE: " and the like
        std::string reason;  // how the reason starts; empty: any reason
    };
    const std::string missing = dir.filePath(QStringLiteral("missing.fif")).toStdString();
    const std::string directory = dir.path().toStdString();
    const std::string good = shortFixture.fifPath.toStdString();
    const std::string unwritable =
        dir.filePath(QStringLiteral("no/such/dir/out.f64")).toStdString();
    const auto cannotRead = [](const std::string& file) {
        return "fiff-dump: cannot read " + file + ": ";
    };
    std::vector<Case> cases = {
        {"missing", {missing}, cannotRead(missing), "No such file or directory"},
        {"a directory", {directory}, cannotRead(directory), ""},
        {"not FIFF", {notFiff.toStdString()}, cannotRead(notFiff.toStdString()), ""},
        {"truncated", {truncated.toStdString()}, cannotRead(truncated.toStdString()), ""},
        {"data not writable",
         {good, "--data", unwritable},
         "fiff-dump: cannot write " + unwritable + ": ",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        // The reader's message log comes first; the tool's verdict is the last line.
        const std::size_t start = run.err.rfind("fiff-dump: ");
        ASSERT_NE(start, std::string::npos) << run.err;
        std::string verdict = run.err.substr(start);
        ASSERT_TRUE(verdict.ends_with('\n')) << run.err;
        verdict.pop_back();
        ASSERT_TRUE(verdict.starts_with(c.prefix)) << run.err;
        const std::string reason = verdict.substr(c.prefix.size());
        EXPECT_FALSE(reason.empty()) << run.err;
        EXPECT_TRUE(reason.starts_with(c.reason)) << run.err;
    }
}

TEST(FiffDump, BadUsageGivesStatusTwoAndTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--data"}, {"a.fif", "--data"}, {"a.fif", "b.fif"}, {"--bogus", "a.fif"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ToolRun run = runTool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(fiff_dump::usage()), std::string::npos) << run.err;
    }
}

// The program itself: standard output carries the result lines only, even where the reader
// prints diagnostics of its own to standard output (as it does when a set-up fails).
TEST(FiffDumpProgram, StandardOutputHoldsOnlyTheResult) {
    const MneFixture fixture = fixtureOf("short");
    struct Case {
        QString file;
        int status;
        std::string out;
        std::string errStart;
    };
    const QString notFiff = QStringLiteral(FIFF_TEST_DATA_DIR "/mne_short.json");
    const std::vector<Case> cases = {
        {fixture.fifPath, 0, expectedLines(fixture), ""},
        {notFiff, 1, "", "fiff-dump: cannot read " + notFiff.toStdString() + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        QProcess program;
        program.start(QStringLiteral(FIFF_DUMP_PROGRAM), {c.file});
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), c.status);
        const std::string err = program.readAllStandardError().toStdString();
        EXPECT_EQ(program.readAllStandardOutput().toStdString(), c.out) << err;
        EXPECT_NE(err.find(c.errStart), std::string::npos) << err;
    }
}

}  // namespace
