#include "mainwindow/SettingsPage.h"

#include <algorithm>

#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

using K = SettingKind;
using A = MainAction;

TSettingField F(std::string key, std::string caption, SettingKind kind = K::Text, int maxLength = 0,
                std::string hint = "") {
    TSettingField f;
    f.Key = std::move(key);
    f.Caption = std::move(caption);
    f.Kind = kind;
    f.MaxLength = maxLength;
    f.Hint = std::move(hint);
    return f;
}

TSettingField Beside(TSettingField f) {
    f.Beside = true;
    return f;
}

std::vector<TSettingGroup> BuildGroups() {
    using G = SettingsGroup;
    std::vector<TSettingGroup> g;
    // The widths of the provider's texts are those the facility record keeps,
    // so that nothing typed is cut off unseen when the settings are read.
    g.push_back({G::Leistungserbringer, "Leistungserbringer", 0,
                 {F("EINR_IK", "IK", K::Text, 9, "zwingend anzugeben, wenn Einzelleistungserbringer"),
                  F("EINR_NAME1", "Name", K::Text, 40), F("EINR_STRASSE", "Strasse", K::Text, 40),
                  F("EIN_PLZORT", "Plz / Ort", K::Text, 40)},
                 {}});
    g.push_back({G::LandUndBezirk, "Land und Bezirk", 0,
                 {F("EINR_LAND", "Bundesland", K::FederalState, 2), F("EINR_BEZIRK", "Bezirk", K::Text, 2)},
                 {}});
    g.push_back({G::Rechnungsdruck, "f. Rechnungsdruck (optional)", 0,
                 {F("BRIEFKOPF", "Briefkopf", K::MultiLine, 200), F("BRIEFFUSS", "Brieffuss", K::MultiLine, 200),
                  F("STEUERNR", "Steuernummer", K::Text, 30), F("BANKVERBINDUNG", "Bankverbind.", K::MultiLine, 200)},
                 {}});
    g.push_back({G::Verschluesselung, "Verschlüsselung", 0,
                 {F("KRYPT_AKTIV", "Abrechnungsdateien selbst verschlüsseln", K::Flag, 0,
                    "Die Abrechnungsdateien signiert und verschlüsselt das Programm selbst (nicht zusammen mit Dakota)."),
                  F("KRYPT_PKCS12", "Eigener Schlüssel (PKCS#12)", K::File),
                  F("KRYPT_PASSWORT", "Kennwort", K::Password),
                  F("KRYPT_SCHLUESSELLISTE", "Schlüsselliste der Annahmestellen", K::File)},
                 {}});
    g.push_back({G::Abrechnung, "Abrechnung", 1,
                 {F("SYST_VERF", "Verfahren", K::Choice),
                  F("SYST_ART", "Art", K::Choice, 0, "wählen Sie Abrechnungszentrum oder Einzel-Leistungserbringer"),
                  F("VERSION", "Version", K::Choice), F("VERSION_DATUM", "Versionsdatum", K::Date, 10, "Versionsdatum"),
                  F("MAXTRANSFER", "Aktuelle Transfernummer", K::ReadOnly)},
                 {}});
    g.push_back({G::Erstelloptionen, "Erstelloptionen", 1,
                 {F("SYST_ZUSF", "zusammenfassen", K::Flag, 0,
                    "alle Daten für einen Empfänger werden in einer Datei zusammengefasst")},
                 {}});
    g.push_back({G::Sonstiges, "Sonstiges", 1,
                 {F("SYST_DIRIMP", "Abweichendes Importverzeichnis", K::Directory),
                  F("OPT_XMLCONVERSION", "XML-Datei-Konvertierung", K::Flag), Beside(F("OPT_XMLTOCOMMA", "Komma", K::Flag))},
                 {A::DBFunktion}});
    g.push_back({G::Datensicherung, "Datensicherung", 1,
                 {F("SIK_DIR", "Verzeichnis", K::Directory), F("SIK_AUTO", "automatisch bei Programmende", K::Flag)},
                 {A::DatenBereinigen, A::ArchivBereinigen, A::DatenImport}});
    g.push_back({G::Versand, "Versand-Einstellungen", 2,
                 {F("EMAIL_MAPI", "Email (Mapi)", K::Flag), Beside(F("EMAIL_SMTP", "Email (Smtp)", K::Flag)),
                  F("DAKOTA_EMAIL", "Email durch Dakota", K::Flag),
                  F("OPT_NOEMAILDIALOG", "keinen Email Dialog anzeigen", K::Flag),
                  F("EMAIL_SERVER", "Server", K::Text, 0, "Name oder Adresse des Mailservers. Pflichtfeld"),
                  F("EMAIL_PORT", "Port", K::Text, 5, "Port, Standardwert ist 25. Pflichtfeld"),
                  F("EMAIL_TLS", "Verschlüsselung", K::Choice, 0,
                    "STARTTLS: Port 587 oder 25; SMTPS: Port 465; keine: nur für einen Mailserver im eigenen Netz"),
                  F("EMAIL_USER", "Benutzername"), F("EMAIL_PWD", "Kennwort", K::Password),
                  F("EMAIL_SENDER", "Absender-Email"),
                  F("EMAIL_BCC", "Email für Kopien (BCC)", K::Text, 0,
                    "An diese Adresse werden Kopien gesandt. Kann leer bleiben."),
                  F("EMAIL_CAFILE", "Vertrauenswürdige Zertifikate (optional)", K::File, 0,
                    "Zertifikate (PEM) der Stelle, die das Zertifikat des Mailservers ausgestellt hat, wenn es "
                    "keine allgemein anerkannte ist.")},
                 {}});
    g.push_back({G::Dakota, "Dakota", 2,
                 {F("DAKOTA_AKTIV", "Dakota aktivieren", K::Flag, 0, "Dakota-Unterstützung aktiviern."),
                  F("DAKOTA_DATADIR", "Datenverzeichnis", K::Directory, 0, "Daten-Übergabeverzeichnis für Dakota."),
                  F("DAKOTA_INSTDIR", "Installationsverzeichnis", K::Directory, 0,
                    "Installationsverzeichnis von Dakota. Hier wird nach dem Dakota-Programm gesucht."),
                  F("DAKOTA_EXPDIR", "Ausgabeverzeichnis", K::Directory),
                  F("DAKOTA_PROTFILE", "Protokolldatei | ODBC System DNS", K::File),
                  F("DAKOTA_ANN_FILE", "Annahmestellen-Datei", K::File),
                  F("DAKOTA_PROC_AUTO", "Dakotaverarbeitung automatisch", K::Flag),
                  F("DAKOTA_PROT_AUTO", "Protokoll zeigen", K::Flag),
                  Beside(F("DAKOTA_PROT_READAUTO", "Protokoll lesen", K::Flag)),
                  F("DAKOTA_ANN_CHECK", "Email-Satz prüfen", K::Flag)},
                 {A::DakotaStart, A::DakotaProtokoll, A::DakotaProtKuerzen, A::DakotaReadAnnahme}});
    return g;
}

