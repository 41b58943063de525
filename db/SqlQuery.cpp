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

/// The parameter values of one run, in marker order, as the connection's bytes; null
/// where the value is unset. `unsendable` tells why a value cannot travel whole.
struct EncodedValues
{
    std::vector<std::optional<QByteArray>> values;
    QString unsendable;
};

EncodedValues encodeValues(const QStringList& names, QueryParams& params, const TextCodec& codec,
                           const QString& componentName)
{
    EncodedValues encoded;
    encoded.values.reserve(std::size_t(names.size()));
    for (const QString& name : names) {
        const QueryParam* param = params.find(name);
        if (!param)
            throw ComponentError(componentName,
                                 QStringLiteral("パラメータ '%1' が見つかりません").arg(name));
        if (!param->value) {
            encoded.values.push_back(std::nullopt);
            continue;
        }
        // A value the server would receive other than as given (a character turned
        // into "?", a length cut short) could match a different row: never sent.
        if (!codec.canEncode(*param->value)) {
            if (encoded.unsendable.isEmpty())
                encoded.unsendable = QStringLiteral("パラメータ '%1' の値に接続の文字セットで"
                                                    "表せない文字があります")
                                         .arg(name);
            encoded.values.push_back(std::nullopt);
            continue;
        }
        QByteArray bytes = codec.encode(*param->value);
        if (bytes.size() > kMaxTextBytes && encoded.unsendable.isEmpty())
            encoded.unsendable = QStringLiteral("パラメータ '%1' の値が長すぎます (%2 バイト, "
                                                "最大 %3 バイト)")
                                     .arg(name)
                                     .arg(bytes.size())
                                     .arg(kMaxTextBytes);
        encoded.values.push_back(std::move(bytes));
    }
    return encoded;
}

/// The input message of a prepared statement, every parameter sent as text of its own
/// length, so that the server converts it to the column's type exactly as it compares
/// values.
struct InputMessage
{
    fb::Ref<Firebird::IMessageMetadata> metadata;
    std::vector<unsigned char> buffer;
};

InputMessage buildMessage(Firebird::IMessageMetadata* described,
                          const std::vector<std::optional<QByteArray>>& values,
                          const QString& componentName)
{
    InputMessage message;
    fb::Status status;
    const unsigned count = described->getCount(&status);
    if (count == 0)
        return message;
    // Markers the text scanner did not see (a "?") have no value to bind.
    if (count != values.size())
        throw ComponentError(componentName, QStringLiteral("パラメータ '' が見つかりません"));

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
    return m_active;
}

bool SqlQuery::isEmpty() const
{
    return !m_active || !m_hasRow;
}

void SqlQuery::close()
{
    // The result was read whole when it opened; nothing on the server to end.
    m_active = false;
    m_hasRow = false;
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
        const EncodedValues encoded =
            encodeValues(text.parameterNames, m_params, attachment.codec(), objectName());
        if (!encoded.unsendable.isEmpty()) {
            // Nothing stored can equal it, and a substitute must never be sent instead.
            m_active = true;
            return;
        }
        Transaction transaction(attachment, m_connection->transactionOptions());
        bool hasRow = false;
        const auto watch = attachment.watch();
        fb::guarded([&] {
            fb::Status status;
            const QByteArray sql = attachment.codec().encode(text.text);
            fb::Ref<Firebird::IStatement> statement(attachment.get()->prepare(
                &status, transaction.get(), static_cast<unsigned>(sql.size()), sql.constData(),
                static_cast<unsigned>(attachment.dialect()),
                Firebird::IStatement::PREPARE_PREFETCH_METADATA));
            fb::Ref<Firebird::IMessageMetadata> described(statement->getInputMetadata(&status));
            InputMessage input = buildMessage(described.get(), encoded.values, objectName());
            fb::Ref<Firebird::IMessageMetadata> output(statement->getOutputMetadata(&status));
            std::vector<unsigned char> row(output->getMessageLength(&status), 0);
            try {
                fb::Ref<Firebird::IResultSet> cursor(statement->openCursor(
                    &status, transaction.get(), input.metadata.get(),
                    input.buffer.empty() ? nullptr : input.buffer.data(), output.get(), 0));
                hasRow = cursor->fetchNext(&status, row.data()) == Firebird::IStatus::RESULT_OK;
                cursor->close(&status); // releases the interface on success
                (void)cursor.release();
            } catch (const Firebird::FbException& e) {
                // A value longer than the column, beyond blanks the comparison ignores,
                // equals no stored text: the server says so by refusing to convert it.
                if (!input.metadata || !fb::hasCode(e, isc_string_truncation))
                    throw;
                hasRow = false;
            }
        });
        transaction.commit();
        m_active = true;
        m_hasRow = hasRow;
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
        const EncodedValues encoded =
            encodeValues(text.parameterNames, m_params, attachment.codec(), objectName());
        if (!encoded.unsendable.isEmpty())
            throw ComponentError(objectName(), encoded.unsendable);
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
            InputMessage input = buildMessage(described.get(), encoded.values, objectName());
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
