// The import of the insurers' cost-bearer files into the cost-bearer
// directory, the reloading of the directory, and the completion of an
// import a crash interrupted, at start-up.

#include <exception>
#include <functional>
#include <thread>

#include "costbearer/KotrImport.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

// How many IKs a question or a log line names before it stops.
constexpr size_t kNamedIKs = 12;

std::string IKList(const std::vector<std::string>& iks) {
    std::vector<std::string> named(iks.begin(), iks.begin() + long(std::min(iks.size(), kNamedIKs)));
    return Join(named, ", ") + (iks.size() > kNamedIKs ? ", ..." : "");
}

// The table as the store holds it, or, when the store has closed it (after
// the DTAREF column was added to its file), as its file holds it. A row the
// maintenance view is editing must be saved or dropped first.
Table& Current(Table& held, const std::string& file, Table& scratch) {
    if (held.Active()) {
        if (held.GetState() == Table::State::Edit || held.GetState() == Table::State::Insert)
            throw Error("Kostenträger-Import nicht möglich: eine Änderung der Kostenträgerdaten ist noch nicht "
                        "gespeichert oder verworfen.");
        return held;
    }
    if (FileExists(file)) scratch.LoadFromFile(file);
    return scratch;
}

} // namespace

void TMainController::LoadCostBearerFiles(TSGBKTStore& store, bool steps) {
    struct Part {
        const char* step;
        std::function<void()> load;
        std::exception_ptr failure;
    };
    Part parts[] = {
        {"Lade Stammdaten Kostenträger Base...",
         [&] { store.LoadKTBase(paths_.StammdatenFile(KtDirectoryFiles::Base)); }, nullptr},
        {"Lade Stammdaten Kostenträger Zuordnungen...",
         [&] { store.LoadKTZuordn(paths_.StammdatenFile(KtDirectoryFiles::Zuordn)); }, nullptr},
        {"Lade Stammdaten Kostenträger Anschriften...",
         [&] { store.LoadKTAnschrift(paths_.StammdatenFile(KtDirectoryFiles::Anschrift)); }, nullptr},
        {"Lade Stammdaten Kostenträger Übermittlungsdaten...",
         [&] { store.LoadKTTransfer(paths_.StammdatenFile(KtDirectoryFiles::Transfer)); }, nullptr},
        {"Lade Stammdaten Schlüssel...", [&] { store.LoadKTKey(paths_.StammdatenFile(KtDirectoryFiles::Key)); },
         nullptr},
    };
    auto load = [](Part& p) {
        try {
            p.load();
        } catch (...) {
            p.failure = std::current_exception();
        }
    };
    if (steps) {
        // At start-up the store is new and nothing watches its tables yet:
        // the links, the largest file, are read on a second thread beside
        // the others. The steps are told afterwards in their order, and the
        // first file that failed in that order stops the start, as when
        // they are read one after the other.
        std::thread links([&] { load(parts[1]); });
        for (Part& p : parts)
            if (&p != &parts[1]) load(p);
        links.join();
        for (Part& p : parts) {
            Step(p.step);
            if (p.failure) std::rethrow_exception(p.failure);
        }
        return;
    }
    for (Part& p : parts) p.load();
}

void TMainController::RecoverCostBearerImport() {
    switch (RecoverCostBearerFiles(paths_.Stammdaten)) {
    case FileSetRecovery::Completed:
        Step("Unterbrochener Kostenträger-Import abgeschlossen: die neuen Kostenträgerdaten gelten.");
        break;
    case FileSetRecovery::RolledBack:
        Step("Unterbrochener Kostenträger-Import verworfen: die bisherigen Kostenträgerdaten gelten.");
        break;
    case FileSetRecovery::Nothing:
        break;
    }
}

void TMainController::ReloadCostBearers() {
    if (!kt_) throw Error("Nicht möglich: die Kostenträgerdaten sind nicht geladen.");
    // Every file is read once before the store is touched, so that a file
    // that cannot be read leaves the store whole.
    TSGBKTStore check(system_);
    LoadCostBearerFiles(check, false);
    LoadCostBearerFiles(*kt_, false);
    FillFederalStates();
}

bool TMainController::actKTImportExecute(const std::vector<std::string>& files, bool allLinks) {
    return RunCostBearerImport(files, allLinks, true);
}

