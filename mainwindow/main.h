#pragma once

// The controller of the main window (TfrmMain) without the window: it owns
// the process-wide state for the whole program run (the settings records,
// the cost-bearer directory, both archives, the current billing job), the
// data-directory layout, the activity log, the three lists, the start-up and
// shut-down sequences and the processing run. It reaches the user only
// through IMainView.
//
// Everything runs on the thread that created the controller (the window
// thread); worker threads (the import watcher) hand their notifications over
// through the message queue, which the controller pumps at every progress
// update.

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "billing/u_SGBJob.h"
#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DataDirLock.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/MessageQueue.h"
#include "lib/base/Settings.h"
#include "lib/dataset/Table.h"
#include "mainwindow/ArchiveGrids.h"
#include "mainwindow/Backup.h"
#include "mainwindow/BasketActions.h"
#include "mainwindow/BasketList.h"
#include "mainwindow/DakotaActions.h"
#include "mainwindow/KTMaintenance.h"
#include "mainwindow/MainView.h"
#include "mainwindow/OrderActions.h"
#include "mainwindow/ProgramUpdate.h"
#include "mainwindow/ProgressSink.h"
#include "mainwindow/u_DirectoryNotify.h"

namespace brenvo {

class InvoiceDocument;
class TLongActionGuard;
struct RunJournal;

// The data directory: the root and its working directories. Before start-up
// step 1 the directories hold their bare names, afterwards full paths.
struct TDataPaths {
    std::string Root;
    std::string Stammdaten = "Stammdaten";
    std::string Eingabe = "eingabe";
    std::string Import = "import";          // the default inbox; SYST_DIRIMP replaces it
    std::string Temp = "temp";
    std::string Export = "export";
    std::string ArchivR = "ArchivR";
    std::string ArchivA = "ArchivA";
    std::string Logs = "Logs";
    std::string Downloads = "Downloads";
    std::string Datensicherung = "Datensicherung";   // the default backup directory; SIK_DIR replaces it
    std::string TempDownload = "TempDownload";
    std::string Journal = "Journal";   // the records that make a stopped program's work whole again

    // "Stammdaten" + separator + name.
    std::string StammdatenFile(std::string_view name) const;
};

// The process-wide values that live in neither settings record.
struct TProcessValues {
    std::string DAKOTA_DATADIR;    // DAKOTA's hand-over directory
    std::string DAKOTA_INSTDIR;    // where the DAKOTA program is looked for
    std::string DAKOTA_EXPDIR;     // DAKOTA's output directory
    std::string DAKOTA_PROTFILE;   // DAKOTA's protocol: file or ODBC data source name
    std::string DAKOTA_ANN_FILE;   // DAKOTA's acceptance-office file
    bool SIK_AUTO = false;         // back up at program end
};

// One entry of the federal-state list of the settings tab.
struct TFederalState {
    std::string Text;   // KTS_KEY + " " + KTS_TEXT
    int Value = 0;      // KTS_KEY as a number
};

// The fields of the "Einstellungen" tab. LoadSettings fills them, the window
// edits them, SaveSettings writes them.
struct TSettingsForm {
    // "Leistungserbringer"
    std::string EINR_IK, EINR_NAME1, EINR_STRASSE, EIN_PLZORT;
    // "Land und Bezirk"; the "Bundesland" field holds the state code
    std::string EINR_LAND, EINR_BEZIRK;
    std::vector<TFederalState> FederalStates;   // filled at start-up
    int FederalStateIndex = -1;                 // the selected entry, -1 none
    // "f. Rechnungsdruck (optional)"
    std::string BRIEFKOPF, BRIEFFUSS, STEUERNR, BANKVERBINDUNG;
    std::string MAXTRANSFER = "0";              // "Aktuelle Transfernummer", read-only
    int SYST_VERF = 0;                          // "Verfahren": 0 Test, 1 Erprobung, 2 Echt
    int SYST_ART = 0;                           // "Art": 0 Einzelleistungserbringer, 1 Abrechnungszentrum
    bool SYST_ZUSF = false;                     // "zusammenfassen"
    std::string SYST_DIRIMP;                    // "Abweichendes Importverzeichnis"
    bool OPT_XMLCONVERSION = false, OPT_XMLTOCOMMA = false;
    // "Versand-Einstellungen"
    bool EMAIL_MAPI = false, EMAIL_SMTP = false, DAKOTA_EMAIL = false, OPT_NOEMAILDIALOG = false;
    std::string EMAIL_SERVER, EMAIL_PORT, EMAIL_USER, EMAIL_PWD, EMAIL_SENDER, EMAIL_BCC;
    std::string EMAIL_TLS = "STARTTLS";         // "Verschlüsselung": one of EmailTlsList
    std::string EMAIL_CAFILE;                   // "Vertrauenswürdige Zertifikate (optional)"
    // "Dakota"
    bool DAKOTA_AKTIV = false;
    std::string DAKOTA_DATADIR, DAKOTA_INSTDIR, DAKOTA_EXPDIR, DAKOTA_PROTFILE, DAKOTA_ANN_FILE;
    bool DAKOTA_PROC_AUTO = false, DAKOTA_PROT_AUTO = false, DAKOTA_PROT_READAUTO = false,
         DAKOTA_ANN_CHECK = false;
    // "Verschlüsselung": signing and encryption without DAKOTA
    bool KRYPT_AKTIV = false;                   // "Abrechnungsdateien selbst verschlüsseln"
    std::string KRYPT_PKCS12;                   // "Eigener Schlüssel (PKCS#12)"
    std::string KRYPT_PASSWORT;                 // "Kennwort", input masked
    std::string KRYPT_SCHLUESSELLISTE;          // "Schlüsselliste der Annahmestellen"
    // "Datensicherung"
    std::string SIK_DIR;
    bool SIK_AUTO = false;
    // "Version": one of VersionList, or "" when the stored value is none of
    // them; a missing or empty setting is the current version
    std::string VERSION;
    TDateTime VERSION_DATUM;

