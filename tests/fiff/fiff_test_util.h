#pragma once
// Helpers shared by the FIFF reader tests: a Qt message log recorder and in-memory or on-disk
// devices holding a file built by the test writer.
#include <gtest/gtest.h>

#include <Eigen/Core>
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

namespace fifftest {

// Records every Qt log message while it exists; the previous handler is restored after.
class MessageLog {
public:
    struct Message {
        QtMsgType type;
        QString text;
    };

    MessageLog() : m_previous(qInstallMessageHandler(&MessageLog::record)) { s_active = this; }
    ~MessageLog() {
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // True when a message of this level reads text (a trailing line end is not compared).
    bool has(QtMsgType type, const QString& text) const {
        for (const Message& m : messages) {
            if (m.type == type && trimmed(m.text) == trimmed(text)) {
                return true;
            }
        }
        return false;
    }
    QString all() const {
        QString out;
        for (const Message& m : messages) {
            out += QString::number(m.type) + ": " + m.text + "\n";
        }
        return out;
    }

    QList<Message> messages;

private:
    static QString trimmed(QString s) {
        while (s.endsWith('\n')) {
            s.chop(1);
        }
        return s;
    }
    static void record(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (s_active != nullptr) {
            s_active->messages.append({type, text});
        }
    }

    QtMessageHandler m_previous;
    inline static MessageLog* s_active = nullptr;
};

// Equal shapes and elements; a shape mismatch fails instead of tripping an Eigen assertion.
template <class A, class B>
testing::AssertionResult sameMatrix(const Eigen::MatrixBase<A>& actual,
                                    const Eigen::MatrixBase<B>& expected) {
    using Scalar = typename A::Scalar;
    const Eigen::Matrix<Scalar, Eigen::Dynamic, Eigen::Dynamic> a = actual;
    const Eigen::Matrix<Scalar, Eigen::Dynamic, Eigen::Dynamic> b =
        expected.template cast<Scalar>();
    if (a.rows() != b.rows() || a.cols() != b.cols()) {
        return testing::AssertionFailure() << "shape " << a.rows() << " x " << a.cols()
                                           << ", expected " << b.rows() << " x " << b.cols();
    }
    for (Eigen::Index c = 0; c < a.cols(); ++c) {
        for (Eigen::Index r = 0; r < a.rows(); ++r) {
            if (a(r, c) != b(r, c)) {
                return testing::AssertionFailure()
                       << "(" << r << ", " << c << ") is " << a(r, c) << ", expected " << b(r, c);
            }
        }
    }
    return testing::AssertionSuccess();
}

// A closed device over bytes: a QBuffer, or a QFile in a temporary directory.
enum class DeviceKind { Memory, File };

inline const char* deviceName(DeviceKind kind) {
    return kind == DeviceKind::Memory ? "memory" : "file";
}

class TestDevice {
public:
    TestDevice(DeviceKind kind, const QByteArray& bytes) {
        if (kind == DeviceKind::Memory) {
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData(bytes);
            m_device = std::move(buffer);
            return;
        }
        m_dir = std::make_unique<QTemporaryDir>();
        const QString path = m_dir->filePath("test.fif");
        QFile out(path);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(bytes);
        }
        m_device = std::make_unique<QFile>(path);
    }

    QIODevice& device() { return *m_device; }
    QIODevice* operator->() { return m_device.get(); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QIODevice> m_device;
};

}  // namespace fifftest
