// The program stopped at every single step that changes the disk, as a kill
// at that moment would stop it, then started again: whatever moment it was,
// every invoice is billed exactly once or open in the inbox, no file of an
// order without a row is left where it could be handed over, every table
// reads, no transfer name is used twice and an order marked sent stays
// marked. The runs are small and the data directory lies on a memory file
// system, so that a few hundred stops take seconds.

#include "ControllerFixture.h"

#include <atomic>
#include <map>
#include <set>

#include "archive/Staging.h"

using namespace brenvo;
using namespace ctltest;

namespace {

// From the n-th operation that changes the disk on, every write, sync,
// rename, link and delete is refused: the disk stays as a program killed at
// that moment left it, whatever the program in memory goes on doing.
class DiskStop {
public:
    // At the n-th operation.
    explicit DiskStop(int at) : DiskStop([at](int n, FileOp, const std::string&) { return n == at; }) {}
    // At the first operation `here` picks (its number counted from 1, its kind, its path).
    explicit DiskStop(std::function<bool(int, FileOp, const std::string&)> here) : here_(std::move(here)) {
        SetFileOpHook([this](FileOp op, const std::string& path) {
            if (stopped_) return false;
            if (here_(++count_, op, path)) {
                stopped_ = true;
                return false;
            }
            return true;
        });
    }
    ~DiskStop() { SetFileOpHook(nullptr); }
    DiskStop(const DiskStop&) = delete;
    DiskStop& operator=(const DiskStop&) = delete;
    bool Stopped() const { return stopped_; }
    int Count() const { return count_; }

private:
    const std::function<bool(int, FileOp, const std::string&)> here_;
    std::atomic<int> count_{0};
    std::atomic<bool> stopped_{false};
};

// Every operation in the normal build; the sanitizer build, ten times
// slower, which looks for memory faults along the same paths, takes every
// third.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStride = 3;
#else
constexpr int kStride = 1;
#endif

struct InvoiceFile {
    std::string name;
    std::string number;
    std::string bytes;
    bool mayFail = false;   // the run refuses it (it may stay in the inbox marked "FEHLER")
};

class CrashTest : public ControllerTest {
protected:
    CrashTest() : ControllerTest(MemoryDiskBase()) {}

    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
    }

    void AddInvoice(const std::string& number, const std::string& costBearer, const std::string& file,
                    bool mayFail = false) {
        WriteInvoice(number, costBearer, EncodeDate(2024, 11, 22), false, file);
        invoices.push_back({file, number, ReadFileBytes(Path("import/" + file)), mayFail});
    }

    // The prepared data directory, to start every attempt from.
    void KeepAsTemplate() {
        std::filesystem::copy(dir.path(), tmpl.path(), std::filesystem::copy_options::recursive);
    }
    void FromTemplate() {
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove_all(e.path());
        std::filesystem::copy(tmpl.path(), dir.path(), std::filesystem::copy_options::recursive);
    }

    // Runs `scenario` on a fresh copy with the disk stopped at operation n;
    // true when the scenario ended before it reached n.
    bool Attempt(int n, const std::function<void(TMainController&)>& scenario) {
        FromTemplate();
        DiskStop stop(n);
        Run(scenario);
        return !stop.Stopped();
    }
    void Run(const std::function<void(TMainController&)>& scenario) {
        {
            TMainController c(view, dir.path());
            try {
                if (c.Startup()) scenario(c);
            } catch (const std::exception& e) {
                view.ShowMessage(MessageKind::Error, e.what());   // as the window's error box would
            }
            c.Shutdown();
        }
    }

    // Stops the scenario at every operation in turn, starts the program
    // again each time and checks the invariants, then finishes the work with
    // further runs and checks that everything is billed once. Returns the
    // last operation it stopped at (about the number of the scenario's).
    int StopEverywhere(const std::function<void(TMainController&)>& scenario,
                       const std::function<void(TMainController&, int)>& afterRestart = {}) {
        int stopCount = 0;
        for (int n = 1;; n += kStride) {
            view = RecordingView();
            if (Attempt(n, scenario)) break;
            stopCount = n;
            SCOPED_TRACE("angehalten bei Schritt " + std::to_string(n));
            view = RecordingView();
            auto c = std::make_unique<TMainController>(view, dir.path());
            EXPECT_TRUE(c->Startup()) << Joined();
            CheckInvariants(false);
            CheckRecoveryLog();
            if (afterRestart) afterRestart(*c, n);
            // The work left is done by the next runs.
            for (int runs = 0; runs < 3; ++runs) {
                c->actProzessStartExecute();
                if (c->LastRun().Completed) break;
            }
            c->Shutdown();
            c.reset();
            CheckInvariants(true);
            if (HasFailure()) break;
        }
        return stopCount;
    }

