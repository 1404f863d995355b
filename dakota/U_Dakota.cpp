#include "U_Dakota.h"

#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

std::string DakotaStatusText(int code) {
    switch (code) {
    case 0: return "Daten verarbeitet.";
    case 1: return "Daten verarbeitet. Warnung: Zertifikat läuft bald ab.";
    case 2: return "Keine Daten zur Verarbeitung.";
    case 3: return "Keine Daten zur Verarbeitung. Warnung: Zertifikat läuft bald ab";
    case 4: return "Fehler bei Verarbeitung. Siehe Protokoll";
    case 5: return "Fehler bei Verabreitung. Siehe Protokoll. Warnung: Zertifikat läuft bald ab";
    case 6: return "Aktion abgebrochen";
    case 7: return "Aktion abgebrochen. Warnung: Zertifikat läuft bald ab";
    case 8:
    case 11:
    case 12:
    case 13:
    case 15:
    case 17: return "N/A";
    case 9: return "Kein Zertifikat. (Antwort auf Antrag noch nicht eingelesen)";
    case 10: return "Konfiguration nicht vollständig";
    case 14: return "Falscher Programmaufruf";
    case 16: return "Interner Fehler.";
    case 18: return "Programm bereits geladen";
    case 90: return "Nachfolgezertifikat beantragt";
    case 91: return "Nachfolgezertifikat beantragt, aktives Zertifikat läuft bald ab";
    case 100: return "Stammdatenupdate ist überfällig";
    case 101: return "Stammdatenupdate ist überfallig, aktives Zertifikat läuft bald ab";
    default: return "Unbekannt";
    }
}

int CountAufFiles(const std::string& dir) {
    if (dir.empty() || !DirectoryExists(dir)) return 0;
    return static_cast<int>(ListFilesRecursive(dir, "*.AUF").size());
}

TDakota::TDakota(std::shared_ptr<MessageQueue> queue)
    : queue_(std::move(queue)), hub_(std::make_shared<Hub>()) {}

TDakota::~TDakota() {
    // The handlers belong to an owner that is going away too: from now on the
    // runner's notifications reach nobody.
    hub_->alive = false;
    StopDakota();
}

std::string TDakota::ProgramPath() const {
    // An empty setting names no directory (and not the current one).
    if (Trim(Info.InstDir).empty()) return {};
    return PathJoin(Info.InstDir, ProgramName);
}

bool TDakota::IsDakotaInstalled() {
    const std::string path = ProgramPath();
    Info.Installed = !path.empty() && FileExists(path);
    return Info.Installed;
}

std::string TDakota::CommandLine(const std::string& sw) const {
    // The path is quoted when it holds blanks or other special characters;
    // the switch follows after one blank.
    return QuoteCommandWord(ProgramPath()) + " " + sw;
}

TDakotaResult TDakota::RunDakota(const std::string& sw, bool async) {
    TDakotaResult result;
    if (async) {
        auto runner = std::make_shared<TExtProcess>(CommandLine(sw), true, std::string(), queue_);
        // The handlers run on the queue's thread, as does everything here;
        // they go quiet once this object is gone.
        auto relay = [hub = hub_](TProcessEvent handler) -> TProcessEvent {
            if (!handler) return nullptr;
            return [hub, handler](TExtProcess& sender) {
                if (hub->alive) handler(sender);
            };
        };
        runner->OnStarted = relay(notifications_.OnStarted);
        runner->OnTerminated = relay(notifications_.OnTerminated);
        runner->OnTick = relay(notifications_.OnTick);
        // After a failed start the bridge lets go of the runner itself, once
        // the owner's handler has seen it.
        runner->OnStartError = [hub = hub_, handler = notifications_.OnStartError](TExtProcess& sender) {
            if (hub->alive && handler) handler(sender);
            if (hub->runner.get() == &sender) hub->runner.reset();
        };
        // The handlers cannot run before this thread pumps again, so the
        // runner is remembered once its thread is going.
        runner->StartThread();
        runner_ = runner;
        result.Code = 0;
        result.Text = " started ";
        return result;
    }
    TExtProcess runner(CommandLine(sw), false);
    result.Code = runner.RunAndWait(TExtProcess::Infinite, true);
    result.Text = Format("Dakota: (%d - %s)", {result.Code, DakotaStatusText(result.Code)});
    return result;
}

int TDakota::QueryDakotaStatus() {
    Info.Ready = false;
    int code = RunDakota("-s", false).Code;
    Info.Ready = code == 0;
    return code;
}

bool TDakota::CheckDakotaReady(std::string& text) {
    if (!IsDakotaInstalled()) {
        text = "Dakota nicht installiert.";
        return false;
    }
    int code = QueryDakotaStatus();
    if (code != 0) {
        text = Format("Dakota installiert aber nicht bereit (Dakota: %d - %s)", {code, DakotaStatusText(code)});
        return false;
    }
    text = "Dakota installiert und bereit";
    return true;
}

bool TDakota::StartDakota(std::string& text) {
    TDakotaResult r = RunDakota("", true);
    text = r.Text;
    return r.Code == 0;
}

bool TDakota::StartDakotaProtocol(std::string& text) {
    text = RunDakota("-k", true).Text;
    return true;
}

bool TDakota::StartDakotaProcessing(std::string& text, int& fileCount) {
    fileCount = CountAufFiles(Info.DataDir);
    TDakotaResult r = RunDakota("-x", true);
    text = r.Text;
    return r.Code == 0;
}

TDakotaResult TDakota::GetDakotaResult() const {
    TDakotaResult r;
    if (!runner_) {
        r.Code = -1;
        r.Text = DakotaStatusText(r.Code);
        return r;
    }
    if (runner_->Started()) {
        r.Code = runner_->ExitCode();
        r.Text = DakotaStatusText(r.Code);
    } else if (runner_->ErrorCode() != 0) {
        r.Code = runner_->ErrorCode();
        r.Text = "Startfehler";
    } else {
        // The worker has not tried the start yet: as good as running.
        r.Code = TExtProcess::StillActive;
        r.Text = DakotaStatusText(r.Code);
    }
    return r;
}

void TDakota::StopDakota() {
    std::shared_ptr<TExtProcess> runner = runner_;   // a handler may forget it meanwhile
    if (!runner) return;
    try {
        runner->StopProcess(StopExitCode, StopWaitMs);
    } catch (...) {
        // stopping at shut-down must not fail
    }
    if (runner_ == runner) runner_.reset();
}

void TDakota::ForgetDakotaProcess() { runner_.reset(); }

void TDakota::SetDakotaNotifications(TDakotaNotifications notifications) {
    notifications_ = std::move(notifications);
}

TDakotaFileCount TDakota::CountDakotaFiles() const {
    return TDakotaFileCount{CountAufFiles(Info.DataDir), CountAufFiles(Info.ExpDir)};
}

} // namespace brenvo
