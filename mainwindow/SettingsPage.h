#pragma once

// The "Einstellungen" tab without its widgets: its groups and fields with
// their captions and hints, the entries as the user types them, the rules
// between the fields (the three ways of sending exclude each other, the
// federal-state list follows the "Bundesland" code, the group
// "Leistungserbringer" is there only for a single provider) and the check of
// every entry before anything is saved. The window builds its widgets from
// Groups() and maps them onto a TSettingsPage.

#include <map>
#include <string>
#include <vector>

#include "mainwindow/MainActions.h"

namespace brenvo {

class TMainController;
struct TSettingsForm;

enum class SettingKind {
    Text,           // one line
    MultiLine,      // several lines
    Password,       // one line, shown masked
    Flag,           // a check box with the caption beside it
    Choice,         // one of the fixed entries of Choices()
    FederalState,   // the two-digit state code, chosen from the directory's list of states
    Directory,      // a path, with a directory chooser
    File,           // a path (or a name such as an ODBC data source), with a file chooser
    Date,           // TT.MM.JJJJ
    ReadOnly        // shown, never edited
};

struct TSettingField {
    std::string Key;          // the setting's key in brenvo.XML
    std::string Caption;
    SettingKind Kind = SettingKind::Text;
    int MaxLength = 0;        // the most characters kept (0: the table's 200)
    std::string Hint;         // "" when none
    bool Beside = false;      // a flag that stands beside the flag before it
};

enum class SettingsGroup {
    Leistungserbringer,
    LandUndBezirk,
    Rechnungsdruck,
    Abrechnung,
    Erstelloptionen,
    Sonstiges,
    Datensicherung,
    Versand,
    Dakota,
    Verschluesselung
};

struct TSettingGroup {
    SettingsGroup Id;
    std::string Caption;
    int Column = 0;                    // the tab shows its groups in three columns
    std::vector<TSettingField> Fields;
    std::vector<MainAction> Buttons;   // actions shown as buttons below the fields
};

class TSettingsPage {
public:
    // Every group of the tab in its order, each with its fields in order.
    static const std::vector<TSettingGroup>& Groups();
    // The field of a key; null when the tab has none.
    static const TSettingField* Field(const std::string& key);

    // Takes the entries from the controller's settings form (after the
    // settings were loaded or saved); nothing counts as changed afterwards.
    void Load(const TSettingsForm& form);
    // Only the transfer number, which the run advanced; other entries keep
    // what the user typed.
    void SetTransferNumber(const std::string& number);

    // An entry as the window shows it: the text; "T"/"F" for a flag; the
    // chosen entry's text for a choice ("" when none); the code for
    // "Bundesland".
    const std::string& Value(const std::string& key) const;
    // The user changed an entry. Switching one of the three ways of sending
    // on switches the other two off; a "Bundesland" code selects the list
    // entry it begins. True when other entries changed with it (the window
    // then shows them anew).
    bool SetValue(const std::string& key, const std::string& value);
    bool Flag(const std::string& key) const { return Value(key) == "T"; }
    bool SetFlag(const std::string& key, bool on) { return SetValue(key, on ? "T" : "F"); }

    // The entries of a choice field; for "Bundesland" the states of the
    // directory ("05 Nordrhein-Westfalen").
    const std::vector<std::string>& Choices(const std::string& key) const;
    // The chosen entry (-1 none); choosing one sets the value (for
    // "Bundesland" its first two characters).
    int ChoiceIndex(const std::string& key) const;
    bool Choose(const std::string& key, int index);

    // The group "Leistungserbringer" is shown only for "Einzelleistungserbringer".
    bool GroupVisible(SettingsGroup group) const;
    // Some entry differs from what was loaded.
    bool Modified() const { return values_ != loaded_; }

    // Checks every entry the user can see; "" when they may be saved,
    // otherwise the message naming the first field that is wrong. root: the
    // data directory (relative paths lie below it).
    std::string Check(const std::string& root) const;
    // Writes the entries into the form; throws Error with Check's message and
    // leaves the form as it was when an entry is wrong.
    void Store(TSettingsForm& form, const std::string& root) const;
    // "Einstellungen speichern": the entries into the controller's form, which
    // the controller checks, saves and reads back; the page then shows what
    // was read. A refused entry throws Error and changes nothing: neither the
    // file nor the form (the page keeps what the user typed).
    void Save(TMainController& controller);

    // A path chosen in a chooser as the field keeps it: below the data
    // directory relative to it, elsewhere as it is.
    static std::string ChosenPath(const std::string& chosen, const std::string& root);

private:
    std::map<std::string, std::string> values_;
    std::map<std::string, std::string> loaded_;
    std::vector<std::string> states_;   // the federal-state list
};

} // namespace brenvo