    std::string ArchivedBytes(const std::string& name) const {
        return Exists("ArchivR/" + name) ? ReadFileBytes(Path("ArchivR/" + name)) : "";
    }

    // What the disk holds after a start. Orders the user deleted keep their
    // files (they stay in the order archive, as "Löschen" leaves them).
    void CheckInvariants(bool allDone) {
        // Nothing half-done is left.
        EXPECT_FALSE(Exists("Journal/Verarbeitung.jnl"));
        EXPECT_FALSE(Exists("Journal/Verarbeitung.laufend"));
        EXPECT_TRUE(ListFiles(StagingDirOf(Path("ArchivR")), "*").empty());
        EXPECT_TRUE(ListFiles(StagingDirOf(Path("ArchivA")), "*").empty());

        // Every table reads.
        Table rech, auf, settings, base;
        ASSERT_NO_THROW(rech.LoadFromFile(Stamm("Rechnungen.xml")));
        ASSERT_NO_THROW(auf.LoadFromFile(Stamm("Auftraege.xml")));
        ASSERT_NO_THROW(settings.LoadFromFile(Stamm("brenvo.XML")));
        ASSERT_NO_THROW(base.LoadFromFile(Stamm("KT_BASE.XML")));

        std::map<std::string, std::string> orderOf;   // handle -> transfer name
        std::set<std::string> transfers, references;
        int highestTransfer = 0;
        for (auf.First(); !auf.Eof(); auf.Next()) {
            const std::string transfer = auf.AsString("A_TRANSFER");
            orderOf[auf.AsString("A_HANDLE")] = transfer;
            EXPECT_TRUE(transfers.insert(transfer).second) << "Transfername doppelt: " << transfer;
            EXPECT_TRUE(references.insert(auf.AsString("A_EMPF_IK") + "/" + auf.AsString("DTAREF")).second)
                << "Datenaustauschreferenz doppelt: " << auf.AsString("DTAREF");
            highestTransfer = std::max(highestTransfer, int(StrToIntDef(transfer.substr(5), 0)));
        }
        ASSERT_TRUE(settings.Locate("KEY", {Value(std::string("MAXTRANSFER"))}));
        EXPECT_GE(StrToIntDef(settings.AsString("VALUE"), 0), highestTransfer) << "a transfer number would come again";

        // Every file of the order archive and of the temporary directory
        // belongs to an order that has a row, and every order has its files.
        auto known = [&](const std::string& handle) { return orderOf.count(handle) || deletedByUser.count(handle); };
        // (A temporary file a stopped write left, ".name.….tmp", is no order
        // file: nothing ever takes it.)
        for (const char* d : {"ArchivA", "temp"})
            for (const std::string& f : Files(d)) {
                if (f[0] == '.') continue;
                EXPECT_TRUE(known(f.substr(0, f.find('.')))) << d << "/" << f;
            }
        for (const auto& [handle, transfer] : orderOf)
            for (const char* ext : TSGBAuftrag::FileExts) EXPECT_TRUE(Exists("ArchivA/" + handle + ext)) << handle << ext;

        const std::vector<std::string> inbox = Files("import");
        auto inInbox = [&](const InvoiceFile& inv, bool marked) {
            const std::string name = (marked ? ErrorPrefix : "") + inv.name;
            return std::find(inbox.begin(), inbox.end(), name) != inbox.end() &&
                   ReadFileBytes(Path("import/" + name)) == inv.bytes;
        };
        for (const InvoiceFile& inv : invoices) {
            SCOPED_TRACE(inv.name);
            // Billed: a row whose archived file is this invoice, its order
            // recorded, its data in exactly one billing file of the archive.
            int rows = 0;
            std::string handle;
            for (rech.First(); !rech.Eof(); rech.Next())
                if (rech.AsString("R_NUMMER") == inv.number && ArchivedBytes(rech.AsString("R_FILENAME")) == inv.bytes) {
                    ++rows;
                    handle = rech.AsString("R_HANDLE");
                }
            const bool open = inInbox(inv, false) || (inv.mayFail && inInbox(inv, true));
            EXPECT_LE(rows, 1) << "zweimal abgerechnet";
            EXPECT_NE(rows == 1, open) << "abgerechnet " << rows << ", offen " << open;
            if (rows == 1) {
                EXPECT_TRUE(known(handle)) << handle;
                int billingFiles = 0;
                for (const std::string& f : Files("ArchivA"))
                    if (f.find('.') == std::string::npos &&
                        Contains(ReadFileBytes(Path("ArchivA/" + f)), "REC+" + inv.number + ":"))
                        ++billingFiles;
                EXPECT_EQ(billingFiles, 1);
            }
            if (allDone) {
                EXPECT_EQ(rows == 1, !inv.mayFail);
            }
        }
    }

