// Fuzz target for db::ConnectionParams. The input is a small script, one operation a line:
//   s<name>\t<value>   setValue        r<name>   setValue(name, "")   a<entry>   append
//   c                  clear           v<name>   value / contains only
// (text as UTF-8; anything else is skipped). After every step the list must agree with
// what the header promises: names compare without letter case, the first match wins, bare
// entries name nothing, an empty value removes the first match, and nothing else moves.
#include "FuzzCheck.h"
#include "db/ConnectionParams.h"

#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Deep copies, so that a write through shared data behind a copy cannot go unnoticed.
using Snapshot = std::vector<std::u16string>;

Snapshot snapshot(const QStringList& entries)
{
    Snapshot out;
    for (const QString& entry : entries)
        out.emplace_back(reinterpret_cast<const char16_t*>(entry.utf16()), size_t(entry.size()));
    return out;
}

QString text(const std::u16string& s)
{
    return QString(reinterpret_cast<const QChar*>(s.data()), qsizetype(s.size()));
}

QString show(const Snapshot& entries)
{
    QStringList shown;
    for (const auto& entry : entries) {
        QString escaped;
        for (const char16_t c : entry) {
            if (c < 0x20 || c > 0x7E)
                escaped += QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0'));
            else
                escaped += QChar(c);
        }
        shown << QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    return QLatin1Char('[') + shown.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString showName(const QString& name)
{
    return show({snapshot({name}).front()});
}

// The entries that name `name`, in list order, read straight from the entry texts.
std::vector<size_t> matches(const QStringList& entries, const QString& name)
{
    std::vector<size_t> found;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString& entry = entries[i];
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(entry).first(eq).compare(name, Qt::CaseInsensitive) == 0)
            found.push_back(size_t(i));
    }
    return found;
}

std::vector<size_t> matches(const Snapshot& entries, const QString& name)
{
    QStringList texts;
    for (const auto& entry : entries)
        texts << text(entry);
    return matches(texts, name);
}

QString valueAt(const Snapshot& entries, size_t i)
{
    const QString entry = text(entries[i]);
    return entry.sliced(entry.indexOf(QLatin1Char('=')) + 1);
}

class Run
{
public:
    void step(QChar op, const QString& rest)
    {
        const Snapshot before = snapshot(m_params.entries());
        const db::ConnectionParams copy = m_params;

        switch (op.unicode()) {
        case u's': {
            const qsizetype tab = rest.indexOf(QLatin1Char('\t'));
            const QString name = tab < 0 ? rest : rest.first(tab);
            const QString value = tab < 0 ? QString() : rest.sliced(tab + 1);
            remember(name);
            m_params.setValue(name, value);
            checkSet(before, name, value);
            break;
        }
        case u'r':
            remember(rest);
            m_params.setValue(rest, QString());
            checkSet(before, rest, QString());
            break;
        case u'a': {
            m_params.append(rest);
            Snapshot expected = before;
            expected.push_back(snapshot({rest}).front());
            checkEntries(expected, "append adds exactly the entry at the end");
            break;
        }
        case u'c':
            m_params.clear();
            checkEntries({}, "clear empties the list");
            break;
        case u'v':
            remember(rest);
            checkEntries(before, "reading changes nothing");
            break;
        default:
            return;
        }

        // A copy taken before the step keeps the old entries, and compares equal to the
        // list exactly when the entries are the same.
        TW_FUZZ_CHECK(snapshot(copy.entries()) == before,
                      show(before) + QStringLiteral(" became ") + show(snapshot(copy.entries())));
        TW_FUZZ_CHECK((copy == m_params) == (before == snapshot(m_params.entries())),
                      show(before) + QStringLiteral(" / ") + show(snapshot(m_params.entries())));
        checkLookups();
    }

private:
    void remember(const QString& name)
    {
        // Enough to catch mix-ups between names without making each step slow.
        if (m_names.size() < 16 && !m_names.contains(name))
            m_names.append(name);
    }

    void checkEntries(const Snapshot& expected, const char* rule)
    {
        const Snapshot now = snapshot(m_params.entries());
        TW_FUZZ_CHECK(now == expected, QString::fromUtf8(rule) + QStringLiteral(": expected ") +
                                           show(expected) + QStringLiteral(", got ") + show(now));
    }

    void checkSet(const Snapshot& before, const QString& name, const QString& value)
    {
        const std::vector<size_t> hits = matches(before, name);
        Snapshot expected = before;
        if (value.isEmpty()) {
            if (!hits.empty())
                expected.erase(expected.begin() + qsizetype(hits.front()));
        } else if (hits.empty()) {
            expected.push_back(snapshot({name + QLatin1Char('=') + value}).front());
        } else {
            // The entry keeps its own spelling of the name; only the value changes.
            const QString old = text(before[hits.front()]);
            expected[hits.front()] =
                snapshot({old.first(old.indexOf(QLatin1Char('=')) + 1) + value}).front();
        }
        checkEntries(expected, "setValue touches the first match only");

        if (value.isEmpty()) {
            // A later duplicate, if any, is what the name reads as now.
            const bool second = hits.size() >= 2;
            TW_FUZZ_CHECK(m_params.contains(name) == second, showName(name));
            TW_FUZZ_CHECK(m_params.value(name) == (second ? valueAt(before, hits[1]) : QString()),
                          showName(name) + QStringLiteral(" reads ") + m_params.value(name));
        } else if (!name.contains(QLatin1Char('='))) {
            // A name with "=" in it cannot be found again: its entry's name ends at the "=".
            TW_FUZZ_CHECK(m_params.contains(name), showName(name));
            TW_FUZZ_CHECK(m_params.value(name) == value,
                          showName(name) + QStringLiteral(" reads ") + m_params.value(name));
        }
    }

    // Every name seen so far, every entry's name and every bare entry read as promised.
    void checkLookups()
    {
        const Snapshot now = snapshot(m_params.entries());
        QStringList texts;
        for (const auto& entry : now)
            texts << text(entry);
        QStringList probes = m_names;
        for (const QString& entry : std::as_const(texts)) {
            const qsizetype eq = entry.indexOf(QLatin1Char('='));
            probes << (eq < 0 ? entry : entry.first(eq));
        }
        for (const QString& name : std::as_const(probes)) {
            for (const QString& probe : {name, name.toUpper(), name.toLower()}) {
                const std::vector<size_t> hits = matches(texts, probe);
                const QString expected = hits.empty() ? QString() : valueAt(now, hits.front());
                TW_FUZZ_CHECK(m_params.contains(probe) == !hits.empty(),
                              showName(probe) + QStringLiteral(" in ") + show(now));
                TW_FUZZ_CHECK(m_params.value(probe) == expected,
                              showName(probe) + QStringLiteral(" in ") + show(now));
            }
        }
    }

    db::ConnectionParams m_params;
    QStringList m_names;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString script = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    Run run;
    int steps = 0;
    for (const QStringView line : QStringView(script).split(QLatin1Char('\n'))) {
        // Long scripts add nothing but time per input.
        if (line.isEmpty() || ++steps > 64)
            continue;
        run.step(line.front(), line.sliced(1).toString());
    }
    return 0;
}