    static const std::vector<std::string>& VersionList();   // "06", "07", "08", "09", "21"
    static const std::vector<std::string>& VerfahrenList();  // "Test", "Erprobung", "Echt"
    static const std::vector<std::string>& ArtList();        // "Einzelleistungserbringer", "Abrechnungszentrum"
    static const std::vector<std::string>& EmailTlsList();   // "STARTTLS", "SMTPS", "keine"

    // The group "Leistungserbringer" is shown and enabled only for a single provider.
    bool ProviderGroupVisible() const { return SYST_ART != 1; }
};

// What one processing run did.
struct TRunResult {
    bool Started = false;     // the run went past its preconditions
    bool Completed = false;   // it reached its end without a failure that stopped it
    int Files = 0;            // inbox entries
    int Ignored = 0;          // error files skipped
    int Failed = 0;           // files marked as error in this run (checks and jobs)
    int Billed = 0;           // invoices taken by jobs and kept
    int Returned = 0;         // invoices given back by failed jobs
    int BillingMonth = 0;
    std::string Failure;      // the failure that ended the run (collective mode, closing steps)
};

// As IUpdateHost (an IProgressSink) it also serves the program and data update.
class TMainController : public IUpdateHost {
public:
    static constexpr const char* Caption = "Brenvo";
    static constexpr const char* SettingsFileName = "brenvo.XML";
    static constexpr const char* IniFileName = "brenvo.ini";
    static constexpr const char* InvoiceArchiveFileName = "Rechnungen.xml";
    static constexpr const char* OrderArchiveFileName = "Auftraege.xml";
    static constexpr const char* InvoiceTemplateFileName = "eingabe_vorlage.xml";
    static constexpr const char* DefaultVersionDate = "29.09.2014";
    // The message version the data acceptance offices take today, and the
    // setting of an installation that has not chosen one.
    static constexpr const char* CurrentVersion = "21";

    // rootDir: the data directory (the window program passes the program
    // file's directory). queue: the window thread's message queue; null
    // makes the controller create one owned by the calling thread.
    TMainController(IMainView& view, std::string rootDir, std::shared_ptr<MessageQueue> queue = nullptr);
    ~TMainController() override;
    TMainController(const TMainController&) = delete;
    TMainController& operator=(const TMainController&) = delete;

    // ------------------------------------------------------------ state
    const TDataPaths& Paths() const { return paths_; }
    // The inbox: SYST_DIRIMP when set, otherwise "import".
    const std::string& ImportDir() const { return importDir_; }
    // SIK_DIR when set, otherwise "Datensicherung".
    const std::string& BackupDir() const { return backupDir_; }
    TSystem& System() { return system_; }
    TEinrichtung& Einrichtung() { return einrichtung_; }
    TProcessValues& Values() { return values_; }
    TSettingsForm& SettingsForm() { return form_; }
    std::shared_ptr<MessageQueue> Queue() const { return queue_; }
    // Null until start-up has created them (and after ReleaseTables).
    TSGBKTStore* KTStore() { return kt_.get(); }
    TRechStore* RechStore() { return rech_.get(); }
    TAuftragSTore* AuftragStore() { return auf_.get(); }
    TSGBJob* CurrentJob() { return job_.get(); }
    // The "Kostenträger-Daten" tab's logic over the cost-bearer store.
    TKTMaintenance& KTMaintenance() { return *ktMaintenance_; }
    const TKTMaintenance& KTMaintenance() const { return *ktMaintenance_; }
    // Both archives are loaded. After a start-up or a reload that failed one
    // of them is not, and nothing may write into either: the run would check
    // against an empty invoice archive, and the closing steps would not save
    // what the run recorded. Every command that writes into an archive asks
    // ArchivesRefusal first and refuses with its text.
    bool ArchivesLoaded() const { return rech_ && rechLoaded_ && auf_ && aufLoaded_; }
    // "" when both archives are loaded; otherwise why `action` ("Verarbeitung",
    // "Export zu Dakota", ...) is not possible now.
    std::string ArchivesRefusal(const std::string& action) const;
    TShellChangeNotifier& ImportWatcher() { return *importWatcher_; }

