#include "relay/sqlite_statement.h"

#include "relay/channel_store.h"

namespace orvane {
namespace {

[[noreturn]] void fail(sqlite3 *database)
{
    throw ChannelStoreError(std::string("Unable to use the channel database: ") + sqlite3_errmsg(database));
}

} // namespace

SqliteStatement::SqliteStatement(sqlite3 *database, std::string_view sql) : database_(database)
{
    if (sqlite3_prepare_v2(database, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK)
        fail(database);
}

SqliteStatement &SqliteStatement::bind(std::string_view text)
{
    if (sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        fail(database_);
    return *this;
}

SqliteStatement &SqliteStatement::bindBlob(std::string_view bytes)
{
    if (sqlite3_bind_blob(statement_, ++bound_, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        fail(database_);
    return *this;
}

SqliteStatement &SqliteStatement::bind(std::int64_t number)
{
    if (sqlite3_bind_int64(statement_, ++bound_, number) != SQLITE_OK)
        fail(database_);
    return *this;
}

bool SqliteStatement::step()
{
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        fail(database_);
    return false;
}

std::string SqliteStatement::bytes(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(statement_, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

} // namespace orvane
