// The error type of the database layer and the errors raised on behalf of components.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>

namespace db {

/// Every failure the database layer reports. what() is UTF-8 text meant for the
/// operator; `gdsCode` and `sqlState` let callers recognise expected cases by code.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString& message, long gdsCode = 0, QString sqlState = {})
        : std::runtime_error(message.toStdString()), m_gdsCode(gdsCode),
          m_sqlState(std::move(sqlState))
    {}

    QString message() const { return QString::fromUtf8(what()); }
    long gdsCode() const { return m_gdsCode; }
    const QString& sqlState() const { return m_sqlState; }

private:
    long m_gdsCode;
    QString m_sqlState;
};

/// An error raised on behalf of a named component: its text reads "<name>: <message>".
class ComponentError : public Error
{
public:
    ComponentError(const QString& componentName, const QString& message)
        : Error(QStringLiteral("%1: %2").arg(componentName, message))
    {}
};

} // namespace db
