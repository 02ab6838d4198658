// The few SQLite calls the catalog's files share: a statement that finalizes
// itself, bound parameters, and errors that name the catalog's file.
#pragma once

#include <string>

#include "catalog/catalog.h"

struct sqlite3_stmt;

struct SqlStatement {
    sqlite3_stmt* stmt = nullptr;
    SqlStatement() = default;
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;
    SqlStatement(SqlStatement&& other) noexcept;
    SqlStatement& operator=(SqlStatement&& other) noexcept;
    ~SqlStatement();
};

// False with "PATH: the database's message".
bool SqlFailed(const Catalog& catalog, std::string& error);

// Runs statements without parameters or results.
bool ExecSql(Catalog& catalog, const char* sql, std::string& error);

bool PrepareSql(Catalog& catalog, const char* sql, SqlStatement& statement, std::string& error);

// Binds parameter `index` (from 1); false when the database refuses it.
bool BindText(SqlStatement& statement, int index, const std::string& value);
bool BindInt(SqlStatement& statement, int index, long long value);
bool BindReal(SqlStatement& statement, int index, double value);
bool BindNull(SqlStatement& statement, int index);

// Steps a statement that returns no rows to its end, then resets it and
// clears its parameters for the next use.
bool StepDone(Catalog& catalog, SqlStatement& statement, std::string& error);

// A text column's bytes as they were stored (any bytes, zeros among them).
std::string ColumnText(sqlite3_stmt* stmt, int column);
