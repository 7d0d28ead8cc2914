#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <exception>
#include <ostream>

// A shader that does not compile or a program that does not link. The messages, oldest first,
// each with the name of the operation that raised it (possibly empty), are reached through
// msgStack and writeMsgStackToStream; what() is not overridden.
class OpenGLException : public std::exception {
public:
    explicit OpenGLException(const QString& message);
    OpenGLException(const QString& message, const QString& location);
    // The inner stack, followed by the new message.
    OpenGLException(const OpenGLException& inner, const QString& message);
    OpenGLException(const OpenGLException& inner, const QString& message, const QString& location);

    // One line per line of every message: "[k] " + (location + " : " if any) + text.
    void writeMsgStackToStream(std::ostream& out) const;

    QList<QPair<QString, QString>> msgStack;  // (message, location)
};
