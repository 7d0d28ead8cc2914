#include "fiff_dump.h"

#include <Eigen/Core>
#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <QtGlobal>
#include <charconv>
#include <optional>

#include "fiff_raw_data.h"

namespace fiff_dump {

namespace {

using FIFFLIB::FiffRawData;

struct Options {
    std::string file;
    std::optional<std::string> dataOut;
    bool help = false;
};

// Sends the reader's Qt messages to err while it is alive and keeps the last warning or worse:
// that names the reason a file was refused. The tool is single-threaded, so one active
// instance behind a static pointer is enough.
class MessageLogToStream {
public:
    explicit MessageLogToStream(std::ostream& err) : err_(err) {
        active_ = this;
        previous_ = qInstallMessageHandler(&MessageLogToStream::handle);
    }
    ~MessageLogToStream() {
        qInstallMessageHandler(previous_);
        active_ = nullptr;
    }
    MessageLogToStream(const MessageLogToStream&) = delete;
    MessageLogToStream& operator=(const MessageLogToStream&) = delete;

    const std::string& lastProblem() const { return lastProblem_; }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message) {
        // The reader's texts carry their own line ends and leading tabs.
        const std::string line = message.trimmed().toStdString();
        active_->err_ << line << '\n' << std::flush;
        if (type != QtDebugMsg && type != QtInfoMsg && !line.empty()) {
            active_->lastProblem_ = line;
        }
    }

    static inline MessageLogToStream* active_ = nullptr;
    std::ostream& err_;
    std::string lastProblem_;
    QtMessageHandler previous_ = nullptr;
};

// Empty error: options parsed.
std::string parseOptions(const std::vector<std::string>& args, Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--data") {
            if (i + 1 >= args.size()) {
                return "--data needs a file name";
            }
            options.dataOut = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else if (!options.file.empty()) {
            return "more than one recording given";
        } else {
            options.file = arg;
        }
    }
    if (options.file.empty() && !options.help) {
        return "no recording given";
    }
    return {};
}

// Shortest text that reads back as the same float (1000 -> "1000", 1000.5 -> "1000.5").
std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string joined(const QStringList& names) {
    return names.join(QLatin1Char(',')).toStdString();
}

// Rows one after the other, each as little-endian doubles; empty error on success.
std::string writeRows(const Eigen::MatrixXd& data, const std::string& path) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString().toStdString();
    }
    QByteArray row(static_cast<qsizetype>(data.cols() * sizeof(double)), '\0');
    for (Eigen::Index r = 0; r < data.rows(); ++r) {
        const Eigen::RowVectorXd values = data.row(r);  // contiguous copy of a column-major row
        qToLittleEndian<double>(values.data(), values.size(), row.data());
        if (file.write(row) != row.size()) {
            return file.errorString().toStdString();
        }
    }
    if (!file.commit()) {
        return file.errorString().toStdString();
    }
    return {};
}

}  // namespace

std::string usage() {
    return "usage: fiff-dump FILE [--data OUT]";
}

int runFiffDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (const std::string error = parseOptions(args, options); !error.empty()) {
        err << "fiff-dump: " << error << '\n' << usage() << std::endl;
        return 2;
    }
    if (options.help) {
        out << usage() << std::endl;
        return 0;
    }
    const std::string cannotRead = "fiff-dump: cannot read " + options.file + ": ";
    const QString path = QString::fromStdString(options.file);

    // The reader reports a file it cannot open only through the message log; asking the file
    // first gives the system's reason (missing, a directory, no permission).
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            err << cannotRead << probe.errorString().toStdString() << std::endl;
            return 1;
        }
    }

    MessageLogToStream log(err);
    QFile file(path);
    const FiffRawData raw(file);
    if (raw.isEmpty() || raw.info.isEmpty()) {
        const std::string reason = log.lastProblem().empty()
                                       ? std::string("not a raw recording the reader accepts")
                                       : log.lastProblem();
        err << cannotRead << reason << std::endl;
        return 1;
    }
    const Eigen::RowVectorXi picks =
        raw.info.pick_types(true, true, true, QStringList(), raw.info.bads);

    if (options.dataOut) {
        // An empty selection means "all channels" to the reader; no picks means no rows here.
        Eigen::MatrixXd data(0, 0);
        if (picks.size() > 0) {
            Eigen::MatrixXd times;
            if (!raw.read_raw_segment(data, times, raw.first_samp, raw.last_samp, picks)) {
                err << cannotRead << "reading samples " << raw.first_samp << " ... "
                    << raw.last_samp << " failed" << std::endl;
                return 1;
            }
        }
        if (const std::string error = writeRows(data, *options.dataOut); !error.empty()) {
            err << "fiff-dump: cannot write " << *options.dataOut << ": " << error << std::endl;
            return 1;
        }
    }

    QStringList picked;
    for (const int index : picks) {
        picked << raw.info.ch_names.value(index);
    }
    out << "sfreq: " << floatText(raw.info.sfreq) << '\n'
        << "first: " << raw.first_samp << '\n'
        << "last: " << raw.last_samp << '\n'
        << "channels: " << raw.info.nchan << '\n'
        << "bads: " << joined(raw.info.bads) << '\n'
        << "picks: " << joined(picked) << std::endl;
    return 0;
}

}  // namespace fiff_dump