// How the entries map onto the settings form: texts (some trimmed of
// blanks when stored) and flags; the choices, the date and the transfer
// number are converted by hand.
using Form = TSettingsForm;
struct TextMember {
    const char* Key;
    std::string Form::*Member;
    bool Trimmed = false;
};
struct FlagMember {
    const char* Key;
    bool Form::*Member;
};

const TextMember kTexts[] = {
    {"EINR_IK", &Form::EINR_IK},
    {"EINR_NAME1", &Form::EINR_NAME1},
    {"EINR_STRASSE", &Form::EINR_STRASSE},
    {"EIN_PLZORT", &Form::EIN_PLZORT},
    {"EINR_LAND", &Form::EINR_LAND},
    {"EINR_BEZIRK", &Form::EINR_BEZIRK},
    {"BRIEFKOPF", &Form::BRIEFKOPF},
    {"BRIEFFUSS", &Form::BRIEFFUSS},
    {"STEUERNR", &Form::STEUERNR},
    {"BANKVERBINDUNG", &Form::BANKVERBINDUNG},
    {"SYST_DIRIMP", &Form::SYST_DIRIMP, true},
    {"EMAIL_SERVER", &Form::EMAIL_SERVER, true},
    {"EMAIL_PORT", &Form::EMAIL_PORT, true},
    {"EMAIL_USER", &Form::EMAIL_USER},
    {"EMAIL_PWD", &Form::EMAIL_PWD},
    {"EMAIL_SENDER", &Form::EMAIL_SENDER, true},
    {"EMAIL_BCC", &Form::EMAIL_BCC, true},
    {"EMAIL_TLS", &Form::EMAIL_TLS},
    {"EMAIL_CAFILE", &Form::EMAIL_CAFILE},
    {"DAKOTA_DATADIR", &Form::DAKOTA_DATADIR},
    {"DAKOTA_INSTDIR", &Form::DAKOTA_INSTDIR},
    {"DAKOTA_EXPDIR", &Form::DAKOTA_EXPDIR},
    {"DAKOTA_PROTFILE", &Form::DAKOTA_PROTFILE},
    {"DAKOTA_ANN_FILE", &Form::DAKOTA_ANN_FILE},
    {"KRYPT_PKCS12", &Form::KRYPT_PKCS12},
    {"KRYPT_PASSWORT", &Form::KRYPT_PASSWORT},
    {"KRYPT_SCHLUESSELLISTE", &Form::KRYPT_SCHLUESSELLISTE},
    {"SIK_DIR", &Form::SIK_DIR},
    {"VERSION", &Form::VERSION},
};

