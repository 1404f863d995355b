#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <thread>

#include "DakotaTestKit.h"
#include "dakota/U_Dakota.h"
#include "lib/base/Format.h"

using namespace brenvo;
using namespace dakota_test;
using namespace std::chrono_literals;

TEST(DakotaStatusTextTest, EveryKnownCodeAndTheRest) {
    const std::map<int, std::string> known = {
        {0, "Daten verarbeitet."},
        {1, "Daten verarbeitet. Warnung: Zertifikat läuft bald ab."},
        {2, "Keine Daten zur Verarbeitung."},
        {3, "Keine Daten zur Verarbeitung. Warnung: Zertifikat läuft bald ab"},
        {4, "Fehler bei Verarbeitung. Siehe Protokoll"},
        {5, "Fehler bei Verabreitung. Siehe Protokoll. Warnung: Zertifikat läuft bald ab"},
        {6, "Aktion abgebrochen"},
        {7, "Aktion abgebrochen. Warnung: Zertifikat läuft bald ab"},
        {8, "N/A"},
        {9, "Kein Zertifikat. (Antwort auf Antrag noch nicht eingelesen)"},
        {10, "Konfiguration nicht vollständig"},
        {11, "N/A"},
        {12, "N/A"},
        {13, "N/A"},
        {14, "Falscher Programmaufruf"},
        {15, "N/A"},
        {16, "Interner Fehler."},
        {17, "N/A"},
        {18, "Programm bereits geladen"},
        {90, "Nachfolgezertifikat beantragt"},
        {91, "Nachfolgezertifikat beantragt, aktives Zertifikat läuft bald ab"},
        {100, "Stammdatenupdate ist überfällig"},
        {101, "Stammdatenupdate ist überfallig, aktives Zertifikat läuft bald ab"},
    };
    for (int code = -300; code <= 600; ++code) {
        auto it = known.find(code);
        EXPECT_EQ(DakotaStatusText(code), it == known.end() ? "Unbekannt" : it->second) << code;
    }
}

namespace {

struct DakotaFixture : ::testing::Test {
    StandIn s;
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    TDakota dakota{queue};

    void SetUp() override {
        dakota.Info.InstDir = s.inst;
        dakota.Info.DataDir = s.data;
        dakota.Info.ExpDir = s.exp;
    }
};

} // namespace

TEST_F(DakotaFixture, InstalledMeansExactlyDakota30ExeInTheInstallationDirectory) {
    EXPECT_TRUE(dakota.IsDakotaInstalled());
    EXPECT_TRUE(dakota.Info.Installed);
    EXPECT_EQ(dakota.ProgramPath(), s.inst + "/dakota30.exe");
    dakota.Info.InstDir = s.inst + "/";
    EXPECT_EQ(dakota.ProgramPath(), s.inst + "/dakota30.exe");

    std::filesystem::rename(s.program, s.inst + "/Dakota30.EXE");
    EXPECT_FALSE(dakota.IsDakotaInstalled());
    EXPECT_FALSE(dakota.Info.Installed);
    std::filesystem::create_directory(s.program);   // a directory of that name is no program
    EXPECT_FALSE(dakota.IsDakotaInstalled());
    dakota.Info.InstDir = "";
    EXPECT_FALSE(dakota.IsDakotaInstalled());
}

TEST_F(DakotaFixture, CheckDakotaReadyWithoutInstallationWithCode9AndWith0) {
    std::string text;
    dakota.Info.InstDir = s.tmp.file("anderswo");
    EXPECT_FALSE(dakota.CheckDakotaReady(text));
    EXPECT_EQ(text, "Dakota nicht installiert.");
    EXPECT_FALSE(dakota.Info.Ready);

    dakota.Info.InstDir = s.inst;   // holds a blank: the path is passed as one word
    s.Configure("STATUS=9\n");
    EXPECT_FALSE(dakota.CheckDakotaReady(text));
    EXPECT_EQ(text, "Dakota installiert aber nicht bereit (Dakota: 9 - Kein Zertifikat. (Antwort auf Antrag noch "
                    "nicht eingelesen))");
    EXPECT_TRUE(dakota.Info.Installed);
    EXPECT_FALSE(dakota.Info.Ready);
    EXPECT_EQ(s.Log(), "start -s\nende 9\n");

    s.Configure("STATUS=0\n");
    EXPECT_TRUE(dakota.CheckDakotaReady(text));
    EXPECT_EQ(text, "Dakota installiert und bereit");
    EXPECT_TRUE(dakota.Info.Ready);

    s.Configure("STATUS=101\n");
    EXPECT_EQ(dakota.QueryDakotaStatus(), 101);
    EXPECT_FALSE(dakota.Info.Ready);
    TDakotaResult r = dakota.RunDakota("-s", false);
    EXPECT_EQ(r.Code, 101);
    EXPECT_EQ(r.Text, "Dakota: (101 - Stammdatenupdate ist überfallig, aktives Zertifikat läuft bald ab)");
    EXPECT_EQ(dakota.GetDakotaResult().Code, -1);   // waiting runs leave no runner behind
}