    // ------------------------------------------------------------ settings
    void LoadSettings();
    // Refuses (Error, nothing written) a form whose EMAIL_TLS is not one of
    // its choices, whose EMAIL_CAFILE holds no readable certificate, or that
    // switches KRYPT_AKTIV on together with DAKOTA_AKTIV or with a key file,
    // password or key list that cannot be used.
    void SaveSettings();
    void CheckSettingsForm() const;
    void SaveTransferNumber();
    // "Einstellungen speichern": SaveSettings, idle, DAKOTA status line.
    void actEinstellungenSpeichernExecute();
    // Choosing a federal-state entry copies its first two characters into "Bundesland".
    void ChooseFederalState(int index);

    // "brenvo.ini" in the data directory.
    std::string IniFilePath() const;
    std::string ReadIniValue(const std::string& name) const;
    void WriteIniValue(const std::string& name, const std::string& value);

    // ------------------------------------------------------------ log and progress
    void LogLine(const std::string& text) override;
    const std::vector<std::string>& ActivityLog() const { return log_; }
    // Writes the activity log to "Logs" as "YYYYMMDD_HHNNSSZZZ.log" (the time
    // given); returns the file's path.
    std::string WriteActivityLog(TDateTime when);
    void ShowProgress(int position, int maximum, bool log, const std::string& text);
    void ShowLoadProgress(int position, int maximum, bool log, const std::string& text) override;
    void SetBusy(bool busy);
    // Runs what other threads handed over and lets the window handle its events.
    void PumpMessages();

    bool Busy() const { return busy_; }
    bool Running() const { return running_; }
    bool ActionEnabled(ActionCategory category) const;
    bool StartEnabled() const;
    // The progress shown on the "Verarbeitung" tab and on the load panel.
    int ProgressPosition() const { return progressPos_; }
    int ProgressMaximum() const { return progressMax_; }
    const std::string& ProgressText() const { return progressText_; }
    int LoadPosition() const { return loadPos_; }
    int LoadMaximum() const { return loadMax_; }
    const std::string& LoadText() const { return loadText_; }

    // ------------------------------------------------------------ lists
    TBasketList& Inbox() { return inbox_; }
    TBasketList& InputBasket() { return input_; }
    TBasketList& Outbox() { return outbox_; }
    void InboxCallback(const void* sender, const std::string& action, int64_t value, const std::string& text);
    void InputBasketCallback(const void* sender, const std::string& action, int64_t value, const std::string& text);
    void OutboxCallback(const void* sender, const std::string& action, int64_t value, const std::string& text);
    void ReadInbox();
    void ReadInputBasket();
    // Clears the outbox and lets the order archive announce its unsent orders.
    void RebuildOutbox();
    // Set by the import watcher; the idle handler re-reads the inbox.
    bool InboxChanged() const { return inboxChanged_; }
    // The application became idle.
    void OnIdle();

    // ------------------------------------------------------------ start and stop
    // The start-up sequence; false when it stopped with "ABBRUCH ".
    bool Startup();
    bool StartupSucceeded() const { return startupOk_; }
    // The shut-down sequence; false when a step failed (its message was shown).
    bool Shutdown();
    // A close request ("Beenden", the close box): true when the window may
    // close at once; otherwise the shut-down is posted, or held until the
    // long action that runs (see TLongActionGuard) has ended.
    bool RequestClose();
    // A long action that lets window events through holds a TLongActionGuard.
    bool LongActionRunning() const { return longActions_ > 0; }
    // A close request came during a long action; the shut-down follows its end.
    bool CloseRequestHeld() const { return closePending_; }
    bool ClosingAllowed() const { return closingAllowed_; }
    bool ShuttingDown() const { return shuttingDown_; }
    // "Daten speichern ...": the two archives and the cost-bearer base table.
    // An archive without unsaved changes is not written again; while a run's
    // result is not committed yet, the archives are not written at all (the
    // run's commit writes them).
    void SaveTables();
    // Lets go of the cost-bearer store and both archives without saving them
    // (after an update unpacked new files over them).
    void ReleaseTables();

