#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/TempDir.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "mainwindow/Backup.h"
#include "mainwindow/ProgramUpdate.h"
#include "mainwindow/UpdateDlg.h"
#include "tests/mainwindow/FtpTestServer.h"
#include "tests/mainwindow/RecordingSink.h"
#include "tests/mainwindow/ZipTestUtil.h"

using namespace brenvo;
namespace fs = std::filesystem;

namespace {

void Put(const std::string& path, const std::string& content, time_t mtime = 0) {
    fs::create_directories(fs::path(path).parent_path());
    Spit(path, content);
    if (mtime) SetFileLastWriteTime(path, FromTimeT(mtime));
}

// The main window as the update sees it: records what was asked of it and
// runs the download dialog without a window.
struct TestHost : IUpdateHost {
    RecordingSink sink;
    std::vector<std::string> calls;
    std::vector<std::string> dialogMessages;
    std::function<void(UpdateDownload&)> onDialogChange;
    BackupSources backupSources;
    std::string backupDir;

    void ShowLoadProgress(int p, int m, bool log, const std::string& text) override { sink.ShowLoadProgress(p, m, log, text); }
    void LogLine(const std::string& text) override { sink.LogLine(text); }
    void ShowLoadPanel() override { calls.push_back("ShowLoadPanel"); }
    void SaveTables() override { calls.push_back("SaveTables"); }
    void CreateBackup() override {
        calls.push_back("CreateBackup");
        brenvo::CreateBackup(backupSources, backupDir, sink);
    }
    bool RunDownloadDialog(const UpdateDownloadParams& params) override {
        calls.push_back("Download " + params.remoteFile);
        UpdateDownload dialog(params);
        dialog.OnChange = [&] {
            if (onDialogChange) onDialogChange(dialog);
        };
        bool ok = RunUpdateDownloadUnattended(dialog);
        dialogMessages.push_back(dialog.Message());
        return ok;
    }
    void ReleaseTables() override { calls.push_back("ReleaseTables"); }
    void Pause(int ms) override { calls.push_back("Pause " + std::to_string(ms)); }
    void CloseProgram() override { calls.push_back("CloseProgram"); }
};

struct UpdateFixture : ::testing::Test {
    TempDir tmp;
    std::string ftpRoot = tmp.file("ftp");
    std::string root = tmp.file("prog");
    UpdateLocations where{root, root + "/Stammdaten", root + "/Downloads"};
    TestHost host;

    void SetUp() override {
        fs::create_directories(ftpRoot + "/ftp-pub");
        Put(root + "/Stammdaten/KT_BASE.XML", "old base", 1300000000);
        Put(root + "/Stammdaten/Rechnungen.xml", "invoices");
        fs::create_directories(root + "/Downloads");
        host.backupSources = BackupSources{root, "Stammdaten", "ArchivR", "ArchivA", root + "/import", root + "/export",
                                           root + "/eingabe"};
        host.backupDir = root + "/Datensicherung";
    }
    FtpOptions Server(const FtpTestServer& server) const {
        FtpOptions o = UpdateServerOptions("127.0.0.1:" + std::to_string(server.port()));
        o.connectTimeoutMs = 5000;
        o.responseTimeoutMs = 5000;
        o.stallTimeoutSec = 5;
        return o;
    }
    UpdateDownloadParams Params(const FtpTestServer& server, const std::string& remote, const std::string& local) {
        return UpdateDownloadParams{Server(server), remote, local};
    }
};

} // namespace

TEST(UpdateServerSettingTest, HostPortAndDefaults) {
    FtpOptions o = UpdateServerOptions(" update.example.net ");
    EXPECT_EQ(o.host, "update.example.net");
    EXPECT_EQ(o.port, 21);
    EXPECT_EQ(o.user, "anonymous");
    EXPECT_EQ(o.password, "");
    EXPECT_FALSE(o.passive);
    o = UpdateServerOptions("10.1.2.3:2121");
    EXPECT_EQ(o.host, "10.1.2.3");
    EXPECT_EQ(o.port, 2121);
    o = UpdateServerOptions("[::1]:2121");
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.port, 2121);
    EXPECT_EQ(UpdateServerOptions("fe80::1").host, "fe80::1");
    EXPECT_EQ(UpdateServerOptions("").host, "");
    EXPECT_THROW(UpdateServerOptions("host:abc"), Error);
    EXPECT_THROW(UpdateServerOptions("host:0"), Error);
    EXPECT_THROW(UpdateServerOptions("[::1"), Error);
}

