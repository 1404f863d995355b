#include "dbx_access_connect.h"

#include <cstring>

#include <dlfcn.h>

#include "lib/base/Error.h"

namespace brenvo {

namespace {

// Options every connection to DAKOTA's protocol carries; drivers ignore the
// ones they do not know.
constexpr const char* ConnectionOptions =
    "DriverId=25;FIL=MS Access;"
    "MaxBufferSize=2048;PageTimeout=17;coSafeMode=1;coBlobFragmntns=1"
    ";coEnableUnicode=0;";

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Some drivers (SQLite's among them) load the ODBC installer library for every
// connection and unload it afterwards, losing its cache of the ini files each
// time. Keeping it loaded for the whole run keeps the cache.
void KeepInstallerLoaded() {
    static void* handle = [] {
        void* h = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
        if (!h) h = dlopen("libodbcinst.so", RTLD_NOW | RTLD_NODELETE);
        return h;
    }();
    (void)handle;
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE h, const char* what) {
    std::string diag = h ? OdbcDiagnostics(type, h) : std::string();
    if (diag.empty()) diag = std::string("ODBC-Fehler bei ") + what;
    throw Error(diag);
}

} // namespace

std::string AccessFileConnectionString(const std::string& path) {
    return std::string("DRIVER={") + AccessDriverName + "};DBQ=" + path + ";" + ConnectionOptions;
}

std::string AccessDsnConnectionString(const std::string& dsn) {
    return "DSN=" + dsn + ";" + ConnectionOptions;
}

std::string OdbcDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::string out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLCHAR text[1024] = {0};
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRec(handleType, handle, i, state, &native, text, sizeof text, &len);
        if (!Ok(rc)) break;
        if (!out.empty()) out += "; ";
        out += reinterpret_cast<const char*>(text);
        out += " [";
        out += reinterpret_cast<const char*>(state);
        out += "]";
    }
    return out;
}

// ---------------------------------------------------------------- environment

OdbcEnvironment::OdbcEnvironment() {
    KeepInstallerLoaded();
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h_))) {
        h_ = SQL_NULL_HENV;
        throw Error("ODBC-Umgebung kann nicht angelegt werden.");
    }
    if (!Ok(SQLSetEnvAttr(h_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        std::string diag = OdbcDiagnostics(SQL_HANDLE_ENV, h_);
        SQLFreeHandle(SQL_HANDLE_ENV, h_);
        h_ = SQL_NULL_HENV;
        throw Error(diag.empty() ? "ODBC-Umgebung kann nicht angelegt werden." : diag);
    }
}

OdbcEnvironment::~OdbcEnvironment() {
    if (h_) SQLFreeHandle(SQL_HANDLE_ENV, h_);
}

// ---------------------------------------------------------------- connection

OdbcConnection::OdbcConnection(OdbcEnvironment& env) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env.Handle(), &h_))) {
        h_ = SQL_NULL_HDBC;
        Fail(SQL_HANDLE_ENV, env.Handle(), "SQLAllocHandle");
    }
}

OdbcConnection::~OdbcConnection() {
    Disconnect();
    if (h_) SQLFreeHandle(SQL_HANDLE_DBC, h_);
}

void OdbcConnection::Connect(const std::string& connectionString) {
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    std::string cs = connectionString;
    SQLRETURN rc = SQLDriverConnect(h_, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS, out,
                                    sizeof out, &outLen, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) Fail(SQL_HANDLE_DBC, h_, "SQLDriverConnect");
    connected_ = true;
}

void OdbcConnection::Disconnect() {
    if (!connected_) return;
    // What was not committed is dropped, never half-written.
    SQLEndTran(SQL_HANDLE_DBC, h_, SQL_ROLLBACK);
    SQLDisconnect(h_);
    connected_ = false;
}

void OdbcConnection::Execute(const std::string& sql) {
    OdbcStatement st(*this);
    st.ExecDirect(sql);
}

bool OdbcConnection::SetAutoCommit(bool on) {
    SQLRETURN rc = SQLSetConnectAttr(h_, SQL_ATTR_AUTOCOMMIT,
                                     reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
                                     SQL_IS_UINTEGER);
    return Ok(rc);
}

void OdbcConnection::Commit() {
    if (!Ok(SQLEndTran(SQL_HANDLE_DBC, h_, SQL_COMMIT))) Fail(SQL_HANDLE_DBC, h_, "SQLEndTran");
}

void OdbcConnection::Rollback() {
    if (!Ok(SQLEndTran(SQL_HANDLE_DBC, h_, SQL_ROLLBACK))) Fail(SQL_HANDLE_DBC, h_, "SQLEndTran");
}

std::string OdbcConnection::IdentifierQuote() {
    char buf[8] = {0};
    SQLSMALLINT len = 0;
    if (Ok(SQLGetInfo(h_, SQL_IDENTIFIER_QUOTE_CHAR, buf, sizeof buf, &len)) && buf[0] != '\0' && buf[0] != ' ')
        return std::string(buf);
    return "\"";
}

