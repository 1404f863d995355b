// brenvo-cli: the program without windows, for batch use and automation.
//
//   brenvo-cli [-d DATENVERZEICHNIS] verarbeiten
//   brenvo-cli [-d DATENVERZEICHNIS] versenden
//   brenvo-cli [-d DATENVERZEICHNIS] pruefen DATEI...
//   brenvo-cli [-d DATENVERZEICHNIS] kt-info IK [--datum TT.MM.JJJJ] [--land LL] [--bezirk BB]
//   brenvo-cli [-d DATENVERZEICHNIS] kt-import [--alle] DATEI...
//   brenvo-cli [-d DATENVERZEICHNIS] sicherung|bereinigen|archiv-bereinigen|daten-import
//   brenvo-cli [-d DATENVERZEICHNIS] update-daten|update-programm
//   brenvo-cli [-d DATENVERZEICHNIS] dakota-export|dakota-verarbeiten|dakota-ergebnis|dakota-status|annahmestellen
//   brenvo-cli [-d DATENVERZEICHNIS] zertifikate
//   brenvo-cli [-d DATENVERZEICHNIS] entschluesseln DATEI --pkcs12 SCHLUESSEL --passwort PW --aus AUSGABE
//   brenvo-cli [-d DATENVERZEICHNIS] drucken rechnung DATEI [--kurz] --pdf AUSGABE.pdf
//   brenvo-cli [-d DATENVERZEICHNIS] drucken begleitzettel [TRANSFERNAME...] --pdf AUSGABE.pdf
//   brenvo-cli [-d DATENVERZEICHNIS] drucken archivliste [--von TT.MM.JJJJ --bis TT.MM.JJJJ] --pdf AUSGABE.pdf
//   brenvo-cli --help
//
// Exit codes: 0 success, 1 failed invoices (or a run ended by a failure, or
// an IK that cannot be resolved), 2 start-up failed or wrong arguments.

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "lib/Basics/applicationframe.h"
#include "lib/base/DateTime.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

using namespace brenvo;

namespace brenvo {
int CmdVersenden(const std::string& dir);   // cmd_versenden.cpp
bool IsMaintenanceCommand(const std::string& command);                   // cmd_maintenance.cpp
int CmdMaintenance(const std::string& command, const std::string& dir);  // cmd_maintenance.cpp
int CmdKtImport(const std::string& dir, const std::vector<std::string>& files, bool allLinks);   // cmd_maintenance.cpp
bool IsDakotaCommand(const std::string& command);                        // cmd_dakota.cpp
int CmdDakota(const std::string& command, const std::string& dir);       // cmd_dakota.cpp
int CmdZertifikate(const std::string& dir);                              // cmd_krypt.cpp
int CmdEntschluesseln(const std::string& dir, const std::string& file, const std::string& pkcs12,
                      const std::string& password, const std::string& out);   // cmd_krypt.cpp
int CmdDrucken(const std::string& dir, const std::vector<std::string>& rest);  // cmd_drucken.cpp
}

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The program's calls, as the help and the usage message show them.
const char* const kCalls[] = {
    "brenvo-cli [-d DATENVERZEICHNIS] verarbeiten",
    "brenvo-cli [-d DATENVERZEICHNIS] versenden",
    "brenvo-cli [-d DATENVERZEICHNIS] pruefen DATEI...",
    "brenvo-cli [-d DATENVERZEICHNIS] kt-info IK [--datum TT.MM.JJJJ] [--land LL] [--bezirk BB]",
    "brenvo-cli [-d DATENVERZEICHNIS] kt-import [--alle] DATEI...",
    "brenvo-cli [-d DATENVERZEICHNIS] sicherung|bereinigen|archiv-bereinigen|daten-import",
    "brenvo-cli [-d DATENVERZEICHNIS] update-daten|update-programm",
    "brenvo-cli [-d DATENVERZEICHNIS] dakota-export|dakota-verarbeiten|dakota-ergebnis",
    "brenvo-cli [-d DATENVERZEICHNIS] dakota-status|annahmestellen",
    "brenvo-cli [-d DATENVERZEICHNIS] zertifikate",
    "brenvo-cli [-d DATENVERZEICHNIS] entschluesseln DATEI --pkcs12 SCHLUESSEL --passwort PW --aus AUSGABE",
    "brenvo-cli [-d DATENVERZEICHNIS] drucken rechnung DATEI [--kurz] --pdf AUSGABE.pdf",
    "brenvo-cli [-d DATENVERZEICHNIS] drucken begleitzettel [TRANSFERNAME...] --pdf AUSGABE.pdf",
    "brenvo-cli [-d DATENVERZEICHNIS] drucken archivliste [--von TT.MM.JJJJ --bis TT.MM.JJJJ] --pdf AUSGABE.pdf",
    "brenvo-cli --help",
};

