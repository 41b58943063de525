// The in-memory list and the grid's edits on it.
#include "db/SimpleDataSet.h"

#include "db/Attachment.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTime>

namespace db {

SimpleDataSet::SimpleDataSet(const QString& componentName, ConnectionSettings connectionSettings,
                             QObject* parent)
    : QObject(parent),
      m_connection(QStringLiteral("Connection"), std::move(connectionSettings), this)
{
    setObjectName(componentName);
}

SimpleDataSet::~SimpleDataSet() = default;

void SimpleDataSet::setCommandText(const QString& sql)
{
    if (sql == m_commandText)
        return;
    close();
    m_commandText = sql;
}

void SimpleDataSet::requireActive() const
{
    if (!active())
        throw ComponentError(
            objectName(), QStringLiteral("データセットは閉じているため, この操作は実行できません"));
}

void SimpleDataSet::setActive(bool on)
{
    if (on == active())
        return;
    if (on) {
        readRows();
        return;
    }
    emit aboutToReset();
    m_records = RecordSet();
    m_rows.clear();
    m_changedValues.clear();
    m_pending.reset();
    m_changedRows = m_deletedRows = 0;
    m_current = -1;
    m_state = DataSetState::Inactive;
    emit reset();
    emit stateChanged();
    emit currentRowChanged(m_current);
}

void SimpleDataSet::readRows()
{
    try {
        Attachment& attachment = m_connection.attachment();
        Transaction transaction(attachment, m_connection.transactionOptions());
        RecordSet records = fetchAll(attachment, transaction, m_commandText);
        if (!m_noneTextCharSet.isEmpty())
            records.setNoneTextCodec(TextCodec(m_noneTextCharSet));
        transaction.commit();
        replaceRows(std::move(records), active() ? m_current : 0);
    } catch (const Error& e) {
        m_connection.noteFailure(e.gdsCode());
        throw;
    }
}

void SimpleDataSet::replaceRows(RecordSet records, qsizetype current)
{
    emit aboutToReset();
    m_records = std::move(records);
    m_rows.clear();
    m_rows.reserve(std::size_t(m_records.rowCount()));
    for (qsizetype i = 0; i < m_records.rowCount(); ++i)
        m_rows.push_back(RowRef{std::uint32_t(i), RowState::Unchanged});
    m_nextInsertedId = std::uint32_t(m_records.rowCount());
    m_changedValues.clear();
    m_pending.reset();
    m_changedRows = m_deletedRows = 0;
    m_current = m_rows.empty() ? -1 : std::clamp<qsizetype>(current, 0, recordCount() - 1);
    m_state = DataSetState::Browse;
    emit reset();
    emit stateChanged();
    emit currentRowChanged(m_current);
}

void SimpleDataSet::refresh()
{
    requireActive();
    if (m_pending)
        m_pending->changed ? post() : cancel();
    if (hasChanges())
        throw ComponentError(
            objectName(),
            QStringLiteral("最新のデータを取得する前に変更データを更新しなければなりません。"));
    readRows();
}

void SimpleDataSet::setState(DataSetState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void SimpleDataSet::setCurrent(qsizetype row)
{
    if (row == m_current)
        return;
    m_current = row;
    emit currentRowChanged(m_current);
}

void SimpleDataSet::moveTo(qsizetype row)
{
    if (!active() || m_rows.empty() || m_removing)
        return;
    row = std::clamp<qsizetype>(row, 0, recordCount() - 1);
    if (row == m_current)
        return;
    if (m_pending) {
        // An untouched new row vanishes when left, which moves the rows below it up.
        const bool dropsRowAbove =
            m_state == DataSetState::Insert && !m_pending->changed && m_current < row;
        post();
        if (dropsRowAbove)
            --row;
    }
    setCurrent(row);
}

QVariant SimpleDataSet::value(qsizetype row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= int(columns().size()))
        return {};
    if (m_pending && row == m_current)
        return m_pending->values[std::size_t(column)];
    const RowRef& ref = m_rows[std::size_t(row)];
    if (ref.state != RowState::Unchanged)
        return m_changedValues.at(ref.id)[std::size_t(column)];
    return m_records.value(ref.id, column);
}

QVariant SimpleDataSet::valuePrefix(qsizetype row, int column, qsizetype maxLength,
                                    bool* whole) const
{
    *whole = true;
    if (row < 0 || row >= recordCount() || column < 0 || column >= int(columns().size()))
        return {};
    const RowRef& ref = m_rows[std::size_t(row)];
    if (ref.state == RowState::Unchanged && !(m_pending && row == m_current))
        return m_records.valuePrefix(ref.id, column, maxLength, whole);
    QVariant held = value(row, column);
    if (held.typeId() != QMetaType::QString || held.toString().size() <= maxLength)
        return held;
    *whole = false;
    const QString text = held.toString();
    const qsizetype cut =
        maxLength > 0 && text.at(maxLength - 1).isHighSurrogate() ? maxLength - 1 : maxLength;
    return text.left(cut);
}

std::vector<QVariant> SimpleDataSet::rowValues(qsizetype row) const
{
    std::vector<QVariant> values(columns().size());
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = value(row, int(i));
    return values;
}

std::optional<QVariant> SimpleDataSet::convert(int column, const QVariant& value) const
{
    const Column& info = columns()[std::size_t(column)];
    const QString text = value.toString().trimmed();
    const bool isText = info.kind == ColumnKind::Text || info.kind == ColumnKind::TextBlob;
    if (value.isNull() || (!isText && text.isEmpty()))
        return QVariant();
    bool ok = false;
    switch (info.kind) {
    case ColumnKind::Text:
    case ColumnKind::TextBlob:
        return value.toString();
    case ColumnKind::Integer:
        if (info.scale == 0) {
            const qint64 number = text.toLongLong(&ok);
            return ok ? std::optional<QVariant>(number) : std::nullopt;
        } else {
            static const QRegularExpression decimal(QStringLiteral("^[-+]?\\d+(\\.\\d+)?$"));
            return decimal.match(text).hasMatch() ? std::optional<QVariant>(text) : std::nullopt;
        }
    case ColumnKind::Float:
    case ColumnKind::Double: {
        const double number = text.toDouble(&ok);
        return ok ? std::optional<QVariant>(number) : std::nullopt;
    }
    case ColumnKind::Date: {
        const QDate date = value.typeId() == QMetaType::QDate
                               ? value.toDate()
                               : QDate::fromString(text, Qt::ISODate);
        return date.isValid() ? std::optional<QVariant>(date) : std::nullopt;
    }
    case ColumnKind::Time: {
        const QTime time = value.typeId() == QMetaType::QTime
                               ? value.toTime()
                               : QTime::fromString(text, Qt::ISODate);
        return time.isValid() ? std::optional<QVariant>(time) : std::nullopt;
    }
    case ColumnKind::Timestamp: {
        const QDateTime stamp = value.typeId() == QMetaType::QDateTime
                                    ? value.toDateTime()
                                    : QDateTime::fromString(text, Qt::ISODate);
        return stamp.isValid() ? std::optional<QVariant>(stamp) : std::nullopt;
    }
    case ColumnKind::Boolean:
        if (value.typeId() == QMetaType::Bool)
            return value;
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || text == u'1')
            return QVariant(true);
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || text == u'0')
            return QVariant(false);
        return std::nullopt;
    case ColumnKind::Binary:
    case ColumnKind::BinaryBlob:
    case ColumnKind::Other:
        break;
    }
    return std::nullopt;
}