const FlagMember kFlags[] = {
    {"SYST_ZUSF", &Form::SYST_ZUSF},
    {"OPT_XMLCONVERSION", &Form::OPT_XMLCONVERSION},
    {"OPT_XMLTOCOMMA", &Form::OPT_XMLTOCOMMA},
    {"EMAIL_MAPI", &Form::EMAIL_MAPI},
    {"EMAIL_SMTP", &Form::EMAIL_SMTP},
    {"DAKOTA_EMAIL", &Form::DAKOTA_EMAIL},
    {"OPT_NOEMAILDIALOG", &Form::OPT_NOEMAILDIALOG},
    {"DAKOTA_AKTIV", &Form::DAKOTA_AKTIV},
    {"DAKOTA_PROC_AUTO", &Form::DAKOTA_PROC_AUTO},
    {"DAKOTA_PROT_AUTO", &Form::DAKOTA_PROT_AUTO},
    {"DAKOTA_PROT_READAUTO", &Form::DAKOTA_PROT_READAUTO},
    {"DAKOTA_ANN_CHECK", &Form::DAKOTA_ANN_CHECK},
    {"KRYPT_AKTIV", &Form::KRYPT_AKTIV},
    {"SIK_AUTO", &Form::SIK_AUTO},
};

// The width of the settings table's VALUE column.
constexpr int kValueWidth = 200;

// The three ways of sending e-mails exclude each other.
constexpr const char* kSending[] = {"EMAIL_MAPI", "EMAIL_SMTP", "DAKOTA_EMAIL"};

const char* FlagText(bool on) { return on ? "T" : "F"; }

const std::vector<std::string>& NoChoices() {
    static const std::vector<std::string> none;
    return none;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A choice's entry from its index; "" when outside the list.
std::string Entry(const std::vector<std::string>& list, int index) {
    return index >= 0 && size_t(index) < list.size() ? list[size_t(index)] : "";
}

int IndexOf(const std::vector<std::string>& list, const std::string& entry) {
    auto it = std::find(list.begin(), list.end(), entry);
    return it == list.end() ? -1 : int(it - list.begin());
}

std::string BelowRoot(const std::string& root, const std::string& path) {
    return IsAbsolutePath(path) ? path : PathJoin(root, path);
}

} // namespace

