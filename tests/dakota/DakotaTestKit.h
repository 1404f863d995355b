#pragma once

// Shared pieces of the DAKOTA tests: the stand-in installed as "dakota30.exe"
// in a fresh installation directory, and an ODBC data source over SQLite
// defined in temporary odbcinst.ini / odbc.ini files.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "common/TempDir.h"
#include "dakota/dbx_access_connect.h"
#include "lib/base/Files.h"
#include "lib/base/MessageQueue.h"
#include "lib/base/Strings.h"

namespace dakota_test {

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A DAKOTA installation with the stand-in, its hand-over and output
// directories and its call log. The installation path holds a blank.
class StandIn {
public:
    StandIn() {
        inst = tmp.file("dakota inst");
        data = tmp.file("daten");
        exp = tmp.file("ausgang");
        log = tmp.file("aufrufe.log");
        std::filesystem::create_directories(inst);
        std::filesystem::create_directories(data);
        program = inst + "/dakota30.exe";
        std::filesystem::copy_file(BRENVO_DAKOTA_STANDIN, program);
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        Configure("");
    }
    // Writes "dakota30.cfg": the given name=value lines after the directories.
    void Configure(const std::string& lines) {
        WriteText(inst + "/dakota30.cfg",
                  "DATADIR=" + data + "\nEXPDIR=" + exp + "\nLOG=" + log + "\n" + lines);
    }
    std::string Log() const { return ReadText(log); }
    // Pumps the queue until the log holds text (the stand-in is then ready
    // for a quit request). A file gives no signal, so it is looked at every
    // few milliseconds.
    bool WaitForLog(brenvo::MessageQueue& q, const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!brenvo::Contains(Log(), text)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            q.WaitAndProcess(std::chrono::milliseconds(5));
        }
        return true;
    }
    // An order as the export leaves it: subdirectory, data file and ".AUF".
    void AddOrder(const std::string& subdir, const std::string& transfer) {
        std::string dir = data + "/" + subdir;
        std::filesystem::create_directories(dir);
        WriteText(dir + "/" + transfer, "UNB+...");
        WriteText(dir + "/" + transfer + ".AUF", std::string(348, '0'));
    }

    TempDir tmp;
    std::string inst, data, exp, log, program;
};

// Pumps the queue until the object behind weak is gone (a runner frees itself
// just after its thread's last notification).
template <class T>
bool WaitUntilFreed(brenvo::MessageQueue& q, const std::weak_ptr<T>& weak) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!weak.expired() && std::chrono::steady_clock::now() < deadline)
        q.WaitAndProcess(std::chrono::milliseconds(5));
    return weak.expired();
}

inline std::string SqliteOdbcDriver() {
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
                          "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/odbc/libsqlite3odbc.so"})
        if (brenvo::FileExists(p)) return p;
    return {};
}

// The process-wide ODBC set-up: a data source "BrenvoProtokoll" over a SQLite
// file, defined in a temporary directory that ODBCSYSINI and ODBCINI point
// to. Made once, before the first ODBC call of the process; the stand-in
// inherits the variables.
class OdbcSetup {
public:
    static OdbcSetup& Get() {
        static OdbcSetup setup;
        return setup;
    }
    const std::string& Driver() const { return driver_; }
    const std::string& DatabaseFile() const { return db_; }
    static constexpr const char* Dsn = "BrenvoProtokoll";

    // A fresh "tblProtokoll" with the columns DAKOTA writes.
    void ResetTable() {
        brenvo::OdbcEnvironment env;
        brenvo::OdbcConnection conn(env);
        conn.Connect(std::string("DSN=") + Dsn + ";");
        conn.Execute("DROP TABLE IF EXISTS tblProtokoll");
        conn.Execute(
            "CREATE TABLE tblProtokoll (\"INDEX\" CHAR(20), PNR INTEGER, DATUM TIMESTAMP, ERGEBNIS BIT, "
            "Versenden VARCHAR(30), AKTION VARCHAR(2), DATEINAME VARCHAR(255))");
    }
    void Execute(const std::string& sql) {
        brenvo::OdbcEnvironment env;
        brenvo::OdbcConnection conn(env);
        conn.Connect(std::string("DSN=") + Dsn + ";");
        conn.Execute(sql);
    }

private:
    OdbcSetup() {
        driver_ = SqliteOdbcDriver();
        db_ = dir_.file("protokoll.db");
        WriteText(dir_.file("odbcinst.ini"), "[SQLite3 Brenvo]\nDescription=SQLite3 ODBC\nDriver=" + driver_ + "\n");
        WriteText(dir_.file("odbc.ini"), std::string("[") + Dsn + "]\nDriver=SQLite3 Brenvo\nDatabase=" + db_ +
                                             "\nTimeout=2000\n");
        setenv("ODBCSYSINI", dir_.path().c_str(), 1);
        setenv("ODBCINI", dir_.file("odbc.ini").c_str(), 1);
    }
    TempDir dir_;
    std::string driver_, db_;
};

} // namespace dakota_test