// ---------------------------------------------------------------- statement

OdbcStatement::OdbcStatement(OdbcConnection& conn) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, conn.Handle(), &h_))) {
        h_ = SQL_NULL_HSTMT;
        Fail(SQL_HANDLE_DBC, conn.Handle(), "SQLAllocHandle");
    }
}

OdbcStatement::~OdbcStatement() {
    if (h_) SQLFreeHandle(SQL_HANDLE_STMT, h_);
}

void OdbcStatement::Check(SQLRETURN rc, const char* what) {
    if (!Ok(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, h_, what);
}

void OdbcStatement::ExecDirect(const std::string& sql) {
    std::string s = sql;
    Check(SQLExecDirect(h_, reinterpret_cast<SQLCHAR*>(s.data()), SQL_NTS), "SQLExecDirect");
}

void OdbcStatement::Prepare(const std::string& sql) {
    std::string s = sql;
    Check(SQLPrepare(h_, reinterpret_cast<SQLCHAR*>(s.data()), SQL_NTS), "SQLPrepare");
}

OdbcStatement::Param& OdbcStatement::ParamAt(SQLUSMALLINT number) {
    if (params_.size() < number) params_.resize(number);
    auto& p = params_[number - 1];
    p = std::make_unique<Param>();
    return *p;
}

void OdbcStatement::BindText(SQLUSMALLINT number, const std::string& value) {
    Param& p = ParamAt(number);
    p.text = value;
    p.indicator = static_cast<SQLLEN>(p.text.size());
    Check(SQLBindParameter(h_, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                           p.text.empty() ? 1 : p.text.size(), 0, p.text.data(),
                           static_cast<SQLLEN>(p.text.size()), &p.indicator),
          "SQLBindParameter");
}

void OdbcStatement::BindInt(SQLUSMALLINT number, int64_t value) {
    Param& p = ParamAt(number);
    p.number = value;
    p.indicator = 0;
    Check(SQLBindParameter(h_, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &p.number, 0,
                           &p.indicator),
          "SQLBindParameter");
}

void OdbcStatement::BindTimestamp(SQLUSMALLINT number, TDateTime value) {
    Param& p = ParamAt(number);
    if (value.IsNull()) {
        p.indicator = SQL_NULL_DATA;
    } else {
        DateParts d = Decode(value);
        p.stamp.year = static_cast<SQLSMALLINT>(d.year);
        p.stamp.month = static_cast<SQLUSMALLINT>(d.month);
        p.stamp.day = static_cast<SQLUSMALLINT>(d.day);
        p.stamp.hour = static_cast<SQLUSMALLINT>(d.hour);
        p.stamp.minute = static_cast<SQLUSMALLINT>(d.minute);
        p.stamp.second = static_cast<SQLUSMALLINT>(d.second);
        p.stamp.fraction = 0;
        p.indicator = sizeof p.stamp;
    }
    Check(SQLBindParameter(h_, number, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0,
                           &p.stamp, sizeof p.stamp, &p.indicator),
          "SQLBindParameter");
}

void OdbcStatement::Execute() { Check(SQLExecute(h_), "SQLExecute"); }

int64_t OdbcStatement::RowCount() {
    SQLLEN n = 0;
    Check(SQLRowCount(h_, &n), "SQLRowCount");
    return n;
}

std::vector<OdbcColumn> OdbcStatement::Columns() {
    SQLSMALLINT count = 0;
    Check(SQLNumResultCols(h_, &count), "SQLNumResultCols");
    std::vector<OdbcColumn> cols;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        SQLCHAR name[256] = {0};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        Check(SQLDescribeCol(h_, i, name, sizeof name, &nameLen, &type, &size, &digits, &nullable),
              "SQLDescribeCol");
        cols.push_back(OdbcColumn{reinterpret_cast<const char*>(name), type});
    }
    return cols;
}

bool OdbcStatement::Fetch() {
    SQLRETURN rc = SQLFetch(h_);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, "SQLFetch");
    return true;
}

std::optional<std::string> OdbcStatement::GetText(SQLUSMALLINT column) {
    std::string out;
    char buf[1024];
    for (;;) {
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(h_, column, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (rc == SQL_NO_DATA) break;
        Check(rc, "SQLGetData");
        if (ind == SQL_NULL_DATA) return std::nullopt;
        const size_t room = sizeof buf - 1;
        if (rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > room)) {
            out.append(buf, room);   // truncated: more follows
            continue;
        }
        size_t n = ind == SQL_NO_TOTAL ? std::strlen(buf) : std::min(static_cast<size_t>(ind), room);
        out.append(buf, n);
        break;
    }
    return out;
}

void OdbcStatement::CloseCursor() { SQLFreeStmt(h_, SQL_CLOSE); }

} // namespace brenvo
