// The statement component on one SqlConnection.
#include "db/SqlQuery.h"

#include "db/Attachment.h"
#include "db/SqlConnection.h"
#include "db/SqlText.h"

#include <cstring>

namespace db {
namespace {

/// The most bytes a VARCHAR value can hold. The length travels in 16 bits, so a longer
/// value would arrive cut to its length modulo 65536: another name altogether.
constexpr qsizetype kMaxTextBytes = 32765;

/// The input message of a prepared statement, every parameter sent as text so that
/// the server converts it to the column's type exactly as it compares values.
struct InputMessage
{
    fb::Ref<Firebird::IMessageMetadata> metadata;
    std::vector<unsigned char> buffer;
};

InputMessage bindParameters(Firebird::IMessageMetadata* described, const QStringList& names,
                            QueryParams& params, const TextCodec& codec,
                            const QString& componentName)
{
    InputMessage message;
    fb::Status status;
    const unsigned count = described->getCount(&status);
    if (count == 0)
        return message;

    std::vector<std::optional<QByteArray>> values;
    values.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const QString name = i < unsigned(names.size()) ? names[int(i)] : QString();
        const QueryParam* param = params.find(name);
        if (!param)
            throw ComponentError(componentName,
                                 QStringLiteral("パラメータ '%1' が見つかりません").arg(name));
        if (!param->value) {
            values.push_back(std::nullopt);
            continue;
        }
        // A value the server would receive other than as given (a character turned
        // into "?", a length cut short) could match a different row: refused instead.
        if (!codec.canEncode(*param->value))
            throw ComponentError(componentName,
                                 QStringLiteral("パラメータ '%1' の値に接続の文字セットで"
                                                "表せない文字があります")
                                     .arg(name));
        QByteArray encoded = codec.encode(*param->value);
        if (encoded.size() > kMaxTextBytes)
            throw ComponentError(componentName,
                                 QStringLiteral("パラメータ '%1' の値が長すぎます (%2 バイト, "
                                                "最大 %3 バイト)")
                                     .arg(name)
                                     .arg(encoded.size())
                                     .arg(kMaxTextBytes));
        values.push_back(std::move(encoded));
    }

    fb::Ref<Firebird::IMetadataBuilder> builder(described->getBuilder(&status));
    for (unsigned i = 0; i < count; ++i) {
        const auto length = values[i] ? std::max<qsizetype>(values[i]->size(), 1) : 1;
        builder->setType(&status, i, SQL_VARYING + 1);
        builder->setLength(&status, i, static_cast<unsigned>(length));
    }
    message.metadata.reset(builder->getMetadata(&status));
    message.buffer.assign(message.metadata->getMessageLength(&status), 0);

    for (unsigned i = 0; i < count; ++i) {
        unsigned char* base = message.buffer.data();
        auto* nullFlag =
            reinterpret_cast<short*>(base + message.metadata->getNullOffset(&status, i));
        if (!values[i]) {
            *nullFlag = -1;
            continue;
        }
        *nullFlag = 0;
        unsigned char* field = base + message.metadata->getOffset(&status, i);
        const auto size = static_cast<unsigned short>(values[i]->size());
        std::memcpy(field, &size, sizeof size);
        std::memcpy(field + sizeof size, values[i]->constData(), size);
    }
    return message;
}

} // namespace

QueryParam& QueryParams::createParam(FieldType type, const QString& name, ParamDirection direction)
{
    m_items.push_back(QueryParam{name, type, direction, std::nullopt});
    return m_items.back();
}

QueryParam* QueryParams::find(const QString& name)
{
    for (QueryParam& param : m_items) {
        if (param.name.compare(name, Qt::CaseInsensitive) == 0)
            return &param;
    }
    return nullptr;
}

/// What an open result holds on to, released in reverse order of making.
struct SqlQuery::Cursor
{
    explicit Cursor(Transaction started) : transaction(std::move(started)) {}
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    Transaction transaction;
    fb::Ref<Firebird::IStatement> statement;
    fb::Ref<Firebird::IMessageMetadata> outputMetadata;
    fb::Ref<Firebird::IResultSet> resultSet;
    std::vector<unsigned char> row;
    bool hasRow = false;

    ~Cursor()
    {
        if (!resultSet)
            return;
        try {
            const auto watch = transaction.watch();
            fb::guarded([&] {
                fb::Status status;
                resultSet->close(&status);
                (void)resultSet.release();
            });
        } catch (const Error&) {
            // The transaction's rollback below ends the cursor on the server too.
        }
    }
};

SqlQuery::SqlQuery(const QString& componentName, SqlConnection* connection, QObject* parent)
    : QObject(parent), m_connection(connection)
{
    setObjectName(componentName);
    connect(m_connection, &SqlConnection::closing, this, &SqlQuery::close);
}

