#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

// One prepared statement with its values bound in order; throws ChannelStoreError on failure.
class SqliteStatement {
public:
    SqliteStatement(sqlite3 *database, std::string_view sql);
    ~SqliteStatement() { sqlite3_finalize(statement_); }
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    SqliteStatement &bind(std::string_view text);
    SqliteStatement &bind(std::int64_t number);
    SqliteStatement &bindBlob(std::string_view bytes);
    // True while a row is there to read.
    bool step();
    // A text or blob column's bytes.
    std::string bytes(int column) const;

private:
    sqlite3 *database_;
    sqlite3_stmt *statement_ = nullptr;
    int bound_ = 0;
};

} // namespace orvane