const std::vector<TSettingGroup>& TSettingsPage::Groups() {
    static const std::vector<TSettingGroup> groups = BuildGroups();
    return groups;
}

const TSettingField* TSettingsPage::Field(const std::string& key) {
    for (const TSettingGroup& g : Groups())
        for (const TSettingField& f : g.Fields)
            if (f.Key == key) return &f;
    return nullptr;
}

void TSettingsPage::Load(const TSettingsForm& f) {
    states_.clear();
    for (const TFederalState& s : f.FederalStates) states_.push_back(s.Text);
    values_.clear();
    for (const TextMember& t : kTexts) values_[t.Key] = f.*t.Member;
    for (const FlagMember& t : kFlags) values_[t.Key] = FlagText(f.*t.Member);
    values_["MAXTRANSFER"] = f.MAXTRANSFER;
    values_["SYST_VERF"] = Entry(TSettingsForm::VerfahrenList(), f.SYST_VERF);
    values_["SYST_ART"] = Entry(TSettingsForm::ArtList(), f.SYST_ART);
    values_["VERSION_DATUM"] = FormatDDMMYYYY(f.VERSION_DATUM);
    loaded_ = values_;
}

void TSettingsPage::SetTransferNumber(const std::string& number) {
    values_["MAXTRANSFER"] = number;
    loaded_["MAXTRANSFER"] = number;
}

const std::string& TSettingsPage::Value(const std::string& key) const {
    static const std::string empty;
    auto it = values_.find(key);
    return it == values_.end() ? empty : it->second;
}

bool TSettingsPage::SetValue(const std::string& key, const std::string& value) {
    const TSettingField* field = Field(key);
    if (!field || field->Kind == SettingKind::ReadOnly) return false;
    values_[key] = value;
    bool others = false;
    if (value == "T" && std::find(std::begin(kSending), std::end(kSending), key) != std::end(kSending)) {
        for (const char* k : kSending)
            if (k != key && values_[k] != "F") {
                values_[k] = "F";
                others = true;
            }
    }
    return others;
}

const std::vector<std::string>& TSettingsPage::Choices(const std::string& key) const {
    if (key == "SYST_VERF") return TSettingsForm::VerfahrenList();
    if (key == "SYST_ART") return TSettingsForm::ArtList();
    if (key == "VERSION") return TSettingsForm::VersionList();
    if (key == "EMAIL_TLS") return TSettingsForm::EmailTlsList();
    if (key == "EINR_LAND") return states_;
    return NoChoices();
}

int TSettingsPage::ChoiceIndex(const std::string& key) const {
    const std::vector<std::string>& list = Choices(key);
    if (key != "EINR_LAND") return IndexOf(list, Value(key));
    // The first state whose entry begins with the code.
    const std::string& code = Value(key);
    if (code.empty()) return -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (Utf8Left(list[i], 2) == code) return int(i);
    return -1;
}

bool TSettingsPage::Choose(const std::string& key, int index) {
    const std::vector<std::string>& list = Choices(key);
    if (index < 0 || size_t(index) >= list.size()) return false;
    return SetValue(key, key == "EINR_LAND" ? Utf8Left(list[size_t(index)], 2) : list[size_t(index)]);
}

bool TSettingsPage::GroupVisible(SettingsGroup group) const {
    if (group == SettingsGroup::Leistungserbringer) return Value("SYST_ART") != TSettingsForm::ArtList()[1];
    return true;
}

