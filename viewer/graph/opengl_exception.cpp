#include "opengl_exception.h"

#include <QByteArray>
#include <QStringList>

OpenGLException::OpenGLException(const QString& message) : OpenGLException(message, QString()) {}

OpenGLException::OpenGLException(const QString& message, const QString& location) {
    msgStack.append(qMakePair(message, location));
}

OpenGLException::OpenGLException(const OpenGLException& inner, const QString& message)
    : OpenGLException(inner, message, QString()) {}

OpenGLException::OpenGLException(const OpenGLException& inner, const QString& message,
                                 const QString& location)
    : msgStack(inner.msgStack) {
    msgStack.append(qMakePair(message, location));
}

void OpenGLException::writeMsgStackToStream(std::ostream& out) const {
    for (qsizetype k = 0; k < msgStack.size(); ++k) {
        const auto& [message, location] = msgStack[k];
        QString prefix = QStringLiteral("[%1] ").arg(k);
        if (!location.isEmpty()) {
            prefix += location + QStringLiteral(" : ");
        }
        // Empty parts are kept, so a blank line or a trailing line feed in a compiler log
        // still shows up as a line of its own.
        for (const QString& part : message.split(QLatin1Char('\n'), Qt::KeepEmptyParts)) {
            const QByteArray line = (prefix + part + QLatin1Char('\n')).toUtf8();
            out.write(line.constData(), line.size());
        }
        out.flush();
    }
}