    // Each recovered invoice is named once in the log of the start.
    void CheckRecoveryLog() {
        std::set<std::string> named;
        for (const std::string& line : view.LinesWith("Wiederherstellung: Rechnung ")) {
            const std::string name = line.substr(28, line.find(' ', 28) - 28);
            EXPECT_TRUE(named.insert(name).second) << line;
        }
    }

    TempDir tmpl{MemoryDiskBase()};
    std::vector<InvoiceFile> invoices;
    std::set<std::string> deletedByUser;
};

} // namespace

TEST_F(CrashTest, CollectiveRunStoppedAtEveryStep) {
    SetSettings({{"SYST_ZUSF", "T"}});
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    AddInvoice("R-2", kIKKThuer, "R-2.xml");
    AddInvoice("R-3", kRheinOKK, "R-3.xml");
    KeepAsTemplate();
    const int steps = StopEverywhere([](TMainController& c) { c.actProzessStartExecute(); });
    EXPECT_GT(steps, 60) << steps;
}

TEST_F(CrashTest, SingleModeRunStoppedAtEveryStep) {
    SetSettings({{"SYST_ZUSF", "F"}});
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    AddInvoice("R-2", kIKKThuer, "R-2.xml");
    KeepAsTemplate();
    const int steps = StopEverywhere([](TMainController& c) { c.actProzessStartExecute(); });
    EXPECT_GT(steps, 60) << steps;
}

// The job refuses its second invoice (the number of the first again) and
// gives back what it had taken.
TEST_F(CrashTest, FailingJobStoppedAtEveryStep) {
    SetSettings({{"SYST_ZUSF", "T"}});
    AddInvoice("R-1", kRheinOKK, "a.xml");
    AddInvoice("R-1", kIKKThuer, "b.xml", true);
    AddInvoice("R-3", kIKKThuer, "c.xml");
    KeepAsTemplate();
    StopEverywhere([](TMainController& c) { c.actProzessStartExecute(); });
}