std::string TSettingsPage::Check(const std::string& root) const {
    // The settings table keeps 200 characters of a value, the facility
    // record fewer of some: a longer text would be cut off unseen.
    for (const TSettingGroup& g : Groups()) {
        if (!GroupVisible(g.Id)) continue;
        for (const TSettingField& f : g.Fields) {
            const size_t most = size_t(f.MaxLength > 0 ? f.MaxLength : kValueWidth);
            if (const size_t n = Utf8Length(Value(f.Key)); n > most)
                return Format("%s: höchstens %d Zeichen (eingegeben sind %d).", {f.Caption, int(most), int(n)});
        }
    }
    if (GroupVisible(SettingsGroup::Leistungserbringer)) {
        const std::string ik = Value("EINR_IK");
        if (Trim(ik).empty()) return "IK: zwingend anzugeben, wenn Einzelleistungserbringer.";
        if (ik.size() != 9 || !IsDigits(ik)) return "IK: " + Quoted(ik) + " ist keine neunstellige Zahl.";
    }
    for (const char* key : {"EINR_LAND", "EINR_BEZIRK"}) {
        const std::string v = Value(key);
        if (!v.empty() && (v.size() != 2 || !IsDigits(v)))
            return Field(key)->Caption + ": " + Quoted(v) + " ist kein zweistelliger Schlüssel.";
    }
    if (Value("SYST_VERF").empty()) return "Verfahren: bitte Test, Erprobung oder Echt wählen.";
    if (Value("SYST_ART").empty()) return "Art: bitte Einzelleistungserbringer oder Abrechnungszentrum wählen.";
    if (Value("VERSION").empty()) return "Version: bitte eine Version der Abrechnungsdaten wählen.";
    if (!ParseDDMMYYYY(Trim(Value("VERSION_DATUM"))))
        return "Versionsdatum: " + Quoted(Value("VERSION_DATUM")) + " ist kein Datum (TT.MM.JJJJ).";
    if (const std::string dir = Trim(Value("SYST_DIRIMP")); !dir.empty() && !DirectoryExists(BelowRoot(root, dir)))
        return "Abweichendes Importverzeichnis: das Verzeichnis " + Quoted(dir) + " gibt es nicht.";

    const std::string port = Trim(Value("EMAIL_PORT"));
    if (!port.empty()) {
        const auto n = ParseInt(port);
        if (!IsDigits(port) || !n || *n < 1 || *n > 65535)
            return "Port: " + Quoted(Value("EMAIL_PORT")) + " ist keine Portnummer (eine Zahl von 1 bis 65535).";
    }
    if (Flag("EMAIL_SMTP")) {
        if (Trim(Value("EMAIL_SERVER")).empty()) return "Server: Pflichtfeld, wenn Email (Smtp) gewählt ist.";
        if (port.empty()) return "Port: Pflichtfeld, wenn Email (Smtp) gewählt ist (Standardwert ist 25).";
    }
    return "";
}

void TSettingsPage::Store(TSettingsForm& f, const std::string& root) const {
    if (const std::string refusal = Check(root); !refusal.empty()) throw Error(refusal);
    for (const TextMember& t : kTexts) f.*t.Member = t.Trimmed ? Trim(Value(t.Key)) : Value(t.Key);
    for (const FlagMember& t : kFlags) f.*t.Member = Flag(t.Key);
    f.FederalStateIndex = ChoiceIndex("EINR_LAND");
    f.SYST_VERF = ChoiceIndex("SYST_VERF");
    f.SYST_ART = ChoiceIndex("SYST_ART");
    f.VERSION_DATUM = ParseDDMMYYYY(Trim(Value("VERSION_DATUM")))->DateOnly();
}

void TSettingsPage::Save(TMainController& controller) {
    TSettingsForm& form = controller.SettingsForm();
    const TSettingsForm before = form;
    Store(form, controller.Paths().Root);
    try {
        controller.CheckSettingsForm();
    } catch (...) {
        form = before;
        throw;
    }
    controller.actEinstellungenSpeichernExecute();
    Load(form);
}

std::string TSettingsPage::ChosenPath(const std::string& chosen, const std::string& root) {
    const std::string path = ExcludeTrailingPathDelimiter(chosen);
    const std::string prefix = IncludeTrailingPathDelimiter(root);
    if (path.size() > prefix.size() && StartsWith(path, prefix)) return path.substr(prefix.size());
    return path;
}

} // namespace brenvo