// The calls, one a line: the first after firstIndent, the others after indent.
std::string Calls(const std::string& firstIndent, const std::string& indent) {
    std::string out;
    for (const char* call : kCalls) out += (out.empty() ? firstIndent : indent) + call + "\n";
    return out;
}

const char* const kHelpHead =
    "brenvo-cli - Abrechnung im Datenträgeraustauschverfahren (nach §302 SGB V) ohne Programmfenster\n"
    "\n"
    "Aufruf:\n";

const char* const kHelpBody =
    "\n"
    "Befehle:\n"
    "  verarbeiten  Programmstart, Verarbeitung aller Rechnungen im Eingangskorb wie mit \"Start\"\n"
    "               im Programmfenster (mit den Einstellungen des Datenverzeichnisses), dann\n"
    "               Programmende. Jede Zeile des Protokolls erscheint sofort auf der\n"
    "               Standardausgabe; das Protokoll wird wie im Programmfenster unter \"Logs\"\n"
    "               gespeichert.\n"
    "  versenden    Programmstart, Versand aller noch nicht versandten Aufträge im Ausgangskorb\n"
    "               per Email (SMTP) wie mit \"Alle Emails versenden\" im Programmfenster, dann\n"
    "               Programmende. Die Meldungen des Versands erscheinen auf der Standardausgabe.\n"
    "  pruefen      Prüft die angegebenen Rechnungsdateien wie die Prüfphase der Verarbeitung\n"
    "               (bereits verarbeitete Rechnungsnummer, Daten-Empfänger, Prüfungen der\n"
    "               Abrechnung). Es wird nichts umbenannt, verschoben, archiviert oder\n"
    "               gespeichert. Eine Zeile je Datei: \"OK DATEI\" oder \"FEHLER DATEI Meldung\".\n"
    "  kt-info      Zeigt, wie eine IK im Kostenträgerverzeichnis aufgelöst wird. Ohne --land\n"
    "               und --bezirk gelten Bundesland und Bezirk der Einrichtung aus den\n"
    "               Einstellungen, ohne --datum der heutige Tag.\n"
    "  kt-import    wie \"Kostenträgerdateien einlesen\", ohne Rückfrage: liest die\n"
    "               Kostenträgerdateien der Krankenkassen (z. B. AO05Q426.ke0, eine je\n"
    "               Kassenart; von mehreren derselben Kassenart gilt die zuletzt in Kraft\n"
    "               getretene) und ersetzt damit das Kostenträgerverzeichnis in Stammdaten.\n"
    "               Ohne --alle werden nur die Verknüpfungen zu Daten- und Papierannahmestellen\n"
    "               für Krankentransport und Taxi (Abrechnungscodes 00, 40, 46, 99) übernommen.\n"
    "               Ist eine Datei fehlerhaft, bleibt das Verzeichnis unverändert. Die\n"
    "               DTAREF-Zähler und die mit \"Annahmestellen lesen\" angelegten Zeilen bleiben\n"
    "               erhalten, von Hand geänderte Angaben werden ersetzt.\n"
    "  sicherung    Programmstart, Datensicherung wie mit \"Datensicherung erstellen\" im\n"
    "               Programmfenster (die Dateien aus Stammdaten, ArchivR, ArchivA, dem\n"
    "               Importverzeichnis, export und eingabe als ZIP-Datei im Verzeichnis\n"
    "               \"Datensicherung\" oder SIK_DIR), dann Programmende.\n"
    "  bereinigen   wie \"Daten bereinigen\", ohne Rückfrage: Rechnungen und Aufträge älter als\n"
    "               200 Tage werden aus den Tabellen gelöscht. Die Dateien bleiben erhalten;\n"
    "               die Rechnungsdateien kommen zurück in den Eingangskorb.\n"
    "  archiv-bereinigen\n"
    "               wie \"Archiv bereinigen\", ohne Rückfrage: löscht die Dateien in ArchivR und\n"
    "               ArchivA, zu denen die Tabellen keinen Eintrag (mehr) haben.\n"
    "  daten-import wie \"Daten Import\", ohne Rückfrage: ergänzt fehlende Tabellen-Einträge aus\n"
    "               den Rechnungs- und Auftragsdateien der letzten 20 Tage.\n"
    "  update-daten wie \"Update [Daten]\": lädt das Stammdaten-Update vom Update-Server\n"
    "               (brenvo.ini: Update_Server=...) und entpackt es nach Stammdaten.\n"
    "  update-programm\n"
    "               wie \"Update [Programm]\": Datensicherung, Download und Installation des\n"
    "               Programm-Updates (ersetzte Dateien bleiben als .OLD erhalten).\n"
    "  Die Befehle kt-import und sicherung bis update-programm laufen wie verarbeiten mit\n"
    "  Programmstart und Programmende; das Protokoll erscheint auf der Standardausgabe.\n"
    "  dakota-export\n"
    "               wie \"Daten zu Dakota exportieren\": legt die noch nicht versandten Aufträge\n"
    "               in das Übergabeverzeichnis von Dakota (DAKOTA_DATADIR).\n"
    "  dakota-verarbeiten\n"
    "               wie die Dakota-Schritte nach der Verarbeitung: Export, Dakota mit -x\n"
    "               starten und auf sein Ende warten, dann \"Dakota-Ergebnis lesen\".\n"
    "  dakota-ergebnis\n"
    "               wie \"Dakota-Ergebnis lesen\": markiert die Aufträge als versandt, die\n"
    "               das Dakota-Protokoll als übertragen meldet, mit Dakotas Versandzeit.\n"
    "  dakota-status\n"
    "               Programmstart mit der Dakota-Prüfung; gibt das Ergebnis der Prüfung und\n"
    "               die Dakota-Statuszeile aus (zwei Zeilen), dann Programmende.\n"
    "  annahmestellen\n"
    "               wie \"Annahmestellen lesen\": übernimmt die Annahmestellen-Datei von\n"
    "               Dakota (DAKOTA_ANN_FILE) in die Übermittlungsdaten (KT_TRANSFER).\n"
    "  Die Dakota-Befehle setzen DAKOTA_AKTIV voraus und laufen wie verarbeiten mit\n"
    "  Programmstart und Programmende (dakota-status ohne Protokollausgabe).\n"
    "  zertifikate  Zeigt die Zertifikate der Schlüsselliste der Annahmestellen\n"
    "               (KRYPT_SCHLUESSELLISTE) mit ihrer Gültigkeit, je IK das zum Verschlüsseln\n"
    "               verwendete, die Zertifizierungsstellen und das eigene Zertifikat\n"
    "               (KRYPT_PKCS12).\n"
    "  entschluesseln\n"
    "               Entschlüsselt eine signierte und verschlüsselte Abrechnungsdatei mit dem\n"
    "               Schlüssel einer Annahmestelle (PKCS#12-Datei und Kennwort), prüft die\n"
    "               Signatur gegen die Stammzertifikate der Schlüsseldatei und der\n"
    "               Schlüsselliste des Datenverzeichnisses und schreibt den Inhalt nach --aus.\n"
    "  drucken      Druckt in eine PDF-Datei (A4): rechnung die Rechnung einer Rechnungsdatei\n"
    "               (ausführlich, mit --kurz die Kurzform), begleitzettel die Begleitzettel der\n"
    "               genannten Aufträge (Transfername oder ID, ohne Angabe alle Aufträge des\n"
    "               Ausgangskorbs), archivliste die archivierten Rechnungen (mit --von und --bis\n"
    "               die mit einem Rechnungsdatum in diesem Zeitraum).\n"
    "\n"
    "Optionen:\n"
    "  -d DATENVERZEICHNIS  das Datenverzeichnis (mit Stammdaten, import, ArchivA, ...);\n"
    "                       ohne -d das Verzeichnis der Programmdatei, wenn es Stammdaten\n"
    "                       enthält, sonst $XDG_DATA_HOME/brenvo (~/.local/share/brenvo)\n"
    "  -h, --help           diese Hilfe\n"
    "\n"
    "Rückfragen des Programms beantwortet brenvo-cli ohne Eingabe mit der vorsichtigen Wahl\n"
    "(\"Nein\", sonst \"Abbrechen\"); Eingabedialoge gelten als abgebrochen. Meldungen,\n"
    "Rückfragen und Fehler erscheinen auf der Standardfehlerausgabe.\n"
    "\n"
    "Rückgabewerte:\n"
    "  0  verarbeiten: Lauf beendet, keine Rechnung als fehlerhaft markiert;\n"
    "     pruefen: alle Rechnungen fehlerfrei; kt-info: IK aufgelöst; kt-import: ersetzt\n"
    "     versenden: alle Aufträge des Ausgangskorbs versandt\n"
    "     sicherung, bereinigen, archiv-bereinigen, daten-import: ohne Fehler ausgeführt;\n"
    "     update-daten, update-programm: Update installiert\n"
    "     dakota-export, dakota-ergebnis, annahmestellen: ohne Fehler ausgeführt;\n"
    "     dakota-verarbeiten: Dakota beendet mit Code 0 bis 3 und Protokoll gelesen;\n"
    "     dakota-status: Dakota installiert und bereit\n"
    "     zertifikate: Schlüsselliste (und eigener Schlüssel) gelesen;\n"
    "     entschluesseln: entschlüsselt, Signatur gültig, Inhalt geschrieben\n"
    "     drucken: PDF-Datei geschrieben (oder nichts zu drucken)\n"
    "  1  verarbeiten: Rechnungen als fehlerhaft markiert oder Lauf mit Fehler abgebrochen;\n"
    "     pruefen: mindestens eine Rechnung fehlerhaft; kt-info: IK nicht auflösbar;\n"
    "     kt-import: Datei fehlerhaft oder nicht verwendbar, nichts ersetzt\n"
    "     versenden: mindestens ein Auftrag nicht versandt\n"
    "     sicherung, bereinigen, archiv-bereinigen, daten-import: mit Fehler abgebrochen;\n"
    "     update-daten, update-programm: kein Update installiert\n"
    "     Dakota-Befehle: Dakota nicht aktiviert, nicht bereit, Startfehler, anderer\n"
    "     Ergebniscode von Dakota oder Fehler beim Export oder beim Lesen des Protokolls\n"
    "     zertifikate: keine oder unlesbare Schlüsselliste oder eigener Schlüssel;\n"
    "     entschluesseln: nicht entschlüsselbar oder Signatur ungültig\n"
    "     drucken: Datei nicht lesbar oder nicht schreibbar, Auftrag nicht gefunden\n"
    "  2  Programmstart fehlgeschlagen oder falscher Aufruf\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "brenvo-cli: %s\n%s", problem.c_str(), Calls("Aufruf: ", "        ").c_str());
    return kUsage;
}

