#include "mainwindow/main.h"

#include <algorithm>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "crypt/U_Krypt.h"
#include "mail/U_Email.h"

namespace brenvo {

namespace {

// Flags are "T" or "F"; only exactly "T" is true.
bool Flag(const std::string& v) { return v == "T"; }
const char* FlagText(bool on) { return on ? "T" : "F"; }

// A relative directory from the settings is taken below the data directory.
std::string BelowRoot(const std::string& root, const std::string& dir) {
    return IsAbsolutePath(dir) ? dir : PathJoin(root, dir);
}

// The width of the settings table's KEY column. Older files have 20, too
// few for keys such as KRYPT_SCHLUESSELLISTE: their column grows when they are
// loaded (and in the file at the next save), so that no key is cut.
constexpr int kSettingsKeyWidth = 40;

void WidenKeyColumn(Table& settings) {
    const int key = settings.FieldIndex("KEY");
    if (key < 0 || settings.Field(key).type != FieldType::String || settings.Field(key).width >= kSettingsKeyWidth)
        return;
    std::vector<FieldDef> fields = settings.Fields();
    fields[size_t(key)].width = kSettingsKeyWidth;
    Table wider(fields);
    for (settings.First(); !settings.Eof(); settings.Next()) {
        wider.Append();
        for (const FieldDef& f : fields)
            if (!settings.IsNull(f.name)) wider.SetString(f.name, settings.AsString(f.name));
        wider.Post();
    }
    settings = std::move(wider);
}

// EMAIL_TLS: "SMTPS" and "keine" in any letter case; anything else, a
// missing key included, is the safe default STARTTLS.
TMailTls MailTlsFromSetting(const std::string& text) {
    if (SameText(text, MailTlsText(TMailTls::Smtps))) return TMailTls::Smtps;
    if (SameText(text, MailTlsText(TMailTls::None))) return TMailTls::None;
    return TMailTls::StartTls;
}

} // namespace

// ============================================================ TDataPaths, TSettingsForm

std::string TDataPaths::StammdatenFile(std::string_view name) const { return PathJoin(Stammdaten, name); }

const std::vector<std::string>& TSettingsForm::VersionList() {
    static const std::vector<std::string> list = {"06", "07", "08", "09", "21"};
    return list;
}

const std::vector<std::string>& TSettingsForm::VerfahrenList() {
    static const std::vector<std::string> list = {"Test", "Erprobung", "Echt"};
    return list;
}

const std::vector<std::string>& TSettingsForm::ArtList() {
    static const std::vector<std::string> list = {"Einzelleistungserbringer", "Abrechnungszentrum"};
    return list;
}

const std::vector<std::string>& TSettingsForm::EmailTlsList() {
    static const std::vector<std::string> list(std::begin(kMailTlsTexts), std::end(kMailTlsTexts));
    return list;
}

// ============================================================ construction

TMainController::TMainController(IMainView& view, std::string rootDir, std::shared_ptr<MessageQueue> queue)
    : view_(view),
      queue_(queue ? std::move(queue) : std::make_shared<MessageQueue>()),
      alive_(std::make_shared<bool>(true)),
      inbox_(BasketKind::Inbox, &view),
      input_(BasketKind::InputBasket, &view),
      outbox_(BasketKind::Outbox, &view) {
    paths_.Root = ExcludeTrailingPathDelimiter(ExpandFileName(rootDir));
    importDir_ = paths_.Import;
    backupDir_ = paths_.Datensicherung;
    form_.VERSION_DATUM = *ParseDDMMYYYY(DefaultVersionDate);
    invoiceFilter_ = TInvoiceArchiveFilter::Initial(Today());
    // The import watcher exists from the start; it watches once start-up
    // gives it the import directory and its handler.
    importWatcher_ = std::make_unique<TShellChangeNotifier>(queue_);
    importWatcher_->SetWatchSubTree(false);
    ktMaintenance_ = std::make_unique<TKTMaintenance>([this] { return kt_.get(); }, einrichtung_, view_);
}

TMainController::~TMainController() {
    *alive_ = false;
    // The views of the cost-bearer tables let go of them first.
    ktMaintenance_->Detach();
    importWatcher_.reset();
    job_.reset();
}

// ============================================================ settings

std::string TMainController::SettingValue(const std::string& key) const {
    auto& table = const_cast<Table&>(settings_);
    if (!table.Locate("KEY", {Value(key)})) return "";
    return table.AsString("VALUE");
}

void TMainController::PutSetting(const std::string& key, const std::string& value) {
    if (settings_.Locate("KEY", {Value(key)})) {
        settings_.Edit();
    } else {
        settings_.Append();
        settings_.SetString("KEY", key);
    }
    settings_.SetString("VALUE", value);
    settings_.Post();
}

void TMainController::LoadSettings() {
    settings_.LoadFromFile(paths_.StammdatenFile(SettingsFileName));
    WidenKeyColumn(settings_);
    settings_.SetFiltered(false);
    settingsLoaded_ = true;
    auto get = [this](const char* key) { return SettingValue(key); };

    // The facility record, each text cut to its width.
    einrichtung_.EINR_IK = Utf8Left(get("EINR_IK"), 9);
    einrichtung_.EINR_NAME1 = Utf8Left(get("EINR_NAME1"), 40);
    einrichtung_.EINR_LAND = Utf8Left(get("EINR_LAND"), 2);
    einrichtung_.EINR_BEZIRK = Utf8Left(get("EINR_BEZIRK"), 2);
    einrichtung_.EINR_STRASSE = Utf8Left(get("EINR_STRASSE"), 40);
    einrichtung_.EIN_PLZORT = Utf8Left(get("EIN_PLZORT"), 40);
    einrichtung_.BRIEFKOPF = Utf8Left(get("BRIEFKOPF"), 200);
    einrichtung_.BRIEFFUSS = Utf8Left(get("BRIEFFUSS"), 200);
    einrichtung_.STEUERNR = Utf8Left(get("STEUERNR"), 30);
    einrichtung_.BANKVERBINDUNG = Utf8Left(get("BANKVERBINDUNG"), 200);
    {
        auto n = ParseInt(get("MAXTRANSFER"));
        einrichtung_.MAXTRANSFER = (n && *n >= INT32_MIN && *n <= INT32_MAX) ? int32_t(*n) : 0;
        form_.MAXTRANSFER = IntToStr(einrichtung_.MAXTRANSFER);
    }

    // The inbox. A relative directory lies below the data directory.
    const std::string dirImp = get("SYST_DIRIMP");
    form_.SYST_DIRIMP = dirImp;
    ApplyImportDirectory(dirImp.empty() ? paths_.Import : BelowRoot(paths_.Root, dirImp));

    // The provider fields and the federal-state choice.
    form_.EINR_IK = einrichtung_.EINR_IK;
    form_.EINR_NAME1 = einrichtung_.EINR_NAME1;
    form_.EINR_STRASSE = einrichtung_.EINR_STRASSE;
    form_.EIN_PLZORT = einrichtung_.EIN_PLZORT;
    form_.EINR_LAND = einrichtung_.EINR_LAND;
    form_.EINR_BEZIRK = einrichtung_.EINR_BEZIRK;
    form_.BRIEFKOPF = einrichtung_.BRIEFKOPF;
    form_.BRIEFFUSS = einrichtung_.BRIEFFUSS;
    form_.STEUERNR = einrichtung_.STEUERNR;
    form_.BANKVERBINDUNG = einrichtung_.BANKVERBINDUNG;
    form_.FederalStateIndex = -1;
    for (size_t i = 0; i < form_.FederalStates.size(); ++i)
        if (Utf8Left(form_.FederalStates[i].Text, 2) == einrichtung_.EINR_LAND) {
            form_.FederalStateIndex = int(i);
            break;
        }

    // Procedure: only "0", "1" and "2" are taken; anything else leaves the
    // choice (and the record) as they were.
    const std::string verf = get("SYST_VERF");
    if (verf == "0" || verf == "1" || verf == "2") {
        form_.SYST_VERF = verf[0] - '0';
        system_.SYST_VERF = uint8_t(form_.SYST_VERF);
    }
    // Kind: a decimal number stored as a byte; anything else leaves it.
    if (auto art = ParseInt(get("SYST_ART")); art && *art >= 0 && *art <= 255) {
        system_.SYST_ART = uint8_t(*art);
        form_.SYST_ART = int(*art);
    }

    form_.SYST_ZUSF = Flag(get("SYST_ZUSF"));
    form_.OPT_NOEMAILDIALOG = Flag(get("OPT_NOEMAILDIALOG"));
    form_.OPT_XMLCONVERSION = Flag(get("OPT_XMLCONVERSION"));
    form_.OPT_XMLTOCOMMA = Flag(get("OPT_XMLTOCOMMA"));
    form_.EMAIL_MAPI = Flag(get("EMAIL_MAPI"));
    form_.EMAIL_SMTP = Flag(get("EMAIL_SMTP"));
    system_.SYST_ZUSF = form_.SYST_ZUSF;
    system_.OPT_XMLCONVERSION = form_.OPT_XMLCONVERSION;
    system_.OPT_XMLTOCOMMA = form_.OPT_XMLTOCOMMA;
    system_.EMAIL_MAPI = form_.EMAIL_MAPI;
    system_.EMAIL_SMTP = form_.EMAIL_SMTP;

    system_.EMAIL_SERVER = form_.EMAIL_SERVER = get("EMAIL_SERVER");
    system_.EMAIL_PORT = form_.EMAIL_PORT = get("EMAIL_PORT");
    system_.EMAIL_USER = form_.EMAIL_USER = get("EMAIL_USER");
    system_.EMAIL_PWD = form_.EMAIL_PWD = get("EMAIL_PWD");
    system_.EMAIL_SENDER = form_.EMAIL_SENDER = get("EMAIL_SENDER");
    system_.EMAIL_BCC = form_.EMAIL_BCC = get("EMAIL_BCC");
    system_.EMAIL_TLS = MailTlsFromSetting(get("EMAIL_TLS"));
    form_.EMAIL_TLS = MailTlsText(system_.EMAIL_TLS);
    form_.EMAIL_CAFILE = get("EMAIL_CAFILE");
    system_.EMAIL_CAFILE = SettingPath(form_.EMAIL_CAFILE);

    form_.DAKOTA_AKTIV = Flag(get("DAKOTA_AKTIV"));
    values_.DAKOTA_DATADIR = form_.DAKOTA_DATADIR = get("DAKOTA_DATADIR");
    values_.DAKOTA_INSTDIR = form_.DAKOTA_INSTDIR = get("DAKOTA_INSTDIR");
    values_.DAKOTA_EXPDIR = form_.DAKOTA_EXPDIR = get("DAKOTA_EXPDIR");
    values_.DAKOTA_ANN_FILE = form_.DAKOTA_ANN_FILE = get("DAKOTA_ANN_FILE");
    values_.DAKOTA_PROTFILE = form_.DAKOTA_PROTFILE = get("DAKOTA_PROTFILE");
    form_.DAKOTA_PROC_AUTO = Flag(get("DAKOTA_PROC_AUTO"));
    form_.DAKOTA_PROT_AUTO = Flag(get("DAKOTA_PROT_AUTO"));
    form_.DAKOTA_EMAIL = Flag(get("DAKOTA_EMAIL"));
    form_.DAKOTA_PROT_READAUTO = Flag(get("DAKOTA_PROT_READAUTO"));
    form_.DAKOTA_ANN_CHECK = Flag(get("DAKOTA_ANN_CHECK"));
    form_.KRYPT_AKTIV = Flag(get("KRYPT_AKTIV"));
    form_.KRYPT_PKCS12 = get("KRYPT_PKCS12");
    form_.KRYPT_PASSWORT = get("KRYPT_PASSWORT");
    form_.KRYPT_SCHLUESSELLISTE = get("KRYPT_SCHLUESSELLISTE");
    form_.SIK_DIR = get("SIK_DIR");
    form_.SIK_AUTO = Flag(get("SIK_AUTO"));
    system_.DAKOTA_AKTIV = form_.DAKOTA_AKTIV;
    system_.DAKOTA_EMAIL = form_.DAKOTA_EMAIL;
    system_.DAKOTA_PROC_AUTO = form_.DAKOTA_PROC_AUTO;
    system_.DAKOTA_PROT_AUTO = form_.DAKOTA_PROT_AUTO;
    system_.DAKOTA_PROT_READAUTO = form_.DAKOTA_PROT_READAUTO;
    system_.DAKOTA_ANN_CHECK = form_.DAKOTA_ANN_CHECK;
    // A file edited by hand may hold both: DAKOTA, which encrypts itself, wins.
    system_.KRYPT_AKTIV = form_.KRYPT_AKTIV && !form_.DAKOTA_AKTIV;
    system_.KRYPT_PKCS12 = SettingPath(form_.KRYPT_PKCS12);
    system_.KRYPT_PASSWORT = form_.KRYPT_PASSWORT;
    system_.KRYPT_SCHLUESSELLISTE = SettingPath(form_.KRYPT_SCHLUESSELLISTE);
    SyncDakotaInfo();

    // Version: the list entry when there is one; the record keeps the first
    // two characters of whatever is stored. Without a setting (a new
    // installation) it is the current version.
    std::string version = get("VERSION");
    if (Trim(version).empty()) version = TMainController::CurrentVersion;
    const auto& versions = TSettingsForm::VersionList();
    form_.VERSION = std::find(versions.begin(), versions.end(), version) != versions.end() ? version : "";
    system_.VERSION = Utf8Left(version, 2);

    std::string versionDate = get("VERSION_DATUM");
    if (versionDate.empty()) versionDate = DefaultVersionDate;
    auto date = ParseDDMMYYYY(versionDate);
    if (!date) throw Error("Einstellung VERSION_DATUM ist kein Datum: " + versionDate);
    system_.VERSION_DATUM = *date;
    form_.VERSION_DATUM = date->DateOnly();

    // Backup directory: SIK_DIR when not blank, created with its parents.
    if (!Trim(form_.SIK_DIR).empty()) {
        backupDir_ = BelowRoot(paths_.Root, form_.SIK_DIR);
        ForceDirectories(backupDir_);
    } else {
        backupDir_ = paths_.Datensicherung;
    }
    values_.SIK_AUTO = form_.SIK_AUTO;

    view_.SettingsFormChanged();
}

void TMainController::ApplyImportDirectory(const std::string& dir) {
    if (dir == importDir_) return;
    importDir_ = dir;
    if (!startupDone_) return;
    // After start-up the invoice archive, which copies from and returns to
    // the import directory, and the watcher follow the new directory at
    // once, so that the run and the archive never work on two directories.
    if (rech_ && rechLoaded_) {
        const std::string file = rech_->FileName();
        rech_->Save();
        rechLoaded_ = false;
        rech_->InitStore(importDir_, paths_.ArchivR,
                         [this](const void* s, const std::string& a, int64_t v, const std::string& t) {
                             InboxCallback(s, a, v, t);
                         });
        rech_->Load(file);
        rechLoaded_ = true;
        InvoiceArchiveLoaded();
    }
    importWatcher_->SetRoot(importDir_);
    ReadInbox();
}

std::string TMainController::SettingPath(const std::string& value) const {
    return Trim(value).empty() ? "" : BelowRoot(paths_.Root, value);
}

void TMainController::CheckSettingsForm() const {
    const TSettingsForm& f = form_;
    const auto& tlsList = TSettingsForm::EmailTlsList();
    if (std::find(tlsList.begin(), tlsList.end(), f.EMAIL_TLS) == tlsList.end())
        throw Error("Verschlüsselung der Verbindung zum Mailserver: \"" + f.EMAIL_TLS +
                    "\" gibt es nicht, möglich sind STARTTLS, SMTPS und keine.");
    if (!Trim(f.EMAIL_CAFILE).empty()) CheckMailCaFile(SettingPath(f.EMAIL_CAFILE));
    if (f.KRYPT_AKTIV) {
        if (f.DAKOTA_AKTIV)
            throw Error("Die eigene Verschlüsselung (KRYPT_AKTIV) kann nicht zusammen mit Dakota (DAKOTA_AKTIV) "
                        "eingeschaltet werden: Dakota verschlüsselt selbst.");
        // Both files must open now, not at the first run.
        TKrypt krypt(SettingPath(f.KRYPT_PKCS12), f.KRYPT_PASSWORT, SettingPath(f.KRYPT_SCHLUESSELLISTE));
        krypt.Provider();
        krypt.Offices();
    }
}

void TMainController::SaveSettings() {
    if (!settingsLoaded_) throw Error("Einstellungen nicht geladen: " + paths_.StammdatenFile(SettingsFileName));
    // A refused form changes nothing, neither the file nor the table in memory.
    CheckSettingsForm();
    const TSettingsForm& f = form_;
    PutSetting("EINR_IK", f.EINR_IK);
    PutSetting("EINR_NAME1", f.EINR_NAME1);
    PutSetting("EINR_LAND", f.EINR_LAND);
    PutSetting("EINR_BEZIRK", f.EINR_BEZIRK);
    PutSetting("EINR_STRASSE", f.EINR_STRASSE);
    PutSetting("EIN_PLZORT", f.EIN_PLZORT);
    PutSetting("BRIEFKOPF", f.BRIEFKOPF);
    PutSetting("BRIEFFUSS", f.BRIEFFUSS);
    PutSetting("STEUERNR", f.STEUERNR);
    PutSetting("BANKVERBINDUNG", f.BANKVERBINDUNG);
    PutSetting("MAXTRANSFER", IntToStr(einrichtung_.MAXTRANSFER));
    const int verf = std::clamp(f.SYST_VERF, 0, 2);
    PutSetting("SYST_VERF", IntToStr(verf));
    system_.SYST_VERF = uint8_t(verf);
    PutSetting("SYST_DIRIMP", f.SYST_DIRIMP);
    PutSetting("SYST_ART", IntToStr(f.SYST_ART));
    PutSetting("SYST_ZUSF", FlagText(f.SYST_ZUSF));
    PutSetting("OPT_NOEMAILDIALOG", FlagText(f.OPT_NOEMAILDIALOG));
    PutSetting("OPT_XMLCONVERSION", FlagText(f.OPT_XMLCONVERSION));
    PutSetting("OPT_XMLTOCOMMA", FlagText(f.OPT_XMLTOCOMMA));
    PutSetting("EMAIL_MAPI", FlagText(f.EMAIL_MAPI));
    PutSetting("EMAIL_SMTP", FlagText(f.EMAIL_SMTP));
    PutSetting("EMAIL_SERVER", f.EMAIL_SERVER);
    PutSetting("EMAIL_PORT", f.EMAIL_PORT);
    PutSetting("EMAIL_USER", f.EMAIL_USER);
    PutSetting("EMAIL_PWD", f.EMAIL_PWD);
    PutSetting("EMAIL_SENDER", f.EMAIL_SENDER);
    PutSetting("EMAIL_BCC", f.EMAIL_BCC);
    PutSetting("EMAIL_TLS", f.EMAIL_TLS);
    PutSetting("EMAIL_CAFILE", f.EMAIL_CAFILE);
    PutSetting("DAKOTA_AKTIV", FlagText(f.DAKOTA_AKTIV));
    PutSetting("DAKOTA_EMAIL", FlagText(f.DAKOTA_EMAIL));
    PutSetting("DAKOTA_DATADIR", f.DAKOTA_DATADIR);
    PutSetting("DAKOTA_INSTDIR", f.DAKOTA_INSTDIR);
    PutSetting("DAKOTA_EXPDIR", f.DAKOTA_EXPDIR);
    PutSetting("DAKOTA_PROTFILE", f.DAKOTA_PROTFILE);
    PutSetting("DAKOTA_ANN_FILE", f.DAKOTA_ANN_FILE);
    PutSetting("DAKOTA_PROC_AUTO", FlagText(f.DAKOTA_PROC_AUTO));
    PutSetting("DAKOTA_PROT_AUTO", FlagText(f.DAKOTA_PROT_AUTO));
    PutSetting("DAKOTA_ANN_CHECK", FlagText(f.DAKOTA_ANN_CHECK));
    PutSetting("DAKOTA_PROT_READAUTO", FlagText(f.DAKOTA_PROT_READAUTO));
    PutSetting("KRYPT_AKTIV", FlagText(f.KRYPT_AKTIV));
    PutSetting("KRYPT_PKCS12", f.KRYPT_PKCS12);
    PutSetting("KRYPT_PASSWORT", f.KRYPT_PASSWORT);
    PutSetting("KRYPT_SCHLUESSELLISTE", f.KRYPT_SCHLUESSELLISTE);
    PutSetting("SIK_AUTO", FlagText(f.SIK_AUTO));
    PutSetting("SIK_DIR", f.SIK_DIR);
    PutSetting("VERSION", f.VERSION);
    system_.VERSION = Utf8Left(f.VERSION, 2);
    PutSetting("VERSION_DATUM", FormatShortDate(f.VERSION_DATUM));
    settings_.MergeChangeLog();
    settings_.SaveToFile(paths_.StammdatenFile(SettingsFileName));
    LoadSettings();
}

void TMainController::SaveTransferNumber() {
    if (!settingsLoaded_) throw Error("Einstellungen nicht geladen: " + paths_.StammdatenFile(SettingsFileName));
    // The file holds it already (the run's commit saved it).
    if (SettingValue("MAXTRANSFER") == IntToStr(einrichtung_.MAXTRANSFER)) return;
    PutSetting("MAXTRANSFER", IntToStr(einrichtung_.MAXTRANSFER));
    settings_.MergeChangeLog();
    settings_.SaveToFile(paths_.StammdatenFile(SettingsFileName));
    form_.MAXTRANSFER = IntToStr(einrichtung_.MAXTRANSFER);
    view_.TransferNumberChanged();
}

void TMainController::actEinstellungenSpeichernExecute() {
    SaveSettings();
    SetBusy(false);
    RefreshDakotaStatus();
}

void TMainController::ChooseFederalState(int index) {
    if (index < 0 || size_t(index) >= form_.FederalStates.size()) return;
    form_.FederalStateIndex = index;
    form_.EINR_LAND = Utf8Left(form_.FederalStates[size_t(index)].Text, 2);
}

// ============================================================ brenvo.ini

std::string TMainController::IniFilePath() const { return PathJoin(paths_.Root, IniFileName); }

std::string TMainController::ReadIniValue(const std::string& name) const {
    const std::string path = IniFilePath();
    if (!FileExists(path)) return "";
    const std::string key = name + "=";
    for (const std::string& line : SplitLines(ReadFileBytes(path))) {
        if (!Contains(line, key)) continue;
        std::string value = Utf8Left(line.substr(line.find('=') + 1), 999);
        if (!value.empty()) return value;
    }
    return "";
}

void TMainController::WriteIniValue(const std::string& name, const std::string& value) {
    const std::string path = IniFilePath();
    std::vector<std::string> lines;
    if (FileExists(path)) lines = SplitLines(ReadFileBytes(path));
    const std::string key = name + "=";
    bool replaced = false;
    for (std::string& line : lines)
        if (Contains(line, key)) {
            line = key + value;
            replaced = true;
            break;
        }
    if (!replaced) lines.push_back(key + value);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    AtomicWriteFile(path, text);
}

// ============================================================ log, progress, busy

void TMainController::LogLine(const std::string& text) {
    log_.push_back(text);
    view_.LogLineAdded(text);
}

std::string TMainController::WriteActivityLog(TDateTime when) {
    ForceDirectories(paths_.Logs);
    const std::string path = PathJoin(paths_.Logs, FormatStamp(when) + ".log");
    std::string text;
    for (const std::string& line : log_) text += line + "\n";
    AtomicWriteFile(path, text);
    return path;
}

void TMainController::PumpMessages() {
    view_.ProcessEvents();
    if (queue_->IsOwnerThread()) queue_->ProcessMessages();
}

void TMainController::ShowProgress(int position, int maximum, bool log, const std::string& text) {
    progressMax_ = maximum > 0 ? maximum : 100;
    progressPos_ = (position < 0 || position > progressMax_) ? progressMax_ : position;
    progressText_ = text;
    view_.ProgressChanged(progressPos_, progressMax_, text);
    if (log) LogLine("Prozess: " + text);
    PumpMessages();
}

void TMainController::ShowLoadProgress(int position, int maximum, bool log, const std::string& text) {
    loadMax_ = maximum;
    loadPos_ = position;
    loadText_ = text;
    view_.LoadProgressChanged(position, maximum, text);
    if (log) LogLine(text);
    PumpMessages();
}

void TMainController::SetBusy(bool busy) {
    busy_ = busy;
    view_.ActionStateChanged();
    PumpMessages();
}

bool TMainController::ActionEnabled(ActionCategory category) const {
    if (busy_ || running_) return false;
    if (category == ActionCategory::Dakota) return system_.DAKOTA_AKTIV;
    return true;
}

bool TMainController::StartEnabled() const { return startEnabled_ && !busy_ && !running_; }

// A step of start-up and shut-down: logged with "Init ", shown on the load
// panel, the load bar one step on (range 0 to 10, wrapping like a stepped bar).
void TMainController::Step(const std::string& text) {
    LogLine("Init " + text);
    loadMax_ = 10;
    loadPos_ = loadPos_ >= loadMax_ ? 1 : loadPos_ + 1;
    loadText_ = text;
    view_.LoadProgressChanged(loadPos_, loadMax_, text);
    view_.Pause(10);
}

// ============================================================ lists and callbacks

// The actions the inbox and the input basket share; items are found by
// caption, ignoring letter case.
void TMainController::BasketAction(TBasketList& list, const std::string& action, int64_t value,
                                   const std::string& text) {
    const long i = list.FindCaption(text);
    if (action == "insert") {
        if (i < 0) list.Add(text, ItemIcon::Open, value);
    } else if (action == "delete") {
        if (i >= 0) list.Remove(size_t(i));
    } else if (action == "offen") {
        if (i >= 0)
            list.SetIcon(size_t(i), ItemIcon::Open);
        else
            list.Add(text, ItemIcon::Open, value);
    } else if (action == "bearbeitet") {
        if (i >= 0) list.SetIcon(size_t(i), ItemIcon::Processed);
    } else if (action == "fehler") {
        if (i >= 0) list.SetCaption(size_t(i), ErrorPrefix + list.Item(size_t(i)).Caption);
    }
}

void TMainController::InboxCallback(const void*, const std::string& action, int64_t value, const std::string& text) {
    if (action == "progressnolog")
        ShowProgress(int(brenvo::ProgressPosition(value)), int(brenvo::ProgressMaximum(value)), false, text);
    else
        BasketAction(inbox_, action, value, text);
}

void TMainController::InputBasketCallback(const void*, const std::string& action, int64_t value,
                                          const std::string& text) {
    BasketAction(input_, action, value, text);
}

void TMainController::OutboxCallback(const void*, const std::string& action, int64_t value, const std::string& text) {
    if (action == "insert") {
        outbox_.Add(text, ItemIcon::NotSent, value);
    } else if (action == "delete") {
        if (long i = outbox_.FindId(value); i >= 0) outbox_.Remove(size_t(i));
    } else if (action == "emailversandt") {
        if (long i = outbox_.FindId(value); i >= 0) outbox_.SetIcon(size_t(i), ItemIcon::Sent);
    } else if (action == "emailnichtversandt") {
        if (long i = outbox_.FindId(value); i >= 0)
            outbox_.SetIcon(size_t(i), ItemIcon::NotSent);
        else
            outbox_.Add(text, ItemIcon::NotSent, value);
    } else if (action == "progress") {
        ShowProgress(int(brenvo::ProgressPosition(value)), int(brenvo::ProgressMaximum(value)), true, text);
    } else if (action == "progressnolog") {
        ShowProgress(int(brenvo::ProgressPosition(value)), int(brenvo::ProgressMaximum(value)), false, text);
    }
}

void TMainController::ReadInbox() {
    inbox_.Clear();
    for (const std::string& name : ListFiles(importDir_, "*.XML")) InboxCallback(this, "offen", 0, name);
    inboxChanged_ = false;
}

void TMainController::ReadInputBasket() {
    input_.Clear();
    for (const std::string& name : ListFiles(paths_.Eingabe, "*.XML")) InputBasketCallback(this, "offen", 0, name);
}

void TMainController::RebuildOutbox() {
    outbox_.Clear();
    if (auf_ && aufLoaded_) auf_->FillOutbox();
}

void TMainController::OnIdle() {
    if (inboxChanged_ && !busy_ && !running_ && !shuttingDown_) ReadInbox();
}

// ============================================================ start-up

void TMainController::PrepareDirectories() {
    TDataPaths& p = paths_;
    const std::string& root = p.Root;
    for (std::string* dir : {&p.Stammdaten, &p.Eingabe, &p.Import, &p.Temp, &p.Export, &p.ArchivR, &p.ArchivA, &p.Logs,
                             &p.Downloads, &p.Datensicherung, &p.TempDownload, &p.Journal})
        if (!IsAbsolutePath(*dir)) *dir = PathJoin(root, *dir);
    if (!IsAbsolutePath(importDir_)) importDir_ = p.Import;
    if (!IsAbsolutePath(backupDir_)) backupDir_ = p.Datensicherung;
    for (const std::string* dir :
         {&p.Import, &p.Temp, &p.Export, &p.ArchivR, &p.ArchivA, &p.Logs, &p.Downloads, &p.Journal})
        if (!ForceDirectories(*dir)) throw Error("Verzeichnis kann nicht angelegt werden: " + *dir);
}

// Versions 06 to 09 are still written, but no data acceptance office takes
// them any more.
void TMainController::WarnOfOldVersion() {
    const auto& versions = TSettingsForm::VersionList();
    if (system_.VERSION == CurrentVersion ||
        std::find(versions.begin(), versions.end(), system_.VERSION) == versions.end())
        return;
    LogLine("Init WARNUNG: Version " + system_.VERSION +
            " der Abrechnungsdaten nehmen die Datenannahmestellen nicht mehr an; gültig ist Version " +
            CurrentVersion + " (Einstellungen, \"Version\").");
}

void TMainController::LoadCostBearers() {
    kt_ = std::make_unique<TSGBKTStore>(system_);
    RecoverCostBearerImport();
    LoadCostBearerFiles(*kt_, true);
    FillFederalStates();
}

void TMainController::FillFederalStates() {
    Table& keys = kt_->KTKey();
    form_.FederalStates.clear();
    form_.FederalStateIndex = -1;
    try {
        keys.SetFilter("KTS_SNAME = 'KT804'");
        keys.SetFiltered(true);
        for (keys.First(); !keys.Eof(); keys.Next()) {
            const std::string key = keys.AsString("KTS_KEY");
            form_.FederalStates.push_back({key + " " + keys.AsString("KTS_TEXT"), int(StrToIntDef(key, 0))});
            if (form_.FederalStateIndex < 0 && Utf8Left(key, 2) == einrichtung_.EINR_LAND)
                form_.FederalStateIndex = int(form_.FederalStates.size() - 1);
        }
    } catch (...) {
        keys.SetFiltered(false);
        keys.SetFilter("");
        throw;
    }
    keys.SetFiltered(false);
    keys.SetFilter("");
    view_.SettingsFormChanged();
}

void TMainController::PrepareInvoiceArchive() {
    if (!rech_) rech_ = std::make_unique<TRechStore>();
    rech_->InitStore(importDir_, paths_.ArchivR, [this](const void* s, const std::string& a, int64_t v,
                                                        const std::string& t) { InboxCallback(s, a, v, t); });
    rechLoaded_ = false;
}

std::future<void> TMainController::LoadInvoiceArchiveAhead() {
    PrepareInvoiceArchive();
    return std::async(std::launch::async,
                      [store = rech_.get(), file = paths_.StammdatenFile(InvoiceArchiveFileName)] { store->Load(file); });
}

void TMainController::CreateInvoiceArchive(std::future<void>* loading) {
    if (!loading) PrepareInvoiceArchive();
    Step("Lade Stammdaten Rechnungen...");
    if (loading) loading->get();
    else rech_->Load(paths_.StammdatenFile(InvoiceArchiveFileName));
    rechLoaded_ = true;
    InvoiceArchiveLoaded();
}

// The view of "Archiv Rechnung" filters the table read anew as before, and
// the grids attach to it.
void TMainController::InvoiceArchiveLoaded() {
    invoiceFilter_.Apply(rech_->GetTable());
    view_.ArchiveTablesAvailable(true);
}

void TMainController::CreateOrderArchive() {
    if (!auf_) auf_ = std::make_unique<TAuftragSTore>();
    auf_->InitStore(importDir_, paths_.ArchivA, values_.DAKOTA_EXPDIR, values_.DAKOTA_DATADIR, paths_.Export);
    auf_->SetChangeJournal(OrderChangesPath());
    auf_->SetCallback([this](const void* s, const std::string& a, int64_t v, const std::string& t) {
        OutboxCallback(s, a, v, t);
    });
    aufLoaded_ = false;
    Step("Lade Stammdaten Aufträge ...");
    auf_->Load(paths_.StammdatenFile(OrderArchiveFileName));
    aufLoaded_ = true;
    RebuildOutbox();
    view_.ArchiveTablesAvailable(true);
}

void TMainController::StartImportWatcher() {
    importWatcher_->SetRoot(importDir_);
    importWatcher_->SetWatchSubTree(false);
    std::weak_ptr<bool> alive = alive_;
    importWatcher_->SetOnChange([this, alive] {
        if (auto a = alive.lock(); a && *a) inboxChanged_ = true;
    });
}

bool TMainController::Startup() {
    if (startupDone_) return startupOk_;
    TLongActionGuard guard(*this);
    view_.SetLoadPanel(LoadPanelMode::Compact);
    loadPos_ = 0;
    Step("Start...");
    SetBusy(true);
    try {
        Step("Lade Prüfe Verzeichnisse...");
        // Nothing of the data directory is read or written before its lock
        // is held: another program may be working on it.
        if (!lock_) {
            try {
                lock_ = DataDirLock::Acquire(paths_.Root);
            } catch (const Error&) {
                lockRefused_ = true;
                throw;
            }
        }
        PrepareDirectories();
        Step("Lade Einstellungen...");
        LoadSettings();
        WarnOfOldVersion();
        // Nothing watches the new invoice archive yet: its file is read and
        // its index built on a second thread while the cost-bearer directory
        // loads. Should the directory fail, the read is waited for and
        // dropped, and the start stops as before.
        std::future<void> invoiceArchive = LoadInvoiceArchiveAhead();
        try {
            LoadCostBearers();
        } catch (...) {
            invoiceArchive.wait();
            rech_.reset();
            throw;
        }
        CreateInvoiceArchive(&invoiceArchive);
        CreateOrderArchive();
        RecoverAtStartup();
        Step("Import Verzeichnis lesen...");
        ReadInbox();
        Step("Import Verzeichnis lesen...fertig");
        StartImportWatcher();
        StartupCheckDakota();
        StartupCheckCertificates();
        Step("Eingabe Verzeichnis lesen...");
        ReadInputBasket();
        Step("Eingabe Verzeichnis lesen...fertig");
        startupOk_ = true;
    } catch (const std::exception& e) {
        view_.SetLoadPanel(LoadPanelMode::Hidden);
        SetBusy(false);
        Step(std::string("ABBRUCH ") + e.what());
    }
    startupDone_ = true;
    if (startupOk_) {
        view_.SetLoadPanel(LoadPanelMode::Hidden);
        SetBusy(false);
        RefreshDakotaStatus();
    }
    LogLine("Startup beendet.");
    return startupOk_;
}

// Certificates that end within this many days are named in the start-up log.
constexpr int kCertificateWarningDays = 30;

void TMainController::StartupCheckCertificates() {
    if (!system_.KRYPT_AKTIV) return;
    Step("Zertifikate prüfen...");
    // The offices billed so far: every order's handle begins with the IK of
    // the office that decrypts it.
    std::vector<std::string> iks;
    if (auf_ && aufLoaded_) {
        Table& orders = auf_->GetTable();
        for (orders.First(); !orders.Eof(); orders.Next()) {
            const std::string ik = orders.AsString("A_HANDLE").substr(0, 9);
            if (IsDigits(ik) && ik.size() == 9 && std::find(iks.begin(), iks.end(), ik) == iks.end())
                iks.push_back(ik);
        }
    }
    std::sort(iks.begin(), iks.end());
    TKrypt krypt(system_.KRYPT_PKCS12, system_.KRYPT_PASSWORT, system_.KRYPT_SCHLUESSELLISTE);
    for (const std::string& line : krypt.ExpiryWarnings(iks, Now(), kCertificateWarningDays))
        LogLine("Init Zertifikat: " + line);
    Step("Zertifikate prüfen...fertig");
}

// ============================================================ shut-down

void TMainController::SaveTables() {
    auto save = [this](const char* text, const std::function<void()>& what) {
        Step(text);
        what();
        PumpMessages();
        view_.Pause(100);
    };
    // Rows of a run that is not committed yet never reach the files: a
    // program stopped now must find the archives as they were before the run.
    const bool archives = !runOpen_;
    if (archives && rech_ && rechLoaded_)
        save("Rechnungen speichern ... ", [this] {
            if (rech_->GetTable().HasChanges()) rech_->Save();
        });
    if (archives && auf_ && aufLoaded_)
        save("Aufträge speichern ... ", [this] {
            if (auf_->GetTable().HasChanges()) auf_->Save();
        });
    if (kt_) save("KT-Daten speichern ... ", [this] { kt_->SaveKTBase(false); });
}

// ============================================================ the archives

std::string TMainController::ArchivesRefusal(const std::string& action) const {
    const bool invoices = rech_ && rechLoaded_, orders = auf_ && aufLoaded_;
    if (invoices && orders) return "";
    const char* what = !invoices && !orders ? "Rechnungs- und Auftragsarchiv sind nicht geladen"
                       : !invoices          ? "das Rechnungsarchiv ist nicht geladen"
                                            : "das Auftragsarchiv ist nicht geladen";
    return action + " nicht möglich: " + what + ". Bitte das Programm neu starten.";
}

void TMainController::RequireArchives(const std::string& action) const {
    const std::string refusal = ArchivesRefusal(action);
    if (!refusal.empty()) throw Error(refusal);
}

bool TMainController::RefusedWithoutArchives(const std::string& action) {
    const std::string refusal = ArchivesRefusal(action);
    if (refusal.empty()) return false;
    view_.ShowMessage(MessageKind::Error, refusal);
    return true;
}

void TMainController::ReleaseTables() {
    view_.ArchiveTablesAvailable(false);
    job_.reset();
    ktMaintenance_->Detach();
    kt_.reset();
    rech_.reset();
    auf_.reset();
    rechLoaded_ = aufLoaded_ = false;
}

bool TMainController::Shutdown() {
    if (closingAllowed_) return true;
    if (shuttingDown_) return false;
    if (longActions_ > 0) {
        closePending_ = true;
        return false;
    }
    // Another program works on the data directory: nothing of it is ours to
    // write, not even the log.
    if (lockRefused_) {
        closingAllowed_ = true;
        view_.CloseWindow();
        return true;
    }
    // Changes of the cost-bearer tab not yet saved: saved, dropped, or the
    // program stays open.
    if (!ktMaintenance_->ConfirmClose()) return false;
    shuttingDown_ = true;
    SetBusy(true);
    bool ok = false;
    try {
        view_.SetLoadPanel(LoadPanelMode::Compact);
        loadPos_ = 0;
        loadMax_ = 10;
        Step("Daten speichern ...");
        SaveTables();
        Step("Dakota ...");
        ShutdownStopDakota();
        ShutdownBackup();
        Step("Protkoll schreiben ...");
        WriteActivityLog(Now());
        view_.Pause(100);
        Step("Programm wird beendet.");
        view_.Pause(100);
        ok = true;
    } catch (const std::exception& e) {
        view_.ShowMessage(MessageKind::Error, e.what());
    }
    closingAllowed_ = true;
    shuttingDown_ = false;
    if (ok) {
        // Everything is written: the next program may start on the directory
        // while this one is still ending.
        lock_.reset();
        view_.CloseWindow();
    }
    return ok;
}

void TMainController::PostShutdown() {
    std::weak_ptr<bool> alive = alive_;
    queue_->Post([this, alive] {
        if (auto a = alive.lock(); a && *a) HandleShutdownMessage();
    });
}

void TMainController::HandleShutdownMessage() {
    if (shuttingDown_ || closingAllowed_) return;
    // A long action pumps window messages; the shut-down never runs inside
    // one, it follows it (Shutdown holds it back).
    Shutdown();
}

bool TMainController::RequestClose() {
    if (closingAllowed_) return true;
    if (shuttingDown_) return false;
    if (longActions_ > 0)
        closePending_ = true;
    else
        PostShutdown();
    return false;
}

TLongActionGuard::~TLongActionGuard() {
    if (--c_.longActions_ > 0 || !c_.closePending_) return;
    c_.closePending_ = false;
    try {
        c_.PostShutdown();
    } catch (...) {
        // Only an exhausted memory can fail here; the next close request
        // posts the shut-down again.
    }
}

} // namespace brenvo