SqlQuery::~SqlQuery() = default;

void SqlQuery::clearSql()
{
    m_sql.clear();
    textChanged();
}

void SqlQuery::addSqlLine(const QString& line)
{
    m_sql.append(line);
    textChanged();
}

void SqlQuery::setSql(const QStringList& lines)
{
    m_sql = lines;
    textChanged();
}

void SqlQuery::textChanged()
{
    close();
    m_params.clear();
    for (const QString& name : toPositional(m_sql.join(u'\n')).parameterNames) {
        if (!m_params.find(name))
            m_params.createParam(FieldType::Unknown, name, ParamDirection::Input);
    }
}

QueryParam& SqlQuery::paramByName(const QString& name)
{
    if (QueryParam* param = m_params.find(name))
        return *param;
    throw ComponentError(objectName(),
                         QStringLiteral("パラメータ '%1' が見つかりません").arg(name));
}

bool SqlQuery::active() const
{
    return m_cursor != nullptr;
}

bool SqlQuery::isEmpty() const
{
    return !m_cursor || !m_cursor->hasRow;
}

void SqlQuery::close()
{
    if (!m_cursor)
        return;
    // A read-only lookup has nothing to keep; ending it quietly frees its transaction.
    std::unique_ptr<Cursor> ending = std::move(m_cursor);
    try {
        const auto watch = ending->transaction.watch();
        ending->resultSet.reset();
        ending->transaction.commit();
    } catch (const Error&) {
        // The destructor rolls back instead; a close never fails for the caller.
    }
}

void SqlQuery::noteFailure(long gdsCode)
{
    m_connection->noteFailure(gdsCode);
}

void SqlQuery::open()
{
    close();
    const PositionalSql text = toPositional(m_sql.join(u'\n'));
    try {
        Attachment& attachment = m_connection->attachment();
        auto cursor =
            std::make_unique<Cursor>(Transaction(attachment, m_connection->transactionOptions()));
        const auto watch = attachment.watch();
        fb::guarded([&] {
            fb::Status status;
            const QByteArray sql = attachment.codec().encode(text.text);
            cursor->statement.reset(attachment.get()->prepare(
                &status, cursor->transaction.get(), static_cast<unsigned>(sql.size()),
                sql.constData(), static_cast<unsigned>(attachment.dialect()),
                Firebird::IStatement::PREPARE_PREFETCH_METADATA));
            fb::Ref<Firebird::IMessageMetadata> described(
                cursor->statement->getInputMetadata(&status));
            InputMessage input = bindParameters(described.get(), text.parameterNames, m_params,
                                                attachment.codec(), objectName());
            cursor->outputMetadata.reset(cursor->statement->getOutputMetadata(&status));
            cursor->resultSet.reset(cursor->statement->openCursor(
                &status, cursor->transaction.get(), input.metadata.get(),
                input.buffer.empty() ? nullptr : input.buffer.data(), cursor->outputMetadata.get(),
                0));
            cursor->row.assign(cursor->outputMetadata->getMessageLength(&status), 0);
            cursor->hasRow = cursor->resultSet->fetchNext(&status, cursor->row.data()) ==
                             Firebird::IStatus::RESULT_OK;
        });
        m_cursor = std::move(cursor);
    } catch (const Error& e) {
        noteFailure(e.gdsCode());
        throw;
    }
}

void SqlQuery::execSql()
{
    close();
    const PositionalSql text = toPositional(m_sql.join(u'\n'));
    try {
        Attachment& attachment = m_connection->attachment();
        Transaction transaction(attachment, m_connection->transactionOptions());
        // An update waits for a row someone else holds, as long as the profile allows.
        const auto watch = attachment.watch(Watchdog::Wait::MayWaitLock);
        fb::guarded([&] {
            fb::Status status;
            const QByteArray sql = attachment.codec().encode(text.text);
            const auto dialect = static_cast<unsigned>(attachment.dialect());
            fb::Ref<Firebird::IStatement> statement(attachment.get()->prepare(
                &status, transaction.get(), static_cast<unsigned>(sql.size()), sql.constData(),
                dialect, 0));
            fb::Ref<Firebird::IMessageMetadata> described(statement->getInputMetadata(&status));
            InputMessage input = bindParameters(described.get(), text.parameterNames, m_params,
                                                attachment.codec(), objectName());
            statement->execute(&status, transaction.get(), input.metadata.get(),
                               input.buffer.empty() ? nullptr : input.buffer.data(), nullptr,
                               nullptr);
        });
        transaction.commit();
    } catch (const Error& e) {
        noteFailure(e.gdsCode());
        throw;
    }
}

} // namespace db