TEST_F(UpdateFixture, DialogStepsThroughItsStatesToACompleteDownload) {
    std::string payload(300000, 'p');
    Put(ftpRoot + "/ftp-pub/updateData.zip", payload);
    FtpTestServer server(ftpRoot);
    std::string local = root + "/Downloads/updateKT.zip";
    UpdateDownload dlg(Params(server, RemoteDataUpdate, local));
    std::vector<std::string> labels;
    dlg.OnChange = [&] {
        if (labels.empty() || labels.back() != dlg.Label()) labels.push_back(dlg.Label());
    };
    EXPECT_EQ(dlg.Label(), "Verbinden...");
    EXPECT_EQ(dlg.ButtonCaption(), "Abbruch");
    EXPECT_EQ(dlg.BarMaximum(), 100);
    EXPECT_FALSE(dlg.TimerRunning());
    dlg.Tick();  // the timer is not running before the dialog is shown
    EXPECT_EQ(dlg.State(), 0);

    dlg.Start();
    for (int expected : {1, 2, 3, 4}) {
        ASSERT_TRUE(dlg.TimerRunning());
        dlg.Tick();
        EXPECT_EQ(dlg.State(), expected) << dlg.Message() << " " << dlg.Detail();
    }
    EXPECT_EQ(dlg.BarMaximum(), 300000);
    EXPECT_EQ(dlg.Label(), "0kB von 292kB");
    EXPECT_TRUE(dlg.Animating());
    dlg.Tick();
    EXPECT_TRUE(dlg.Finished());
    EXPECT_FALSE(dlg.TimerRunning());
    EXPECT_EQ(dlg.GetResult(), UpdateDownload::Result::Ok);
    EXPECT_EQ(dlg.BarPosition(), 300000);
    EXPECT_EQ(Slurp(local), payload);
    EXPECT_EQ(labels.front(), "Verbinden...");
    EXPECT_EQ(labels[1], "Login...");
    EXPECT_EQ(labels.back(), "292kB von 292kB");
}

TEST_F(UpdateFixture, NoUpdateOnTheServer) {
    FtpTestServer server(ftpRoot);
    UpdateDownload dlg(Params(server, RemoteDataUpdate, root + "/Downloads/updateKT.zip"));
    EXPECT_FALSE(RunUpdateDownloadUnattended(dlg));
    EXPECT_EQ(dlg.Message(), "Kein Update verfügbar.");
    EXPECT_EQ(dlg.Label(), "Kein Update verfügbar.");
    EXPECT_EQ(dlg.ButtonCaption(), " Schliessen ");
    EXPECT_EQ(dlg.GetResult(), UpdateDownload::Result::Cancel);

    // without the directory the server's failure text follows directly
    UpdateDownload dlg2(Params(server, "nirgends/updateData.zip", root + "/Downloads/updateKT.zip"));
    EXPECT_FALSE(RunUpdateDownloadUnattended(dlg2));
    EXPECT_EQ(dlg2.Message().rfind("Kein Update verfügbar.", 0), 0u) << dlg2.Message();

    // the data update stops before anything is released or unpacked
    EXPECT_FALSE(UpdateData(host, where, Server(server)));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowLoadPanel", "SaveTables", "Download ftp-pub/updateData.zip"}));
    EXPECT_EQ(Slurp(root + "/Stammdaten/KT_BASE.XML"), "old base");
}

TEST_F(UpdateFixture, ProgramUpdateOfTheSameSizeIsNoNewerUpdate) {
    Put(ftpRoot + "/ftp-pub/updateProg.zip", "0123456789");
    Put(root + "/Downloads/updateProg.zip", "abcdefghij");  // left from the last update
    FtpTestServer server(ftpRoot);
    EXPECT_FALSE(UpdateProgram(host, where, Server(server)));
    EXPECT_EQ(host.dialogMessages, std::vector<std::string>{"Kein neueres Update verfügbar."});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowLoadPanel", "SaveTables", "CreateBackup",
                                                    "Download ftp-pub/updateProg.zip"}));
    ASSERT_FALSE(host.sink.progress.empty());
    const auto& last = host.sink.progress.back();
    EXPECT_EQ(last.text, "Update...beendet: Kein Update installiert.");
    EXPECT_EQ(last.position, 8);
    EXPECT_EQ(last.maximum, 8);
    EXPECT_EQ(Slurp(root + "/Downloads/updateProg.zip"), "abcdefghij");
    EXPECT_EQ(ListFiles(root + "/Datensicherung", "*.zip").size(), 1u);
}