// The export to DAKOTA, marking sent and deleting on the orders of a run.
TEST_F(CrashTest, OrderActionsStoppedAtEveryStep) {
    SetSettings({{"SYST_ZUSF", "T"},
                 {"DAKOTA_AKTIV", "T"},
                 {"DAKOTA_DATADIR", Path("dakota")},
                 {"DAKOTA_INSTDIR", Path("dakota")}});
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    AddInvoice("R-2", kIKKThuer, "R-2.xml");
    {
        auto c = Started();
        c->actProzessStartExecute();
        ASSERT_EQ(c->Outbox().Count(), 2u);
        c->Shutdown();
    }
    KeepAsTemplate();

    // Where the actions end, counted on a run without a stop.
    int marked = 0, deleted = 0;
    std::string sentHandle, deletedHandle, deletedTransfer;
    auto actions = [&](TMainController& c, int* markedAt, int* deletedAt, const std::function<int()>& count) {
        const int64_t first = c.Outbox().Item(0).Id, second = c.Outbox().Item(1).Id;
        c.actDakotaExportExecute();
        c.actEmailVersandtExecute(TOrderSelection::InOutbox({first}));
        if (markedAt) *markedAt = count();
        c.actAuftragLoeschenExecute(TOrderSelection::InGrid(second));
        if (deletedAt) *deletedAt = count();
    };
    {
        FromTemplate();
        DiskStop counting(1 << 30);
        auto c = Started();
        c->AuftragStore()->LocateById(c->Outbox().Item(0).Id);
        sentHandle = c->AuftragStore()->GetTable().AsString("A_HANDLE");
        c->AuftragStore()->LocateById(c->Outbox().Item(1).Id);
        deletedHandle = c->AuftragStore()->GetTable().AsString("A_HANDLE");
        deletedTransfer = c->AuftragStore()->GetTable().AsString("A_TRANSFER");
        actions(*c, &marked, &deleted, [&] { return counting.Count(); });
    }
    ASSERT_GT(deleted, marked);
    deletedByUser.insert(deletedHandle);

    const int steps = StopEverywhere([&](TMainController& c) { actions(c, nullptr, nullptr, {}); },
                   [&](TMainController& c, int stoppedAt) {
                       TAuftragSTore& orders = *c.AuftragStore();
                       bool sent = false;
                       orders.ReadRows({sentHandle},
                                       [&sent](const std::string&, const Table& t) { sent = !t.IsNull("A_VERSANDT"); });
                       if (stoppedAt > marked) {
                           EXPECT_TRUE(sent) << "the mark sent is lost";
                       }
                       if (stoppedAt > deleted) {
                           EXPECT_FALSE(orders.HasHandle(deletedHandle));
                       }
                       // Whatever reached DAKOTA's hand-over directory belongs to an
                       // order with a row (or to the one the user deleted after its export).
                       for (const std::string& f : ListFilesRecursive(Path("dakota"), "*")) {
                           if (ExtractFileName(f)[0] == '.') continue;   // a stopped copy's temporary file
                           const std::string transfer = ChangeFileExt(ExtractFileName(f), "");
                           bool known = transfer == deletedTransfer;
                           Table& t = orders.GetTable();
                           for (t.First(); !t.Eof(); t.Next()) known = known || t.AsString("A_TRANSFER") == transfer;
                           EXPECT_TRUE(known) << f;
                       }
                   });
    EXPECT_GT(steps, deleted);
}

// What a start after a stop says, invoice by invoice.
TEST_F(CrashTest, TheStartAfterAStopNamesEachInvoiceItFinishedOrGaveBack) {
    SetSettings({{"SYST_ZUSF", "T"}});
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    AddInvoice("R-2", kIKKThuer, "R-2.xml");
    KeepAsTemplate();
    auto run = [](TMainController& c) { c.actProzessStartExecute(); };
    auto restart = [&] {
        view = RecordingView();
        TMainController c(view, dir.path());
        EXPECT_TRUE(c.Startup());
        return view.LinesWith("Wiederherstellung: Rechnung ");
    };

    // Stopped while the record of the result is being written: nothing was
    // final yet, both invoices are open again, the orders' files are gone.
    {
        DiskStop stop([](int, FileOp op, const std::string& path) {
            return op == FileOp::Rename && EndsWith(path, "Verarbeitung.jnl");
        });
        Run(run);
        ASSERT_TRUE(stop.Stopped());
    }
    std::vector<std::string> lines = restart();
    EXPECT_TRUE(view.Logged("Init Wiederherstellung nach einem Abbruch..."));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Wiederherstellung: Rechnung R-1.xml war nicht fertig abgerechnet und liegt wieder offen im "
                         "Eingangskorb.",
                         "Wiederherstellung: Rechnung R-2.xml war nicht fertig abgerechnet und liegt wieder offen im "
                         "Eingangskorb."}))
        << Joined();
    const std::vector<std::string> orders = view.LinesWith("Wiederherstellung: Auftrag ");
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_TRUE(EndsWith(orders[0], " war nicht fertig geschrieben; 6 Dateien gelöscht.")) << orders[0];
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"R-1.xml", "R-2.xml"}));
    CheckInvariants(false);

    // Stopped right after the record: the start finishes the run.
    FromTemplate();
    {
        DiskStop stop([](int, FileOp op, const std::string& path) {
            return op == FileOp::Rename && Contains(path, "ArchivR");
        });
        Run(run);
        ASSERT_TRUE(stop.Stopped());
    }
    lines = restart();
    ASSERT_EQ(lines.size(), 2u) << Joined();
    EXPECT_TRUE(StartsWith(lines[0], "Wiederherstellung: Rechnung R-1.xml (Nr. R-1) ist abgerechnet im Auftrag TSOL0001 (109910014_"))
        << lines[0];
    EXPECT_TRUE(StartsWith(lines[1], "Wiederherstellung: Rechnung R-2.xml (Nr. R-2) ist abgerechnet im Auftrag TSOL0002 (109910025_"))
        << lines[1];
    EXPECT_TRUE(Files("import").empty());
    CheckInvariants(true);

    // A start with nothing to recover says nothing of it.
    restart();
    EXPECT_FALSE(view.Logged("Init Wiederherstellung nach einem Abbruch..."));
}

