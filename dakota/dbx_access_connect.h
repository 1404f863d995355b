#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "lib/base/DateTime.h"

namespace brenvo {

// The driver name under which an Access database file is opened.
inline constexpr const char* AccessDriverName = "Microsoft Access Driver (*.mdb)";

// Connection strings for DAKOTA's protocol: a database file opened with the
// Access driver, or a data source name. Neither sends a user name or password.
std::string AccessFileConnectionString(const std::string& path);
std::string AccessDsnConnectionString(const std::string& dsn);

// The diagnostic records of an ODBC handle, as the driver wrote them, joined
// with "; "; each ends with its SQLSTATE in brackets.
std::string OdbcDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// Thin owners of ODBC handles. Every failure throws Error carrying the
// driver's diagnostic text.
class OdbcEnvironment {
public:
    OdbcEnvironment();
    ~OdbcEnvironment();
    OdbcEnvironment(const OdbcEnvironment&) = delete;
    OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;
    SQLHENV Handle() const { return h_; }

private:
    SQLHENV h_ = SQL_NULL_HENV;
};

class OdbcConnection {
public:
    explicit OdbcConnection(OdbcEnvironment& env);
    ~OdbcConnection();   // disconnects (rolling back what was not committed)
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Connects without any prompt.
    void Connect(const std::string& connectionString);
    bool Connected() const { return connected_; }
    void Disconnect();
    // Runs a statement that returns no rows.
    void Execute(const std::string& sql);
    // Switches auto-commit; false when the driver refuses (no transactions).
    bool SetAutoCommit(bool on);
    void Commit();
    void Rollback();
    // The character that quotes identifiers ('"' when the driver names none).
    std::string IdentifierQuote();
    SQLHDBC Handle() const { return h_; }

private:
    SQLHDBC h_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

struct OdbcColumn {
    std::string Name;
    SQLSMALLINT SqlType = 0;
};

class OdbcStatement {
public:
    explicit OdbcStatement(OdbcConnection& conn);
    ~OdbcStatement();
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;

    void ExecDirect(const std::string& sql);
    void Prepare(const std::string& sql);
    // Parameters of a prepared statement, numbered from 1; the values are
    // kept here until the next Execute.
    void BindText(SQLUSMALLINT number, const std::string& value);
    void BindInt(SQLUSMALLINT number, int64_t value);
    void BindTimestamp(SQLUSMALLINT number, TDateTime value);
    void Execute();
    // Rows affected by the last INSERT, UPDATE or DELETE.
    int64_t RowCount();

    std::vector<OdbcColumn> Columns();
    bool Fetch();
    // A column of the current row as text (numbered from 1); nullopt for NULL.
    std::optional<std::string> GetText(SQLUSMALLINT column);
    void CloseCursor();
    SQLHSTMT Handle() const { return h_; }

private:
    struct Param {
        std::string text;
        int64_t number = 0;
        SQL_TIMESTAMP_STRUCT stamp{};
        SQLLEN indicator = 0;
    };
    void Check(SQLRETURN rc, const char* what);
    Param& ParamAt(SQLUSMALLINT number);

    SQLHSTMT h_ = SQL_NULL_HSTMT;
    std::vector<std::unique_ptr<Param>> params_;
};

} // namespace brenvo
