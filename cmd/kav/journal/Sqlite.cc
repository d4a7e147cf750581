#include "cmd/kav/journal/Sqlite.h"

namespace orv::journal {

Failure failureOf(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return Failure::Full;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Failure::ReadOnly;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Failure::Locked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Failure::Corrupt;
    default:
        return Failure::Other;
    }
}

void fail(sqlite3* db, int code, std::string_view what)
{
    std::string text(what);
    text += ": ";
    text += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw JournalError(failureOf(code), text);
}

void execute(sqlite3* db, const char* sql)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(db, rc, sql);
}

Statement::Statement(sqlite3* db, const char* sql, bool persistent)
    : m_db(db)
{
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v3(db, sql, -1, persistent ? SQLITE_PREPARE_PERSISTENT : 0, &statement, nullptr);
    m_statement.reset(statement);
    if (rc != SQLITE_OK)
        fail(db, rc, sql);
}

Statement& Statement::bind(int index, int64_t value)
{
    sqlite3_bind_int64(m_statement.get(), index, value);
    return *this;
}

Statement& Statement::bind(int index, const std::string& value)
{
    sqlite3_bind_text(m_statement.get(), index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind(int index, const std::vector<char>& value)
{
    sqlite3_bind_blob(m_statement.get(), index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    sqlite3_bind_null(m_statement.get(), index);
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value)
{
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const char* sql = sqlite3_sql(m_statement.get());
    sqlite3_reset(m_statement.get());
    fail(m_db, rc, sql ? sql : "statement");
}

void Statement::run()
{
    step();
    reset();
}

void Statement::reset()
{
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement.get(), column);
}

std::string Statement::text(int column) const
{
    const auto* text = sqlite3_column_text(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)) : std::string();
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL)
        return std::nullopt;
    return text(column);
}

std::optional<int64_t> Statement::optionalInteger(int column) const
{
    if (sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL)
        return std::nullopt;
    return integer(column);
}

std::vector<char> Statement::blob(int column) const
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(m_statement.get(), column));
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    return data ? std::vector<char>(data, data + size) : std::vector<char>();
}

Transaction::Transaction(sqlite3* db)
    : m_db(db)
{
    execute(db, "BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    execute(m_db, "COMMIT");
    m_open = false;
}

}