TEST_F(DakotaFixture, StartFailureReachesTheOwnerAndTheRunnerIsForgottenAfterwards) {
    dakota.Info.InstDir = s.tmp.file("anderswo");
    EXPECT_EQ(dakota.GetDakotaResult().Code, -1);
    TDakotaResult inHandler;
    std::thread::id handlerThread;
    bool failed = false, started = false;
    dakota.SetDakotaNotifications(TDakotaNotifications{
        [&](TExtProcess&) {
            inHandler = dakota.GetDakotaResult();
            handlerThread = std::this_thread::get_id();
            failed = true;
        },
        [&](TExtProcess&) {}, nullptr, [&](TExtProcess&) { started = true; }});
    std::string text;
    EXPECT_TRUE(dakota.StartDakota(text));   // set going; the failure comes later
    EXPECT_EQ(text, " started ");
    ASSERT_TRUE(queue->ProcessUntil([&] { return failed; }, 20s));
    EXPECT_FALSE(started);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(inHandler.Code, ENOENT);
    EXPECT_EQ(inHandler.Text, "Startfehler");
    EXPECT_EQ(dakota.DakotaProcess(), nullptr);
    EXPECT_EQ(dakota.GetDakotaResult().Code, -1);
}

TEST_F(DakotaFixture, ProcessingCountsTheOrdersAndReportsTheEndOnTheOwnerThread) {
    s.Configure(std::string("PROCESS=1\nPROTOCOL=") + OdbcSetup::Dsn + "\n");
    OdbcSetup::Get().ResetTable();
    s.AddOrder("10101010", "ESOL0001");
    s.AddOrder("10101010", "ESOL0002");
    s.AddOrder("20202020/tief", "ESOL0003");

    std::vector<std::string> events;
    std::vector<std::thread::id> threads;
    TDakotaResult atEnd;
    bool ended = false;
    int ticks = 0;
    dakota.SetDakotaNotifications(TDakotaNotifications{
        [&](TExtProcess&) { events.push_back("starterror"); ended = true; },
        [&](TExtProcess&) {
            events.push_back("ended");
            threads.push_back(std::this_thread::get_id());
            atEnd = dakota.GetDakotaResult();
            dakota.ForgetDakotaProcess();
            ended = true;
        },
        [&](TExtProcess&) { ++ticks; threads.push_back(std::this_thread::get_id()); },
        [&](TExtProcess&) {
            events.push_back("started");
            threads.push_back(std::this_thread::get_id());
        }});
    EXPECT_EQ(dakota.CountDakotaFiles().Input, 3);
    EXPECT_EQ(dakota.CountDakotaFiles().Output, 0);   // the output directory does not exist yet

    std::string text;
    int n = -1;
    EXPECT_TRUE(dakota.StartDakotaProcessing(text, n));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(text, " started ");
    ASSERT_TRUE(queue->ProcessUntil([&] { return ended; }, 30s));
    EXPECT_EQ(events, (std::vector<std::string>{"started", "ended"}));
    EXPECT_GE(ticks, 1);
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(atEnd.Code, 1);
    EXPECT_EQ(atEnd.Text, "Daten verarbeitet. Warnung: Zertifikat läuft bald ab.");
    EXPECT_EQ(dakota.GetDakotaResult().Code, -1);

    TDakotaFileCount c = dakota.CountDakotaFiles();
    EXPECT_EQ(c.Input, 0);
    EXPECT_EQ(c.Output, 3);
    EXPECT_TRUE(FileExists(s.exp + "/20202020/tief/ESOL0003"));
    EXPECT_TRUE(FileExists(s.exp + "/10101010/ESOL0001.AUF"));
    EXPECT_TRUE(Contains(s.Log(), "start -x"));
}