    // ------------------------------------------------------------ crash safety (RunCommit.cpp)
    // The record of a run's result (RunJournal) and the list of the orders a
    // run is writing, both in "Journal"; the order archive's change journal.
    std::string RunJournalPath() const;
    std::string RunNotesPath() const;
    std::string OrderChangesPath() const;
    // The run's jobs have taken or written something not yet committed.
    bool RunUncommitted() const { return runOpen_; }

    // ------------------------------------------------------------ processing run
    // "&Start".
    void actProzessStartExecute();
    const TRunResult& LastRun() const { return lastRun_; }
    // "Programm beenden": end the program after the run.
    void SetQuitAfterRun(bool on) { quitAfterRun_ = on; }
    bool QuitAfterRun() const { return quitAfterRun_; }

    // The check phase's checks on one invoice file, touching nothing on
    // disk: the decimal-separator conversion (when set) is applied to the
    // text read. Returns "" when the invoice passes, else the failure.
    // Call ResetCostBearerIndexes first, as the run does.
    std::string CheckInvoiceFile(const std::string& path);
    void ResetCostBearerIndexes();

    // The decimal-separator conversion of an invoice file, in place.
    static void ConvertDecimalSeparators(const std::string& path, bool toComma);
    // The same on the text of a file: all lines joined into one (without line
    // breaks), numbers' separators converted from the 20th character on.
    static std::string ConvertDecimalSeparatorsText(std::string_view text, bool toComma);

    // ------------------------------------------------------------ DAKOTA
    // --- DAKOTA actions (DakotaActions.cpp)
    // The actions of the category "Dakota", enabled only while DAKOTA_AKTIV
    // is set. Each shows its failure to the user and returns what it did;
    // called while DAKOTA_AKTIV is off, it does nothing and shows nothing.
    bool DakotaEnabled() const { return system_.DAKOTA_AKTIV; }
    // The DAKOTA status line (third status panel).
    void RefreshDakotaStatus();
    const std::string& DakotaStatusLine() const { return dakotaStatus_; }
    // DAKOTA's state and runner; its paths follow the settings.
    TDakota& Dakota() { return *dakota_; }
    // The start-up check found DAKOTA ready (false when none ran), and its text.
    bool DakotaReady() const { return dakotaReady_; }
    const std::string& DakotaCheckText() const { return dakotaCheckText_; }
    // Between DAKOTA's "started" notification and its end or start failure.
    bool DakotaRunning() const { return dakotaRunning_; }
    // A DAKOTA start was set going and neither its end nor its start failure
    // has arrived yet.
    bool DakotaPending() const { return dakotaPending_; }
    // Code and text of the last DAKOTA end or start failure (code -1 before any).
    const TDakotaResult& LastDakotaResult() const { return dakotaResult_; }
    bool LastDakotaStartFailed() const { return dakotaStartFailed_; }

    TDakotaActionResult actDakotaStartExecute();          // "Dakota starten"
    TDakotaActionResult actDakotaProtokollExecute();      // "Dakota Protokoll"
    TDakotaActionResult actDakotaVerarbeitungExecute();   // "Dakotaverarbeitung starten"
    TDakotaActionResult actDakotaExportExecute();         // "Daten zu Dakota exportieren"
    TDakotaActionResult actDakotaReadResultExecute();     // "Dakota-Ergebnis lesen"
    TDakotaActionResult actDakotaProtKuerzenExecute();    // "Protokoll kürzen"
    TDakotaActionResult actDakotaReadAnnahmeExecute();    // "Annahmestellen lesen"
    // Waits in the busy dialog (title, text) until the DAKOTA call started
    // last has ended or failed to start, pumping the message queue; no wait
    // when that has happened already. False when DAKOTA failed to start.
    bool WaitForDakota(const std::string& title, const std::string& text);
    // Export, DAKOTA's processing with its wait, then when asked the result
    // read and DAKOTA's protocol view with its wait: the run's follow-up.
    TDakotaProcessing DakotaProcessing(bool readResult, bool showProtocol);

