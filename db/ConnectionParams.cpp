// The ordered "name=value" list that every connection holds and hands to the driver.
#include "db/ConnectionParams.h"

namespace db {

namespace {

// Only the text before the first "=" is the name, so a value may itself contain "=".
// Entries without "=" are free text and must never be mistaken for a parameter.
bool entryHasName(const QString& entry, const QString& name)
{
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    return QStringView(entry).left(eq).compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

qsizetype ConnectionParams::indexOf(const QString& name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (entryHasName(m_entries.at(i), name))
            return i;
    }
    return -1;
}

QString ConnectionParams::value(const QString& name) const
{
    const qsizetype i = indexOf(name);
    if (i < 0)
        return {};
    const QString& entry = m_entries.at(i);
    return entry.mid(entry.indexOf(QLatin1Char('=')) + 1);
}

bool ConnectionParams::contains(const QString& name) const
{
    return indexOf(name) >= 0;
}

void ConnectionParams::setValue(const QString& name, const QString& value)
{
    const qsizetype i = indexOf(name);
    if (value.isEmpty()) {
        // Only the first match goes: the driver only ever sees the first one anyway,
        // and a later duplicate may be deliberate.
        if (i >= 0)
            m_entries.removeAt(i);
        return;
    }
    if (i < 0) {
        m_entries.append(name + QLatin1Char('=') + value);
        return;
    }
    // Keep the spelling already in the list so a profile's own casing survives edits.
    QString& entry = m_entries[i];
    entry.truncate(entry.indexOf(QLatin1Char('=')) + 1);
    entry.append(value);
}

} // namespace db
