// Owners of an SQLite connection and of its prepared statements, and the
// one error the journal's store throws when the library says no.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>

namespace orv::journal {

// Why the store could not do what it was asked, as far as the daemon cares:
// each kind is a different platform line and a different way back.
enum class Failure { Full, ReadOnly, Locked, Corrupt, Newer, Other };

class JournalError : public std::runtime_error {
public:
    JournalError(Failure failure, const std::string& text)
        : std::runtime_error(text)
        , m_failure(failure)
    {
    }
    Failure failure() const { return m_failure; }

private:
    Failure m_failure;
};

// The failure an SQLite result code stands for.
Failure failureOf(int code);

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

// Throws a JournalError for `code` with the connection's message.
[[noreturn]] void fail(sqlite3* db, int code, std::string_view what);

// Runs statements that return no rows.
void execute(sqlite3* db, const char* sql);

// One prepared statement: bind by position from 1, step through the rows,
// read the columns by position from 0. Reset before each use. A persistent
// one is kept by its owner and used again and again.
class Statement {
public:
    Statement(sqlite3* db, const char* sql, bool persistent = false);

    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& value);
    Statement& bind(int index, const std::vector<char>& value);
    Statement& bindNull(int index);
    Statement& bind(int index, const std::optional<std::string>& value);

    // True while there is a row to read.
    bool step();
    // Steps once for a statement that returns no rows, then resets.
    void run();
    void reset();

    int64_t integer(int column) const;
    std::string text(int column) const;
    std::optional<std::string> optionalText(int column) const;
    std::optional<int64_t> optionalInteger(int column) const;
    std::vector<char> blob(int column) const;

private:
    sqlite3* m_db;
    std::unique_ptr<sqlite3_stmt, FinalizeStatement> m_statement;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    sqlite3* m_db;
    bool m_open = true;
};

}