    // --- order actions (OrderActions.cpp)
    // The actions of the category "Auftrag" of the outbox and of the grid of
    // "Archiv Aufträge". The window hands over which orders are meant.
    void actAuftragLoeschenExecute(const TOrderSelection& sel);              // "Löschen"
    void actEmailVersandtExecute(const TOrderSelection& sel);                // "Email ist versandt"
    void actEmailNichtVersandtExecute(const TOrderSelection& sel);           // "Email nicht versandt"
    void actAlleEmailsVersandtExecute(const TOrderSelection& sel);           // "Alle Emails sind versandt"
    // "Email erzeugen": true when the order was sent and marked sent.
    bool actEmailErzeugenExecute(const TOrderSelection& sel);
    // "Alle Emails versenden" (outbox only).
    TMailBatchResult actAlleEmailsVersendenExecute(const TOrderSelection& sel);
    void actBegleitzettelAnsehenExecute(const TOrderSelection& sel);         // "Begleitzettel ansehen"
    void actBegleitzettelDruckenExecute(const TOrderSelection& sel);         // "Begleitzettel drucken.. auf: "
    // "Alle Begleitzettel drucken" and "Alle Begleitzettel drucken (Vorschau)".
    void actAlleBegleitzettelDruckenExecute(const TOrderSelection& sel, bool preview);
    void actAuftragsdateiAnzeigenExecute(const TOrderSelection& sel);        // "Auftragsdatei anzeigen"
    void actNutzdatenAnzeigenExecute(const TOrderSelection& sel);            // "Nutzdaten anzeigen"
    // "Gehe zu Rechnung": true when the invoice was found and its tab shown.
    bool actGeheZuRechnungExecute(const TOrderSelection& sel);

    // The e-mail data of the order with the id: its two files copied into
    // "export"; false when the order is unknown or already sent.
    bool PrepareOrderEmail(int64_t id, TEmailData& data);
    // One order mail, by the mail client (EMAIL_MAPI) or by SMTP as order
    // `count` of a batch. By SMTP the connection stays open for the next one.
    TMailSendResult SendOrderMail(const TEmailData& data, int count);
    // The outbox's ids, each in single quotes, joined by ",": "'12','13'".
    std::string OutboxIdList() const;
    // Prints (or previews) the slips of the orders in the id list, or of the
    // order table's current row when list is null.
    void PrintSlips(const std::string* list, bool preview);
    // The shared SMTP mailer; ReleaseMailer disconnects and frees it, so that
    // the next mail uses the settings of that moment.
    TMailerHolder& Mailers() { return *mailers_; }
    void ReleaseMailer();
    // The time limit of every SMTP step after the connect (releases the mailer).
    void SetMailStepTimeout(int milliseconds);
    // The system's mail client; none on this platform (null).
    void SetMailClient(IMailClient* client) { mailClient_ = client; }
    // The accompanying-slip report; until one is attached slips cannot be printed.
    void SetSlipReport(ISlipReport* report) { slipReport_ = report; }

    // --- invoice baskets (BasketActions.cpp)
    // The invoice entry window. Without one, invoices can be neither created
    // nor edited (the actions say so), and "Rechnung ansehen" shows the file's text.
    void SetInvoiceEditor(IInvoiceEditor* editor) { invoiceEditor_ = editor; }
    IInvoiceEditor* InvoiceEditor() const { return invoiceEditor_; }
    // The header of a new invoice with this number: today's date, the
    // provider's IK, name and address from the settings, the cost bearer of
    // the last invoice ("Letzte_KT_IK").
    TNewInvoiceHeader NewInvoiceHeader(const std::string& number) const;
    // The input basket's actions; `selected` holds the captions of the
    // selected items in list order. Every move between baskets copies without
    // overwriting and deletes the source only when the copy is there; a
    // failure is shown (or thrown, for the window's error message).
    void actRechnungNeuExecute();                                                      // "Rechnung neu erstellen"
    void actRechnungBearbeitenExecute(const std::vector<std::string>& selected);       // "Rechnung bearbeiten"
    void actEingabeRechnungLoeschenExecute(const std::vector<std::string>& selected);  // "Rechnung löschen"
    void actRechnungInEingangskorbExecute(const std::vector<std::string>& selected);   // "Rechnung in Eingangskorb ablegen"
    void actRechnungInArchivExecute(const std::vector<std::string>& selected);         // "Rechnung in Archiv verschieben"
    void actRechnungKopierenExecute(const std::vector<std::string>& selected);         // "Rechnung kopieren"
    void actRechnungUmbenennenExecute(const std::vector<std::string>& selected);       // "Rechnung umbenennen"
    void actEingabeAktualisierenExecute() { ReadInputBasket(); }                       // "Ansicht aktualisieren"
    // The actions of the category "Rechnung" on the inbox and on the grid of
    // "Archiv Rechnung".
    void actRechnungAnsehenExecute(const TInvoiceSelection& sel);            // "Rechnung ansehen"
    void actRechnungKorrigierenExecute(const TInvoiceSelection& sel);        // "Rechnung korrigieren"
    void actRechnungLoeschenExecute(const TInvoiceSelection& sel);           // "Rechnung löschen"
    void actFehlerMarkierungEntfernenExecute(const TInvoiceSelection& sel);  // "Fehler-Markierung entfernen"
    // "Gehe zu Auftrag": true when the order was found and its tab shown.
    bool actGeheZuAuftragExecute(const TInvoiceSelection& sel);
    void actNeuLadenExecute(const TInvoiceSelection& sel);                   // "Neu laden"
    // The view of "Archiv Rechnung": "Filtern", the date range and "Suchen".
    // Setting it puts the filter on the invoice archive's table and searches;
    // false when a search text found no invoice.
    const TInvoiceArchiveFilter& InvoiceArchiveFilter() const { return invoiceFilter_; }
    bool SetInvoiceArchiveFilter(const TInvoiceArchiveFilter& filter);
    // The title of the printed list of "Archiv Rechnung" ("Drucken").
    std::string InvoiceArchivePrintTitle() const { return invoiceFilter_.PrintTitle(); }

