// Finds the ":name" parameter markers of a statement text.
#include "db/SqlText.h"

namespace db {
namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

/// Index just past the quoted run that starts at `from` (quote doubled inside = kept).
qsizetype skipQuoted(const QString& sql, qsizetype from)
{
    const QChar quote = sql[from];
    qsizetype i = from + 1;
    while (i < sql.size()) {
        if (sql[i] == quote) {
            if (i + 1 < sql.size() && sql[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return i;
}

} // namespace

PositionalSql toPositional(const QString& sql)
{
    PositionalSql result;
    result.text.reserve(sql.size());
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql[i];
        qsizetype end = i + 1;
        if (c == u'\'' || c == u'"') {
            end = skipQuoted(sql, i);
        } else if (c == u'-' && sql.mid(i, 2) == QLatin1String("--")) {
            end = sql.indexOf(u'\n', i);
            end = end < 0 ? sql.size() : end;
        } else if (c == u'/' && sql.mid(i, 2) == QLatin1String("/*")) {
            end = sql.indexOf(QLatin1String("*/"), i + 2);
            end = end < 0 ? sql.size() : end + 2;
        } else if (c == u':' && i + 1 < sql.size() && isNameChar(sql[i + 1])) {
            end = i + 1;
            while (end < sql.size() && isNameChar(sql[end]))
                ++end;
            result.parameterNames.append(sql.mid(i + 1, end - i - 1));
            result.text.append(u'?');
            i = end;
            continue;
        }
        result.text.append(QStringView(sql).mid(i, end - i));
        i = end;
    }
    return result;
}

} // namespace db