TEST_F(UpdateFixture, DataUpdateReplacesMasterDataAndEndsTheProgram) {
    MakeZip(ftpRoot + "/ftp-pub/updateData.zip",
            {{"KT_BASE.XML", "new base"}, {"KT_KEY.XML", "new keys"}, {"xtr/tarife_v2_todp.xtr", "xtr"}});
    // a local archive of the same size from an earlier data update: deleted first, so the download still runs
    fs::copy_file(ftpRoot + "/ftp-pub/updateData.zip", root + "/Downloads/updateKT.zip");
    FtpTestServer server(ftpRoot);
    ASSERT_TRUE(UpdateData(host, where, Server(server)));
    server.Stop();

    EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowLoadPanel", "SaveTables", "Download ftp-pub/updateData.zip",
                                                    "ReleaseTables", "Pause 1500", "CloseProgram"}));
    EXPECT_EQ(Slurp(root + "/Stammdaten/KT_BASE.XML"), "new base");
    EXPECT_EQ(Slurp(root + "/Stammdaten/KT_KEY.XML"), "new keys");
    EXPECT_EQ(Slurp(root + "/Stammdaten/xtr/tarife_v2_todp.xtr"), "xtr");
    EXPECT_EQ(Slurp(root + "/Stammdaten/Rechnungen.xml"), "invoices");
    EXPECT_TRUE(host.sink.Logged("Entpacken startet. "));
    EXPECT_TRUE(host.sink.Logged("Entpacken fertig."));
    const auto& last = host.sink.progress.back();
    EXPECT_EQ(last.text, "Programm wird beendet. Bitte neu starten");
    EXPECT_EQ(last.position, 10);
    EXPECT_TRUE(last.log);
}

TEST_F(UpdateFixture, ProgramUpdateInstallsWithOldCopiesAndReplacesTheRunningProgram) {
    // the installed program is running while it is replaced
    fs::copy_file("/bin/sleep", root + "/brenvo");
    SetFileLastWriteTime(root + "/brenvo", FromTimeT(1300000000));
    pid_t running = fork();
    if (running == 0) {
        execl((root + "/brenvo").c_str(), "brenvo", "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    Put(root + "/Stammdaten/sgb5_v8_todp.xtr", "old xtr", 1300000000);
    Put(root + "/TempDownload/stale.txt", "left from an earlier update");
    time_t newer = 1400000000;
    MakeZip(ftpRoot + "/ftp-pub/updateProg.zip", {{"brenvo", "new program", newer, 0100755},
                                                  {"Stammdaten/sgb5_v8_todp.xtr", "new xtr", newer},
                                                  {"doc/neu.txt", "only in the update", newer}});
    FtpTestServer server(ftpRoot);
    bool ok = UpdateProgram(host, where, Server(server));
    server.Stop();
    bool stillRunning = ::kill(running, 0) == 0;
    ::kill(running, SIGKILL);
    ::waitpid(running, nullptr, 0);
    ASSERT_TRUE(ok) << (host.dialogMessages.empty() ? "" : host.dialogMessages.back());
    EXPECT_TRUE(stillRunning);

    EXPECT_EQ(Slurp(root + "/brenvo"), "new program");
    EXPECT_EQ(Slurp(root + "/brenvo.OLD"), Slurp("/bin/sleep"));
    EXPECT_NE(fs::status(root + "/brenvo").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(Slurp(root + "/Stammdaten/sgb5_v8_todp.xtr"), "new xtr");
    EXPECT_EQ(Slurp(root + "/Stammdaten/sgb5_v8_todp.xtr.OLD"), "old xtr");
    EXPECT_EQ(Slurp(root + "/doc/neu.txt"), "only in the update");
    EXPECT_FALSE(fs::exists(root + "/doc/neu.txt.OLD"));
    EXPECT_FALSE(fs::exists(root + "/stale.txt"));
    EXPECT_EQ(MTime(root + "/brenvo"), newer);

    EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowLoadPanel", "SaveTables", "CreateBackup",
                                                    "Download ftp-pub/updateProg.zip", "ReleaseTables", "Pause 1500"}));
    std::vector<std::string> steps;
    for (const auto& p : host.sink.progress)
        if (p.log) steps.push_back(std::to_string(p.position) + "/" + std::to_string(p.maximum) + " " + p.text);
    std::vector<std::string> expected = {"100/100 Datensicherung fertig.",
                                         "1/8 Update...",
                                         "2/8 Update...Download",
                                         "3/8 Update...Download: OK",
                                         "4/8 Update...Dateien entpacken",
                                         "100/100 Entpacken fertig.",
                                         "5/8 Update...Dateien entpacken: OK",
                                         "6/8 Update...Dateien installieren",
                                         "7/8 Update...Dateien installieren:OK",
                                         "10/10 Bitte Programm beenden und neu starten ... "};
    EXPECT_EQ(steps, expected);

    // the same archive again: the local copy has its size, nothing is installed
    FtpTestServer again(ftpRoot);
    EXPECT_FALSE(UpdateProgram(host, where, Server(again)));
    EXPECT_EQ(host.dialogMessages.back(), "Kein neueres Update verfügbar.");
}