    // --- data maintenance, backup and update (Maintenance.cpp)
    // The maintenance actions of the "Einstellungen" tab, the backup of the
    // "Datei" menu and the update of the "Über" menu. Each runs to its end
    // before a close request is handled (the shut-down follows it); a
    // failure is shown to the user, and the busy state ends unless an update
    // released the tables (then only closing the program is left).
    enum class MaintenanceAction { DatenBereinigen, ArchivBereinigen, DatenImport };
    static constexpr int PurgeDays = 200;     // "Daten bereinigen"
    static constexpr int RebuildDays = 20;    // "Daten Import"
    // The action's hint: its pieces joined with LF CR.
    static std::string MaintenanceHint(MaintenanceAction action);
    // "Daten bereinigen", "Archiv bereinigen", "Daten Import": each asks first.
    void actDatenBereinigenExecute();
    void actArchivBereinigenExecute();
    void actDatenImportExecute();
    // The same without the question; true when they ran without a failure.
    bool PurgeOldData();
    bool CleanupArchiveFiles();
    bool ImportArchiveData();
    // "Datensicherung erstellen": saves the tables, backs up, then reloads
    // both archives from their files; true when the backup was made.
    bool actDatensicherungErstellenExecute();
    // "DB Funktion": adds the DTAREF column to KT_BASE and to the order
    // archive when their files lack it; the patched tables are read again.
    void actDBFunktionExecute();
    // "Update [Daten]" and "Update [Programm]" from the server named by the
    // line Update_Server in brenvo.ini. True when the update was unpacked
    // (and installed). The data update then ends the program: the shut-down
    // is posted and runs once this handler has returned; with the tables
    // released it writes nothing over the new files.
    bool actUpdateDatenExecute();
    bool actUpdateProgrammExecute();
    // The directories a backup takes its files from.
    BackupSources BackupSourceDirs() const;
    // A backup now (into SIK_DIR or "Datensicherung"); returns its name.
    std::string MakeBackup();
    const std::string& LastBackup() const { return lastBackup_; }

    // --- cost-bearer import (CostBearerImport.cpp)
    // "Kostenträgerdateien einlesen" of the "Kostenträger Daten" tab: the
    // insurers' cost-bearer files (KOTR) given replace the directory as a
    // whole, written as one step, and the store is read again, so that the
    // next run uses them. Files that cannot be read, or a kind of insurer
    // without a file in force, replace nothing (the message is shown).
    // allLinks keeps the data and paper links for every kind of provider,
    // otherwise only those for patient transport. When rows were changed by
    // hand since the last import, asks first (Yes, No). True when the new
    // directory is in place.
    bool actKTImportExecute(const std::vector<std::string>& files, bool allLinks);
    // The tab's button: the files chosen in the file chooser are imported
    // with the links for patient transport; the tab shows the new tables.
    void actKTDateienImportierenExecute();
    // The same without the question (the rows changed by hand are named in the log).
    bool ImportCostBearerFiles(const std::vector<std::string>& files, bool allLinks);
    // Reads the five cost-bearer files into the store again (views of its
    // tables stay attached); a file that cannot be read leaves the store as
    // it was. Counters not yet saved are lost, so callers save them first.
    void ReloadCostBearers();

    // IUpdateHost (with SaveTables and ReleaseTables above). Without a window
    // the download dialog runs unattended, its closing message goes to the
    // log; a window showing the dialog joins in RunDownloadDialog.
    void ShowLoadPanel() override;
    void CreateBackup() override;
    bool RunDownloadDialog(const UpdateDownloadParams& params) override;
    void Pause(int milliseconds) override;
    void CloseProgram() override;

private:
    friend class TLongActionGuard;

    struct InboxEntry {
        std::string Name;
        int Mark = 1;
        // A collective run's check keeps what it loaded, so that the job
        // does not read the file again.
        std::unique_ptr<TSGBJob::LoadedInvoice> Loaded;
    };