bool SimpleDataSet::setValue(qsizetype row, int column, const QVariant& value)
{
    requireActive();
    if (row < 0 || row >= recordCount() || column < 0 || column >= int(columns().size()))
        return false;
    const std::optional<QVariant> converted = convert(column, value);
    if (!converted)
        return false;
    moveTo(row);
    if (!m_pending) {
        m_pending = PendingEdit{rowValues(m_current), false};
        setState(DataSetState::Edit);
    }
    m_pending->values[std::size_t(column)] = *converted;
    m_pending->changed = true;
    emit rowChanged(m_current);
    return true;
}

void SimpleDataSet::insertAt(qsizetype row)
{
    const std::uint32_t id = m_nextInsertedId++;
    emit rowAboutToBeInserted(row);
    m_rows.insert(m_rows.begin() + row, RowRef{id, RowState::Inserted});
    m_current = row;
    m_pending = PendingEdit{std::vector<QVariant>(columns().size()), false};
    m_state = DataSetState::Insert;
    emit rowInserted(row);
    emit stateChanged();
    emit currentRowChanged(m_current);
}

void SimpleDataSet::insert()
{
    requireActive();
    post();
    insertAt(std::max<qsizetype>(m_current, 0));
}

void SimpleDataSet::append()
{
    requireActive();
    post();
    insertAt(recordCount());
}

void SimpleDataSet::post()
{
    if (!m_pending)
        return;
    if (!m_pending->changed) {
        cancel();
        return;
    }
    RowRef& ref = m_rows[std::size_t(m_current)];
    if (ref.state == RowState::Unchanged) {
        ref.state = RowState::Modified;
        ++m_changedRows;
    } else if (m_state == DataSetState::Insert) {
        ++m_changedRows;
    }
    m_changedValues[ref.id] = std::move(m_pending->values);
    m_pending.reset();
    setState(DataSetState::Browse);
    emit rowChanged(m_current);
}

void SimpleDataSet::cancel()
{
    if (!m_pending)
        return;
    if (m_state == DataSetState::Insert) {
        removeRow(m_current);
        return;
    }
    m_pending.reset();
    setState(DataSetState::Browse);
    emit rowChanged(m_current);
}

void SimpleDataSet::deleteCurrent()
{
    requireActive();
    if (m_rows.empty())
        return;
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    removeRow(m_current);
}

void SimpleDataSet::removeRow(qsizetype row)
{
    // Whoever hears "about to be removed" may still read the row, pending edit and
    // all; whoever hears "removed" must find no trace of it. So everything about the
    // row goes in one step between the two. Meanwhile the view moves its own current
    // row off the doomed one; the list decides where it ends up afterwards.
    const DataSetState stateBefore = m_state;
    {
        const QScopedValueRollback removing(m_removing, true);
        emit rowAboutToBeRemoved(row);
        const RowRef ref = m_rows[std::size_t(row)];
        const bool pendingInsert = row == m_current && m_state == DataSetState::Insert;
        if (ref.state != RowState::Unchanged && !pendingInsert)
            --m_changedRows;
        if (ref.state != RowState::Inserted)
            ++m_deletedRows;
        m_changedValues.erase(ref.id);
        if (row == m_current) {
            m_pending.reset();
            m_state = DataSetState::Browse;
        }
        m_rows.erase(m_rows.begin() + row);
        m_current = m_rows.empty() ? -1 : std::min(row, recordCount() - 1);
        emit rowRemoved(row);
    }
    if (m_state != stateBefore)
        emit stateChanged();
    emit currentRowChanged(m_current);
}

} // namespace db