// A record that cannot be read is not guessed at: the start stops and says
// where it is; nothing is touched.
TEST_F(CrashTest, AnUnreadableRecordStopsTheStart) {
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    ForceDirectories(Path("Journal"));
    AtomicWriteFile(Path("Journal/Verarbeitung.jnl"), "Brenvo-Verarbeitung 1\nMAXTRANSFER\t7\n");
    auto c = std::make_unique<TMainController>(view, dir.path());
    EXPECT_FALSE(c->Startup());
    EXPECT_TRUE(view.Logged("Init ABBRUCH Die Datei " + Path("Journal/Verarbeitung.jnl") +
                            " ist kein vollständiges Verarbeitungsprotokoll (Ende fehlt)."))
        << Joined();
    EXPECT_TRUE(Exists("Journal/Verarbeitung.jnl"));
    EXPECT_EQ(Files("import"), (std::vector<std::string>{"R-1.xml"}));
}

// Orders marked sent or deleted by the user whose table was never saved.
TEST_F(CrashTest, OrderChangesOfAProgramThatEndedWithoutSavingAreKept) {
    SetSettings({{"SYST_ZUSF", "T"}});
    AddInvoice("R-1", kRheinOKK, "R-1.xml");
    AddInvoice("R-2", kIKKThuer, "R-2.xml");
    std::string sent, deleted;
    {
        auto c = Started();
        c->actProzessStartExecute();
        ASSERT_EQ(c->Outbox().Count(), 2u);
        const int64_t first = c->Outbox().Item(0).Id, second = c->Outbox().Item(1).Id;
        c->AuftragStore()->LocateById(first);
        sent = c->AuftragStore()->GetTable().AsString("A_TRANSFER");
        c->AuftragStore()->LocateById(second);
        deleted = c->AuftragStore()->GetTable().AsString("A_TRANSFER");
        c->actEmailVersandtExecute(TOrderSelection::InOutbox({first}));
        c->actAuftragLoeschenExecute(TOrderSelection::InGrid(second));
        // The program ends here without its shut-down.
        DiskStop stop(1);
        c.reset();
    }
    view = RecordingView();
    auto c = Started();
    const std::vector<std::string> lines = view.LinesWith("Wiederherstellung: Auftrag ");
    ASSERT_EQ(lines.size(), 2u) << Joined();
    EXPECT_TRUE(StartsWith(lines[0], "Wiederherstellung: Auftrag " + sent + " (")) << lines[0];
    EXPECT_TRUE(EndsWith(lines[0], ") als versandt markiert.")) << lines[0];
    EXPECT_TRUE(EndsWith(lines[1], ") gelöscht.")) << lines[1];
    EXPECT_EQ(c->Outbox().Count(), 0u);
    Table auf;
    auf.LoadFromFile(Stamm("Auftraege.xml"));
    ASSERT_EQ(auf.RecordCount(), 1);
    auf.First();
    EXPECT_EQ(auf.AsString("A_TRANSFER"), sent);
    EXPECT_FALSE(auf.IsNull("A_VERSANDT"));
    EXPECT_FALSE(Exists("Journal/Auftraege.jnl"));
}
