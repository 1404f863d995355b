// Takes DAKOTA's place in tests and the demo. Installed as "dakota30.exe" in
// a DAKOTA installation directory, it reads "dakota30.cfg" beside itself
// (name=value lines, '#' starts a comment) and behaves as the program expects
// DAKOTA to:
//
//   -s        status query: ends with STATUS (after STATUS_MS milliseconds)
//   -x        moves every order record (*.AUF) with its billing data file out
//             of DATADIR (subdirectories included) into the same place below
//             EXPDIR, writes one row per order into "tblProtokoll" of PROTOCOL
//             (a database file when it contains "MDB", else a data source
//             name) and ends with PROCESS, or EMPTY when there was nothing to
//             do; PROCESS_MS is a pause before each order; the transfer names
//             listed in FAIL (comma-separated) are reported as failed
//   -k, none  shows the protocol / the program: stays RUN_MS milliseconds
//             (-1: until asked to end) and ends with RUN_EXIT
//
// A quit request (SIGTERM) ends every mode at once with TERM_EXIT; with
// IGNORE_TERM=1 it is ignored, so that only a kill ends the program. Any
// other switch ends with 14. When LOG names a file, each call appends
// "start <switch>" once it is ready for a quit request and "ende <code>"
// before it ends. A protocol that cannot be written ends with 16.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "dakota/dbx_access_connect.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

using namespace brenvo;

namespace {

std::map<std::string, std::string> gConfig;
sigset_t gTermSet;
bool gIgnoreTerm = false;

std::string Cfg(const std::string& key, const std::string& def = "") {
    auto it = gConfig.find(key);
    return it == gConfig.end() ? def : it->second;
}

int CfgInt(const std::string& key, int def) { return static_cast<int>(StrToIntDef(Cfg(key), def)); }

void ReadConfig() {
    std::ifstream in(PathJoin(ProgramDirectory(), "dakota30.cfg"));
    std::string line;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        gConfig[UpperCase(Trim(t.substr(0, eq)))] = Trim(t.substr(eq + 1));
    }
}

void Log(const std::string& text) {
    std::string path = Cfg("LOG");
    if (path.empty()) return;
    std::ofstream out(path, std::ios::app);
    out << text << "\n";
}

[[noreturn]] void End(int code) {
    Log("ende " + std::to_string(code));
    std::exit(code);
}

// Waits ms milliseconds (-1: for ever); a quit request ends the program.
void Pause(int ms) {
    if (gIgnoreTerm) {
        if (ms < 0) {
            for (;;) pause();
        }
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {}
        return;
    }
    int sig;
    if (ms < 0) {
        sig = sigwaitinfo(&gTermSet, nullptr);
    } else {
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        do {
            sig = sigtimedwait(&gTermSet, nullptr, &ts);
        } while (sig < 0 && errno == EINTR);
    }
    if (sig == SIGTERM) End(CfgInt("TERM_EXIT", 6));
}

bool MoveFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    return CopyFileTo(from, to, false) && DeleteFile(from);
}

int64_t NextPnr(OdbcConnection& conn) {
    OdbcStatement st(conn);
    st.ExecDirect("select max(PNR) from tblProtokoll");
    if (st.Fetch()) {
        if (auto v = st.GetText(1)) return StrToIntDef(Trim(*v), 0) + 1;
    }
    return 1;
}

int Process() {
    const std::string dataDir = Cfg("DATADIR");
    const std::string expDir = Cfg("EXPDIR");
    const std::string protocol = Cfg("PROTOCOL");
    std::vector<std::string> failing;
    for (const auto& n : Split(Cfg("FAIL"), ',')) {
        std::string t = Trim(n);
        if (!t.empty()) failing.push_back(t);
    }
    std::vector<std::string> orders;
    if (!dataDir.empty() && DirectoryExists(dataDir)) orders = ListFilesRecursive(dataDir, "*.AUF");
    if (orders.empty()) return CfgInt("EMPTY", 2);

    try {
        OdbcEnvironment env;
        OdbcConnection conn(env);
        conn.Connect(Contains(UpperCase(protocol), "MDB") ? AccessFileConnectionString(protocol)
                                                          : AccessDsnConnectionString(protocol));
        const std::string q = conn.IdentifierQuote();
        int64_t pnr = NextPnr(conn);
        for (const auto& auf : orders) {
            Pause(CfgInt("PROCESS_MS", 0));
            const std::string dir = ExtractFileDir(auf);
            const std::string transfer = ChangeFileExt(ExtractFileName(auf), "");
            const std::string data = PathJoin(dir, transfer);
            std::string rel = dir.size() > dataDir.size() ? dir.substr(IncludeTrailingPathDelimiter(dataDir).size())
                                                          : std::string();
            const std::string target = rel.empty() ? expDir : PathJoin(expDir, rel);
            ForceDirectories(target);
            if (FileExists(data)) MoveFile(data, PathJoin(target, transfer));
            MoveFile(auf, PathJoin(target, ExtractFileName(auf)));

            bool ok = true;
            for (const auto& f : failing)
                if (f == transfer) ok = false;
            TDateTime now = Now();
            OdbcStatement st(conn);
            st.Prepare("insert into tblProtokoll (" + q + "INDEX" + q +
                       ", PNR, DATUM, ERGEBNIS, Versenden, AKTION, DATEINAME) values (?, ?, ?, ?, ?, ?, ?)");
            st.BindText(1, transfer);
            st.BindInt(2, pnr++);
            st.BindTimestamp(3, now);
            st.BindInt(4, ok ? 1 : 0);
            st.BindText(5, ok ? FormatDateTimeDE(now) : std::string());
            st.BindText(6, "V");
            st.BindText(7, ExtractFileName(data));
            st.Execute();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dakota30: Protokoll: %s\n", e.what());
        return 16;
    }
    return CfgInt("PROCESS", 0);
}

} // namespace

int main(int argc, char** argv) {
    ReadConfig();
    gIgnoreTerm = CfgInt("IGNORE_TERM", 0) == 1;
    sigemptyset(&gTermSet);
    sigaddset(&gTermSet, SIGTERM);
    if (gIgnoreTerm)
        std::signal(SIGTERM, SIG_IGN);
    else
        sigprocmask(SIG_BLOCK, &gTermSet, nullptr);   // taken with sigtimedwait

    const std::string sw = argc > 1 ? argv[1] : "";
    Log("start " + sw);
    if (argc > 2) End(14);
    if (sw == "-s") {
        Pause(CfgInt("STATUS_MS", 0));
        End(CfgInt("STATUS", 0));
    }
    if (sw == "-x") End(Process());
    if (sw == "-k" || sw.empty()) {
        Pause(CfgInt("RUN_MS", 0));
        End(CfgInt("RUN_EXIT", 0));
    }
    End(14);
}