TEST_F(DakotaFixture, ProtocolAndPlainStartUseTheirSwitches) {
    s.Configure("RUN_MS=0\n");
    int ended = 0;
    dakota.SetDakotaNotifications(TDakotaNotifications{nullptr, [&](TExtProcess&) { ++ended; }, nullptr, nullptr});
    std::string text;
    EXPECT_TRUE(dakota.StartDakotaProtocol(text));
    ASSERT_TRUE(queue->ProcessUntil([&] { return ended == 1; }, 20s));
    EXPECT_TRUE(dakota.StartDakota(text));
    ASSERT_TRUE(queue->ProcessUntil([&] { return ended == 2; }, 20s));
    EXPECT_EQ(s.Log(), "start -k\nende 0\nstart \nende 0\n");
    EXPECT_EQ(dakota.GetDakotaResult().Code, 0);   // not forgotten: the last runner's result
}

TEST_F(DakotaFixture, StopDakotaKillsAProcessThatIgnoresTheQuitRequestWithCode99) {
    s.Configure("RUN_MS=-1\nIGNORE_TERM=1\n");
    TDakotaResult atEnd;
    int ended = 0;
    dakota.SetDakotaNotifications(TDakotaNotifications{
        nullptr, [&](TExtProcess&) { ++ended; atEnd = dakota.GetDakotaResult(); }, nullptr, nullptr});
    std::string text;
    ASSERT_TRUE(dakota.StartDakota(text));
    std::weak_ptr<TExtProcess> runner = dakota.DakotaProcess();
    ASSERT_TRUE(s.WaitForLog(*queue, "start \n"));
    auto t0 = std::chrono::steady_clock::now();
    dakota.StopDakota();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 1000ms);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(atEnd.Code, 99);
    EXPECT_EQ(atEnd.Text, "Unbekannt");
    EXPECT_EQ(dakota.DakotaProcess(), nullptr);
    EXPECT_EQ(dakota.GetDakotaResult().Code, -1);
    EXPECT_FALSE(Contains(s.Log(), "ende"));
    dakota.StopDakota();   // nothing left to stop
}

TEST(DakotaLifetimeTest, DestroyingTheBridgeStopsDakotaWithoutCallingItsHandlers) {
    StandIn s;
    s.Configure("RUN_MS=-1\nTERM_EXIT=6\n");
    auto queue = std::make_shared<MessageQueue>();
    int calls = 0;
    std::weak_ptr<TExtProcess> runner;
    {
        TDakota dakota(queue);
        dakota.Info.InstDir = s.inst;
        dakota.SetDakotaNotifications(TDakotaNotifications{
            [&](TExtProcess&) { ++calls; }, [&](TExtProcess&) { ++calls; }, nullptr, [&](TExtProcess&) { ++calls; }});
        std::string text;
        ASSERT_TRUE(dakota.StartDakotaProtocol(text));
        runner = dakota.DakotaProcess();
        ASSERT_TRUE(queue->ProcessUntil([&] { return calls == 1; }, 20s));   // started
        ASSERT_TRUE(s.WaitForLog(*queue, "start -k"));
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Contains(s.Log(), "ende 6"));
    EXPECT_TRUE(WaitUntilFreed(*queue, runner));
}

TEST(DakotaFilesTest, CountDakotaFilesCountsAufFilesInAllSubdirectoriesAndMissingDirectoriesAsZero) {
    TempDir tmp;
    TDakota dakota(std::make_shared<MessageQueue>());
    dakota.Info.DataDir = tmp.file("fehlt");
    dakota.Info.ExpDir = "";
    EXPECT_EQ(dakota.CountDakotaFiles().Input, 0);
    EXPECT_EQ(dakota.CountDakotaFiles().Output, 0);

    std::filesystem::create_directories(tmp.file("in/a/b"));
    for (const char* f : {"in/X.AUF", "in/a/Y.auf", "in/a/b/Z.AUF", "in/a/b/Z", "in/a/b/Z.AUF.LOG", "in/W.ENC"})
        WriteText(tmp.file(f), "x");
    dakota.Info.DataDir = tmp.file("in");
    dakota.Info.ExpDir = tmp.file("in/a");
    EXPECT_EQ(dakota.CountDakotaFiles().Input, 3);
    EXPECT_EQ(dakota.CountDakotaFiles().Output, 2);
}