TEST_F(UpdateFixture, DownloadCutOffInTheMiddleInstallsNothing) {
    MakeZip(ftpRoot + "/ftp-pub/updateData.zip", {{"KT_BASE.XML", std::string(400000, 'n'), 0, 0, true}});
    auto server = std::make_unique<FtpTestServer>(ftpRoot, 50000);  // 50 kB/s: the transfer takes seconds
    host.onDialogChange = [&](UpdateDownload& dlg) {
        if (dlg.State() == 4 && dlg.BarPosition() > 0 && server) {
            server->Kill();
            server.reset();
        }
    };
    EXPECT_FALSE(UpdateData(host, where, Server(*server)));
    EXPECT_EQ(server, nullptr);
    ASSERT_EQ(host.dialogMessages.size(), 1u);
    EXPECT_EQ(host.dialogMessages[0].rfind("Fehler bei der Dateiübertragung ", 0), 0u) << host.dialogMessages[0];
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ShowLoadPanel", "SaveTables", "Download ftp-pub/updateData.zip"}));
    EXPECT_EQ(Slurp(root + "/Stammdaten/KT_BASE.XML"), "old base");
    EXPECT_TRUE(fs::is_empty(root + "/Downloads"));  // no partial archive left
}

TEST_F(UpdateFixture, AbortDuringTheDownloadKeepsThePreviousArchive) {
    MakeZip(ftpRoot + "/ftp-pub/updateProg.zip", {{"brenvo", std::string(400000, 'n'), 0, 0, true}});
    Put(root + "/Downloads/updateProg.zip", "previous archive");
    FtpTestServer server(ftpRoot, 50000);
    UpdateDownload dlg(Params(server, RemoteProgramUpdate, root + "/Downloads/updateProg.zip"));
    dlg.OnChange = [&] {
        if (dlg.State() == 4 && dlg.BarPosition() > 0) dlg.Abort();
    };
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunUpdateDownloadUnattended(dlg));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(dlg.GetResult(), UpdateDownload::Result::Cancel);
    EXPECT_FALSE(dlg.TimerRunning());
    EXPECT_EQ(Slurp(root + "/Downloads/updateProg.zip"), "previous archive");
    EXPECT_EQ(ListFiles(root + "/Downloads", "*").size(), 1u);
}