void TMainController::actKTDateienImportierenExecute() {
    const std::vector<std::string> files =
        view_.ChooseFiles("Kostenträgerdateien einlesen", "Kostenträgerdateien (*.ke? *.KE?);;Alle Dateien (*)");
    if (files.empty()) return;
    // The tab's view lets go of the tables' orders while they are read
    // again, and shows its choice on the new ones afterwards.
    const bool shown = ktMaintenance_->Entered();
    if (shown) ktMaintenance_->Leave();
    actKTImportExecute(files, false);
    if (shown) ktMaintenance_->Enter();
}

bool TMainController::ImportCostBearerFiles(const std::vector<std::string>& files, bool allLinks) {
    return RunCostBearerImport(files, allLinks, false);
}

bool TMainController::RunCostBearerImport(const std::vector<std::string>& files, bool allLinks, bool ask) {
    bool replaced = false;
    const bool ok = RunOperation(false, [&] {
        try {
            ImportSteps(files, allLinks, ask, replaced);
        } catch (const std::exception& e) {
            LogLine(std::string(KotrImport::LogPrefix) + (replaced ? "" : "nichts ersetzt: ") + e.what());
            throw;
        }
    });
    return ok && replaced;
}

void TMainController::ImportSteps(const std::vector<std::string>& files, bool allLinks, bool ask, bool& replaced) {
    if (!kt_) throw Error("Nicht möglich: die Kostenträgerdaten sind nicht geladen.");
    const int steps = int(files.size()) + 4;
    const std::string prefix = KotrImport::LogPrefix;
    // The current directory: its counters and rows outlive the import.
    Table scratchBase, scratchAnschrift, scratchTransfer;
    Table& base = Current(kt_->KTBase(), paths_.StammdatenFile(KtDirectoryFiles::Base), scratchBase);
    Table& anschrift =
        Current(kt_->KTAnschrift(), paths_.StammdatenFile(KtDirectoryFiles::Anschrift), scratchAnschrift);
    Table& transfer = Current(kt_->KTTransfer(), paths_.StammdatenFile(KtDirectoryFiles::Transfer), scratchTransfer);
    ShowProgress(0, steps, false, "Kostenträger-Import startet...");
    LogLine(prefix + Format("%d Dateien, %s", {int(files.size()), allLinks ? "alle Verknüpfungen"
                                                                         : "Verknüpfungen für Krankentransport"}));
    KotrImport import(allLinks, Today(), [this](const std::string& line) { LogLine(line); });
    for (size_t i = 0; i < files.size(); ++i) {
        ShowProgress(int(i) + 1, steps, false, "Lese " + ExtractFileName(files[i]));
        import.ReadFile(files[i]);
    }
    ShowProgress(steps - 3, steps, false, "Kostenträgerdaten werden aufgebaut...");
    import.Build();

    const std::vector<std::string> edited = KotrImport::HandEditedIKs(paths_.Stammdaten, base, anschrift, transfer);
    if (!edited.empty()) {
        if (ask && view_.Ask(MessageKind::Confirmation,
                             Format("Die Kostenträgerdaten enthalten von Hand geänderte Angaben zu %d IK:\r%s\r"
                                    "Der Import ersetzt sie. Fortfahren?",
                                    {int(edited.size()), IKList(edited)}),
                             {Answer::Yes, Answer::No}) != Answer::Yes) {
            ShowProgress(steps, steps, false, "Kostenträger-Import abgebrochen.");
            LogLine(prefix + "abgebrochen, die Kostenträgerdaten bleiben unverändert.");
            return;
        }
        LogLine(prefix + Format("von Hand geänderte Angaben zu %d IK werden ersetzt: %s",
                                {int(edited.size()), IKList(edited)}));
    }
    import.CarryOver(base, transfer);

    ShowProgress(steps - 2, steps, false, "Kostenträgerdaten werden geschrieben...");
    import.Write(paths_.Stammdaten);
    replaced = true;
    ShowProgress(steps - 1, steps, false, "Kostenträgerdaten werden geladen...");
    ReloadCostBearers();
    ShowProgress(steps, steps, false, "Kostenträger-Import beendet.");
    LogLine(prefix + "beendet.");
}

} // namespace brenvo