struct Arguments {
    std::string dataDir;
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> datum, land, bezirk;
    bool alle = false;   // kt-import --alle
    std::optional<std::string> pkcs12, passwort, aus;
};

int Verarbeiten(const std::string& dir) {
    ConsoleView view(true);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::ShutDown)) return kUsage;
    c.actProzessStartExecute();
    const TRunResult run = c.LastRun();
    const bool stopped = c.Shutdown();
    if (!stopped) return kFailed;
    return run.Completed && run.Failed == 0 ? kOk : kFailed;
}

int Pruefen(const std::string& dir, const std::vector<std::string>& files) {
    ConsoleView view(false);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::LeaveAsIs)) return kUsage;
    c.ResetCostBearerIndexes();
    bool allOk = true;
    for (const std::string& file : files) {
        const std::string failure = c.CheckInvoiceFile(file);
        if (failure.empty()) {
            std::printf("OK %s\n", file.c_str());
        } else {
            std::printf("FEHLER %s %s\n", file.c_str(), ConsoleView::ConsoleLines(failure).c_str());
            allOk = false;
        }
        std::fflush(stdout);
    }
    return allOk ? kOk : kFailed;
}

int KtInfo(const std::string& dir, const Arguments& a) {
    TDateTime date = Today();
    if (a.datum) {
        auto d = ParseDDMMYYYY(*a.datum);
        if (!d) return Usage("--datum erwartet ein Datum TT.MM.JJJJ, nicht \"" + *a.datum + "\"");
        date = *d;
    }
    ConsoleView view(false);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::LeaveAsIs)) return kUsage;
    const std::string land = a.land ? *a.land : c.Einrichtung().EINR_LAND;
    const std::string bezirk = a.bezirk ? *a.bezirk : c.Einrichtung().EINR_BEZIRK;
    try {
        const std::string report = c.KTStore()->GetKTReport(a.operands[0], land, bezirk, date);
        std::printf("%s\n", ConsoleView::ConsoleLines(report).c_str());
        return kOk;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", ConsoleView::ConsoleLines(e.what()).c_str());
        return kFailed;
    }
}

} // namespace

