#pragma once

// The "Einstellungen" tab: the widgets of TSettingsPage's groups and fields
// in three columns, the maintenance and DAKOTA buttons of their groups and
// "Einstellungen speichern". Every entry goes to the page logic as it is
// typed; the logic decides what else changes, what is shown and what may be
// saved.

#include <QWidget>

#include <map>
#include <string>

#include "mainwindow/SettingsPage.h"

class QComboBox;
class QGroupBox;
class QLineEdit;

namespace brenvo {

class TfrmMain;

class TfrmEinstellungen : public QWidget {
    Q_OBJECT
public:
    explicit TfrmEinstellungen(TfrmMain& main, QWidget* parent = nullptr);

    TSettingsPage& Page() { return page_; }
    // The widget that edits a setting (for a choice its list; for
    // "Bundesland" the code beside the list of states).
    QWidget* Editor(const std::string& key) const;

private:
    QWidget* BuildGroup(const TSettingGroup& group);
    QWidget* BuildEditor(const TSettingField& field);
    QWidget* WithChooser(const TSettingField& field, QLineEdit* edit);
    void Choose(const TSettingField& field);
    void Changed(const std::string& key, const std::string& value);
    void Reload();
    void ShowValues();
    void ShowGroups();

    TfrmMain& main_;
    TSettingsPage page_;
    std::map<std::string, QWidget*> editors_;
    QComboBox* stateList_ = nullptr;
    std::map<SettingsGroup, QGroupBox*> groups_;
};

} // namespace brenvo
