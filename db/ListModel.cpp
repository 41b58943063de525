// The grid's table model over the in-memory list.
#include "db/ListModel.h"

#include "db/DataSource.h"
#include "db/SimpleDataSet.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace db {
namespace {

QString displayText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return QStringLiteral("(BLOB)");
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return value.toTime().toString(Qt::ISODate);
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return value.toString();
    }
}

} // namespace

ListModel::ListModel(DataSource* source, std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_source(source), m_dataSet(source->dataSet()),
      m_columns(std::move(columns))
{
    mapFields();
    connect(m_dataSet, &SimpleDataSet::aboutToReset, this, [this] { beginResetModel(); });
    connect(m_dataSet, &SimpleDataSet::reset, this, [this] {
        mapFields();
        m_indicatorRow = m_dataSet->currentRow();
        endResetModel();
    });
    connect(m_dataSet, &SimpleDataSet::rowAboutToBeInserted, this,
            [this](qsizetype row) { beginInsertRows({}, int(row), int(row)); });
    connect(m_dataSet, &SimpleDataSet::rowInserted, this, [this] { endInsertRows(); });
    connect(m_dataSet, &SimpleDataSet::rowAboutToBeRemoved, this,
            [this](qsizetype row) { beginRemoveRows({}, int(row), int(row)); });
    connect(m_dataSet, &SimpleDataSet::rowRemoved, this, [this] { endRemoveRows(); });
    connect(m_dataSet, &SimpleDataSet::rowChanged, this, [this](qsizetype row) {
        emit dataChanged(index(int(row), 0), index(int(row), columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, int(row), int(row));
    });
    connect(m_dataSet, &SimpleDataSet::currentRowChanged, this, &ListModel::refreshIndicator);
    connect(m_dataSet, &SimpleDataSet::stateChanged, this,
            [this] { refreshIndicator(m_dataSet->currentRow()); });
}

void ListModel::mapFields()
{
    m_fieldOfColumn.clear();
    for (const GridColumn& column : m_columns)
        m_fieldOfColumn.push_back(m_dataSet->columnIndex(column.fieldName));
}

void ListModel::refreshIndicator(qsizetype current)
{
    const qsizetype previous = m_indicatorRow;
    m_indicatorRow = current;
    const int rows = rowCount();
    for (const qsizetype row : {previous, current}) {
        if (row >= 0 && row < rows)
            emit headerDataChanged(Qt::Vertical, int(row), int(row));
    }
}

bool ListModel::isCell(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.row() < rowCount() &&
           index.column() < columnCount();
}

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_dataSet->recordCount());
}

int ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

namespace {

/// Qt calls the model from its own frames, which an exception must never cross. The
/// list keeps itself readable at every notification, so this is a last line: the
/// cell shows nothing and the fault is reported where a developer looks.
template <class Read> auto readOrDefault(const char* what, Read&& read) noexcept
{
    try {
        return read();
    } catch (const std::exception& e) {
        qWarning("ListModel::%s: %s", what, e.what());
    }
    return decltype(read())();
}

} // namespace

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    return readOrDefault("data", [&] { return readData(index, role); });
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return readOrDefault("headerData", [&] { return readHeader(section, orientation, role); });
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const
{
    return readOrDefault("flags", [&] { return readFlags(index); });
}

QVariant ListModel::readData(const QModelIndex& index, int role) const
{
    if (!isCell(index))
        return {};
    const int field = m_fieldOfColumn[std::size_t(index.column())];
    if (field < 0)
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        bool whole = true;
        const QVariant value = m_dataSet->valuePrefix(index.row(), field, kShownLength, &whole);
        return whole ? displayText(value) : value.toString() + u'…';
    }
    case Qt::EditRole: {
        bool whole = true;
        const QVariant value = m_dataSet->valuePrefix(index.row(), field, kShownLength, &whole);
        return !whole || value.typeId() == QMetaType::QByteArray ? QVariant() : value;
    }
    case Qt::TextAlignmentRole: {
        const auto kind = m_dataSet->columns()[std::size_t(field)].kind;
        const bool numeric =
            kind == ColumnKind::Integer || kind == ColumnKind::Float || kind == ColumnKind::Double;
        return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
    }
    default:
        return {};
    }
}

QString ListModel::indicatorText(bool current, bool editing, bool inserting)
{
    if (!current)
        return {};
    if (inserting)
        return QStringLiteral("*");
    return editing ? QStringLiteral("I") : QStringLiteral("▶");
}

QVariant ListModel::readHeader(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount())
            return {};
        return m_columns[std::size_t(section)].title;
    }
    const DataSetState state = m_dataSet->state();
    return indicatorText(section == m_indicatorRow, state == DataSetState::Edit,
                         state == DataSetState::Insert);
}

Qt::ItemFlags ListModel::readFlags(const QModelIndex& index) const
{
    if (!isCell(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const int field = m_fieldOfColumn[std::size_t(index.column())];
    if (field >= 0 && m_source->autoEdit()) {
        const auto kind = m_dataSet->columns()[std::size_t(field)].kind;
        bool whole = true;
        if (kind == ColumnKind::Text || kind == ColumnKind::TextBlob)
            m_dataSet->valuePrefix(index.row(), field, kShownLength, &whole);
        if (whole && kind != ColumnKind::Binary && kind != ColumnKind::BinaryBlob &&
            kind != ColumnKind::Other)
            flags |= Qt::ItemIsEditable;
    }
    return flags;
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable) || !m_dataSet->active())
        return false;
    const int field = m_fieldOfColumn[std::size_t(index.column())];
    if (m_dataSet->value(index.row(), field) == value)
        return true; // leaving a cell unchanged must not mark its row as edited
    return m_dataSet->setValue(index.row(), field, value);
}

} // namespace db