int main(int argc, char** argv) {
    Arguments a;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") {
            std::fputs((kHelpHead + Calls("  ", "  ") + kHelpBody).c_str(), stdout);
            return kOk;
        }

    size_t i = 0;
    // Options before the command.
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-d") {
            if (i + 1 >= args.size()) return Usage("Option -d ohne Datenverzeichnis");
            if (!a.dataDir.empty()) return Usage("Option -d mehrfach angegeben");
            a.dataDir = args[++i];
            if (a.dataDir.empty()) return Usage("Option -d ohne Datenverzeichnis");
        } else if (StartsWith(arg, "-")) {
            return Usage("Unbekannte Option: " + arg);
        } else {
            break;
        }
    }
    if (i >= args.size()) return Usage("Kein Befehl angegeben");
    a.command = args[i++];
    if (a.command == "drucken") {
        // Its arguments are checked by the program that prints.
        const std::string dir = a.dataDir.empty() ? ProgramDirectory() : a.dataDir;
        return CmdDrucken(dir, std::vector<std::string>(args.begin() + long(i), args.end()));
    }
    if (a.command != "verarbeiten" && a.command != "versenden" && a.command != "pruefen" && a.command != "kt-info" &&
        a.command != "kt-import" && a.command != "zertifikate" && a.command != "entschluesseln" &&
        !IsMaintenanceCommand(a.command) && !IsDakotaCommand(a.command))
        return Usage("Unbekannter Befehl: " + a.command);

    // Operands and the options of kt-info.
    bool onlyOperands = false;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!onlyOperands && arg == "--") {
            onlyOperands = true;
            continue;
        }
        if (!onlyOperands && a.command == "kt-import" && arg == "--alle") {
            a.alle = true;
            continue;
        }
        if (!onlyOperands && StartsWith(arg, "-") && arg.size() > 1) {
            std::optional<std::string>* target = nullptr;
            if (a.command == "kt-info") {
                if (arg == "--datum") target = &a.datum;
                if (arg == "--land") target = &a.land;
                if (arg == "--bezirk") target = &a.bezirk;
            }
            if (a.command == "entschluesseln") {
                if (arg == "--pkcs12") target = &a.pkcs12;
                if (arg == "--passwort") target = &a.passwort;
                if (arg == "--aus") target = &a.aus;
            }
            if (!target) return Usage("Unbekannte Option: " + arg);
            if (i + 1 >= args.size()) return Usage("Option " + arg + " ohne Wert");
            *target = args[++i];
            continue;
        }
        a.operands.push_back(arg);
    }
    const bool takesOperands =
        a.command == "pruefen" || a.command == "kt-info" || a.command == "kt-import" || a.command == "entschluesseln";
    if (!takesOperands && !a.operands.empty())
        return Usage(a.command + " erwartet keine weiteren Angaben: " + a.operands.front());
    if (a.command == "pruefen" && a.operands.empty()) return Usage("pruefen erwartet mindestens eine Datei");
    if (a.command == "kt-info" && a.operands.size() != 1) return Usage("kt-info erwartet genau eine IK");
    if (a.command == "kt-import" && a.operands.empty()) return Usage("kt-import erwartet mindestens eine Datei");
    if (a.command == "entschluesseln" && a.operands.size() != 1)
        return Usage("entschluesseln erwartet genau eine Datei");
    if (a.command == "entschluesseln" && (!a.pkcs12 || !a.passwort || !a.aus))
        return Usage("entschluesseln erwartet --pkcs12, --passwort und --aus");

    // Without -d: the program file's directory when it holds "Stammdaten" (a
    // portable installation), else the user's data directory, as for brenvo.
    std::string dir = a.dataDir.empty() ? DefaultDataDirectory() : a.dataDir;
    if (!DirectoryExists(dir)) {
        std::fprintf(stderr, "brenvo-cli: Datenverzeichnis %s existiert nicht.\n", dir.c_str());
        return kUsage;
    }

    try {
        if (a.command == "verarbeiten") return Verarbeiten(dir);
        if (a.command == "versenden") return CmdVersenden(dir);
        if (IsMaintenanceCommand(a.command)) return CmdMaintenance(a.command, dir);
        if (IsDakotaCommand(a.command)) return CmdDakota(a.command, dir);
        if (a.command == "zertifikate") return CmdZertifikate(dir);
        if (a.command == "entschluesseln")
            return CmdEntschluesseln(dir, a.operands[0], *a.pkcs12, *a.passwort, *a.aus);
        if (a.command == "pruefen") return Pruefen(dir, a.operands);
        if (a.command == "kt-import") return CmdKtImport(dir, a.operands, a.alle);
        return KtInfo(dir, a);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brenvo-cli: %s\n", e.what());
        return kFailed;
    }
}