    void Step(const std::string& text);
    void BasketAction(TBasketList& list, const std::string& action, int64_t value, const std::string& text);
    void PrepareDirectories();
    void WarnOfOldVersion();
    void LoadCostBearers();
    void FillFederalStates();
    void ApplyImportDirectory(const std::string& dir);
    // With `loading` (start-up), the store was prepared and its file is
    // being read by LoadInvoiceArchiveAhead; the load's result is taken.
    void CreateInvoiceArchive(std::future<void>* loading = nullptr);
    std::future<void> LoadInvoiceArchiveAhead();
    void PrepareInvoiceArchive();
    void CreateOrderArchive();
    void InvoiceArchiveLoaded();
    void StartImportWatcher();
    void StartupCheckDakota();
    void StartupCheckCertificates();
    void ShutdownStopDakota();
    void ShutdownBackup();
    void RunDakotaFollowUp();

    // Settings table access.
    std::string SettingValue(const std::string& key) const;
    // A file named by a setting: "" when blank, a relative one below the data directory.
    std::string SettingPath(const std::string& value) const;
    void PutSetting(const std::string& key, const std::string& value);

    // The run.
    void RunPhases(TRunResult& result);
    void LogSealedOrders(TSGBJob& job);
    void CheckPhase(std::vector<InboxEntry>& entries, TRunResult& result, TDateTime& latest);
    // The data recipients (logical, physical) found for a cost bearer's IK
    // on a day; the check phase asks for each IK once, as the directory does
    // not change while it runs.
    struct RecipientMemo {
        TDateTime day;
        std::unordered_map<std::string, std::pair<std::string, std::string>> found;
    };
    // With `keep`, the checked invoice's records and header values go there.
    void CheckLoadedInvoice(InvoiceDocument& doc, TDateTime& latest, RecipientMemo* memo = nullptr,
                            TSGBJob::LoadedInvoice* keep = nullptr);
    std::unique_ptr<TSGBJob> OpenJob(int billingMonth);
    void ProcessCollective(std::vector<InboxEntry>& entries, TRunResult& result, int billingMonth);
    void ProcessSingle(std::vector<InboxEntry>& entries, TRunResult& result, int billingMonth);
    void CancelJob(TSGBJob& job, TRunResult& result);
    void MarkAsError(InboxEntry& entry);
    void ClosingSteps(TRunResult& result);

    // Crash safety of the run (RunCommit.cpp).
    struct PendingOrder {
        std::string Handle;
        std::string DtaRecipient;
        int64_t DtaRef = 0;
    };
    void NoteOrdersBeingWritten(TSGBJob& job);
    void KeepJobResult(TSGBJob& job);
    // jobWrites holds the jobs' files, made durable before the record.
    void CommitRun(TRunResult& result, SyncGroup& jobWrites);
    void AbandonRun(TRunResult& result);
    void FinishRun(const RunJournal& journal, bool recovering);
    bool FinishUnfinishedRun();
    void ReturnStagedInvoices();
    void DiscardUnfinishedOrders();
    void RecoverAtStartup();
    void CloseRunNotes();
    std::vector<PendingOrder> pendingOrders_;
    bool runOpen_ = false;
    std::unique_ptr<DataDirLock> lock_;
    bool lockRefused_ = false;   // another program holds the data directory
    void PostShutdown();
    void HandleShutdownMessage();
    int KindFlag() const { return system_.SYST_ART == 1 ? 1 : 0; }

    IMainView& view_;
    std::shared_ptr<MessageQueue> queue_;
    // Posted handlers check it, so that none runs after the controller went.
    std::shared_ptr<bool> alive_;

    TDataPaths paths_;
    std::string importDir_;
    std::string backupDir_;
    TSystem system_;
    TEinrichtung einrichtung_;
    TProcessValues values_;
    TSettingsForm form_;
    Table settings_;
    bool settingsLoaded_ = false;

    std::unique_ptr<TSGBKTStore> kt_;
    std::unique_ptr<TKTMaintenance> ktMaintenance_;
    std::unique_ptr<TRechStore> rech_;
    std::unique_ptr<TAuftragSTore> auf_;
    bool rechLoaded_ = false, aufLoaded_ = false;
    std::unique_ptr<TSGBJob> job_;
    // The run's own encryption of the orders (KRYPT_AKTIV), made at its start.
    std::unique_ptr<IOrderSealer> sealer_;

    std::vector<std::string> log_;
    TBasketList inbox_, input_, outbox_;
    bool inboxChanged_ = false;
    std::unique_ptr<TShellChangeNotifier> importWatcher_;

    int progressPos_ = 0, progressMax_ = 100;
    std::string progressText_;
    int loadPos_ = 0, loadMax_ = 10;
    std::string loadText_;