TEST_F(UpdateFixture, ServersThatCannotBeReachedEndInKeineVerbindung) {
    // nobody listens on the port
    FtpOptions closed = UpdateServerOptions("127.0.0.1:" + std::to_string(PickFreePort()));
    UpdateDownload dlg({closed, RemoteDataUpdate, root + "/Downloads/updateKT.zip"});
    EXPECT_FALSE(RunUpdateDownloadUnattended(dlg, &host.sink));
    EXPECT_EQ(dlg.Message(), "Keine Verbindung");
    EXPECT_FALSE(host.sink.log.empty());

    // no server set up in brenvo.ini
    UpdateDownload none({UpdateServerOptions(""), RemoteDataUpdate, root + "/Downloads/updateKT.zip"});
    EXPECT_FALSE(RunUpdateDownloadUnattended(none));
    EXPECT_EQ(none.Message(), "Keine Verbindung");
    EXPECT_EQ(none.Detail(), "Kein FTP-Server angegeben");
    EXPECT_FALSE(UpdateProgram(host, where, UpdateServerOptions("")));
    EXPECT_TRUE(host.sink.Logged("Kein Update-Server eingetragen (brenvo.ini: Update_Server=...)"));
    EXPECT_EQ(host.dialogMessages.back(), "Keine Verbindung");

    // a server that accepts the connection but never answers: bounded by the time limit
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    FtpOptions silent = UpdateServerOptions("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    silent.connectTimeoutMs = 1000;
    silent.responseTimeoutMs = 1000;
    UpdateDownload mute({silent, RemoteDataUpdate, root + "/Downloads/updateKT.zip"});
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunUpdateDownloadUnattended(mute));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(mute.Message(), "Keine Verbindung");

    // "Abbruch" while the dialog waits for the server ends it at once
    silent.responseTimeoutMs = 20000;
    UpdateDownload waiting({silent, RemoteDataUpdate, root + "/Downloads/updateKT.zip"});
    started = std::chrono::steady_clock::now();
    waiting.OnChange = [&] {
        if (waiting.State() == 0 && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(300))
            waiting.Abort();
    };
    EXPECT_FALSE(RunUpdateDownloadUnattended(waiting));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(waiting.GetResult(), UpdateDownload::Result::Cancel);
    ::close(listener);
}

TEST(InstallUpdateFilesTest, ReplacesOnlyWhatIsNotNewerAndKeepsOldCopies) {
    TempDir tmp;
    std::string src = tmp.file("TempDownload"), prog = tmp.file("prog");
    time_t t = 1400000000;
    Put(src + "/same.txt", "same", t);
    Put(prog + "/same.txt", "same", t - 1000);
    Put(src + "/local.ini", "from the update", t);
    Put(prog + "/local.ini", "changed here later", t + 3600);
    Put(src + "/tool", "new tool", t);
    Put(prog + "/tool", "old tool", t - 3600);
    fs::permissions(prog + "/tool", fs::perms(0750));
    Put(prog + "/tool.OLD", "tool of two updates ago");
    Put(src + "/equal-time.txt", "new text", t);
    Put(prog + "/equal-time.txt", "old text", t + 1);  // within the zip format's 2 seconds: replaced
    Put(src + "/a/b/new.txt", "new", t);
    Put(prog + "/untouched.txt", "not in the update");

    RecordingSink sink;
    InstallReport r = InstallUpdateFiles(src, prog, sink);
    std::sort(r.installed.begin(), r.installed.end());
    EXPECT_EQ(r.installed, (std::vector<std::string>{"a/b/new.txt", "equal-time.txt", "tool"}));
    EXPECT_EQ(r.unchanged, std::vector<std::string>{"same.txt"});
    EXPECT_EQ(r.keptNewer, std::vector<std::string>{"local.ini"});
    EXPECT_TRUE(sink.Logged("Nicht ersetzt, installierte Datei ist neuer: local.ini"));
    EXPECT_TRUE(sink.Logged("Installiert: tool"));

    EXPECT_EQ(Slurp(prog + "/tool"), "new tool");
    EXPECT_EQ(Slurp(prog + "/tool.OLD"), "old tool");
    EXPECT_EQ(fs::status(prog + "/tool").permissions(), fs::perms(0754));  // 0750 of the old | 0644 of the new
    EXPECT_EQ(MTime(prog + "/tool"), t);
    EXPECT_EQ(Slurp(prog + "/local.ini"), "changed here later");
    EXPECT_FALSE(fs::exists(prog + "/local.ini.OLD"));
    EXPECT_FALSE(fs::exists(prog + "/same.txt.OLD"));
    EXPECT_EQ(Slurp(prog + "/equal-time.txt"), "new text");
    EXPECT_EQ(Slurp(prog + "/equal-time.txt.OLD"), "old text");
    EXPECT_EQ(Slurp(prog + "/a/b/new.txt"), "new");
    EXPECT_EQ(Slurp(prog + "/untouched.txt"), "not in the update");

    // a target that is a directory stops the installation before anything is replaced
    Put(src + "/zz-dir-in-the-way", "x", t);
    fs::create_directories(prog + "/zz-dir-in-the-way");
    Put(src + "/tool", "newest tool", t + 7200);
    EXPECT_THROW(InstallUpdateFiles(src, prog, sink), Error);
    EXPECT_EQ(Slurp(prog + "/tool"), "new tool");
}
