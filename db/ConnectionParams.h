// The ordered "name=value" list that every connection holds and hands to the driver.
#pragma once

#include <QString>
#include <QStringList>

namespace db {

/// An ordered list of text entries, each "name=value" or a bare text without "=".
/// Names are compared without regard to letter case; the first matching entry wins.
class ConnectionParams
{
public:
    ConnectionParams() = default;
    explicit ConnectionParams(QStringList entries) : m_entries(std::move(entries)) {}

    /// Value of the first entry whose name equals `name` (case-insensitive), or an
    /// empty text when there is none. Bare entries name no parameter.
    QString value(const QString& name) const;

    /// Whether an entry of that name exists (an entry "X=" exists with an empty value).
    bool contains(const QString& name) const;

    /// Replaces the value of the first entry of that name, or appends "name=value".
    /// An empty value removes that first entry instead.
    void setValue(const QString& name, const QString& value);

    void clear() { m_entries.clear(); }
    void append(const QString& entry) { m_entries.append(entry); }
    const QStringList& entries() const { return m_entries; }
    bool operator==(const ConnectionParams&) const = default;

private:
    qsizetype indexOf(const QString& name) const;

    QStringList m_entries;
};

} // namespace db