    bool busy_ = false;
    bool startEnabled_ = true;
    bool running_ = false;
    bool startupDone_ = false;
    bool startupOk_ = false;
    bool shuttingDown_ = false;
    bool closingAllowed_ = false;
    bool closePending_ = false;
    int longActions_ = 0;   // TLongActionGuards alive
    bool quitAfterRun_ = false;
    TRunResult lastRun_;

    // --- DAKOTA actions (DakotaActions.cpp)
    void SyncDakotaInfo();
    void RegisterDakotaNotifications();
    void OnDakotaStarted();
    void OnDakotaStartError();
    void OnDakotaTerminated();
    void OnDakotaDataDirChanged();
    void SetDakotaPanel(const std::string& text);
    void CloseDakotaBusyDialog();
    TDakotaActionResult StartDakotaCall(const std::string& logText, const std::string& sw);
    TDakotaActionResult DakotaFailure(TDakotaActionResult result, const std::string& message);
    std::unique_ptr<TDakota> dakota_ = std::make_unique<TDakota>(queue_);
    std::unique_ptr<TShellChangeNotifier> dakotaWatcher_;   // DAKOTA's hand-over directory
    std::unique_ptr<TdmDakota> dmDakota_;                   // DAKOTA's protocol, opened when needed
    bool dakotaReady_ = false;
    bool dakotaRunning_ = false;
    bool dakotaPending_ = false;
    bool dakotaStartFailed_ = false;
    bool dakotaProcessing_ = false;   // "-x" runs: the watcher feeds the progress
    bool busyDialogOpen_ = false;
    int dakotaFiles_ = 0;             // order records in the hand-over directory when "-x" started
    TDakotaResult dakotaResult_;
    std::string dakotaStatus_;
    std::string dakotaCheckText_;

    // --- order actions (OrderActions.cpp)
    struct SendingScope;
    std::vector<int64_t> OutboxIds() const;
    void ShowOrderFile(int64_t id, const char* extension);
    void MarkOrdersSent(const std::vector<int64_t>& ids);
    void MarkOrdersNotSent(const std::vector<int64_t>& ids);
    void SaveOrdersAfterSending();
    std::unique_ptr<TMailerHolder> mailers_ = std::make_unique<TMailerHolder>();
    IMailClient* mailClient_ = nullptr;
    ISlipReport* slipReport_ = nullptr;

    // --- invoice baskets (BasketActions.cpp)
    bool DeleteInvoiceFiles(const std::string& dir, const std::vector<std::string>& names);
    bool OpenInvoice(const std::string& path, EntryMode mode, const TNewInvoiceHeader* header);
    void EditInputInvoice(const std::string& name, const TNewInvoiceHeader* header);
    void ReturnArchivedInvoice(const std::string& number, bool deleteReturned);
    IInvoiceEditor* invoiceEditor_ = nullptr;
    TInvoiceArchiveFilter invoiceFilter_;

    // Throws the refusal of ArchivesRefusal.
    void RequireArchives(const std::string& action) const;
    // Shows the refusal of ArchivesRefusal; true when the action must stop.
    bool RefusedWithoutArchives(const std::string& action);

    // --- data maintenance, backup and update (Maintenance.cpp)
    // Both archives to their files at once (without the steps of "Daten speichern ...").
    void SaveArchives();
    bool OperationPossible() const;
    bool Confirmed(const std::string& question);
    bool RunMaintenance(const std::string& action, bool processingTab, const std::function<void()>& body);
    bool RunOperation(bool processingTab, const std::function<void()>& body);
    bool EndOperation(const std::string& failure, bool idle);
    bool RunUpdate(bool program);
    int RebuildInvoiceRows();
    void LinkRebuiltOrders();
    bool maintenanceRunning_ = false;
    bool updateDownloaded_ = false;   // the running update has its archive: the tables go
    std::string lastBackup_;

    // --- cost-bearer import (CostBearerImport.cpp)
    void LoadCostBearerFiles(TSGBKTStore& store, bool steps);
    void RecoverCostBearerImport();
    bool RunCostBearerImport(const std::vector<std::string>& files, bool allLinks, bool ask);
    void ImportSteps(const std::vector<std::string>& files, bool allLinks, bool ask, bool& replaced);
};

// Held by every long action that lets window events through (the run,
// maintenance, backup, update, the DAKOTA actions and waits, mail batches,
// printing, the start-up). A close request that arrives while any guard is
// held is not carried out inside the action: the shut-down is posted when
// the outermost guard ends, also when the action ends by an exception.
class TLongActionGuard {
public:
    explicit TLongActionGuard(TMainController& c) : c_(c) { ++c_.longActions_; }
    ~TLongActionGuard();
    TLongActionGuard(const TLongActionGuard&) = delete;
    TLongActionGuard& operator=(const TLongActionGuard&) = delete;

private:
    TMainController& c_;
};

} // namespace brenvo
