#include "catalog/catalog_sql.h"

#include <sqlite3.h>

#include <utility>

SqlStatement::SqlStatement(SqlStatement&& other) noexcept : stmt(std::exchange(other.stmt, nullptr)) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt);
        stmt = std::exchange(other.stmt, nullptr);
    }
    return *this;
}

SqlStatement::~SqlStatement() { sqlite3_finalize(stmt); }

bool SqlFailed(const Catalog& catalog, std::string& error) {
    error = catalog.path + ": " + (catalog.db != nullptr ? sqlite3_errmsg(catalog.db) : "the catalog is not open");
    return false;
}

bool ExecSql(Catalog& catalog, const char* sql, std::string& error) {
    if (sqlite3_exec(catalog.db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return SqlFailed(catalog, error);
    return true;
}

bool PrepareSql(Catalog& catalog, const char* sql, SqlStatement& statement, std::string& error) {
    sqlite3_finalize(statement.stmt);
    statement.stmt = nullptr;
    if (sqlite3_prepare_v2(catalog.db, sql, -1, &statement.stmt, nullptr) != SQLITE_OK) return SqlFailed(catalog, error);
    return true;
}

bool BindText(SqlStatement& statement, int index, const std::string& value) {
    return sqlite3_bind_text64(statement.stmt, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
           SQLITE_OK;
}

bool BindInt(SqlStatement& statement, int index, long long value) {
    return sqlite3_bind_int64(statement.stmt, index, value) == SQLITE_OK;
}

bool BindReal(SqlStatement& statement, int index, double value) {
    return sqlite3_bind_double(statement.stmt, index, value) == SQLITE_OK;
}

bool BindNull(SqlStatement& statement, int index) { return sqlite3_bind_null(statement.stmt, index) == SQLITE_OK; }

bool StepDone(Catalog& catalog, SqlStatement& statement, std::string& error) {
    int rc = sqlite3_step(statement.stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        SqlFailed(catalog, error);
        sqlite3_reset(statement.stmt);
        sqlite3_clear_bindings(statement.stmt);
        return false;
    }
    sqlite3_reset(statement.stmt);
    sqlite3_clear_bindings(statement.stmt);
    return true;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    if (text == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}
