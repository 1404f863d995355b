#include "mainwindow/frm_Einstellungen.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "lib/Basics/qt_Dialogs.h"
#include "lib/Basics/qt_Widgets.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

constexpr int kColumns = 3;

QString Name(const char* prefix, const std::string& key) { return QLatin1String(prefix) + ToQ(key); }

// Fields whose editor needs the whole width of a column.
bool WholeWidth(const TSettingField& f) {
    if (f.Kind == SettingKind::Directory || f.Kind == SettingKind::File) return true;
    if (f.Kind != SettingKind::Choice) return false;
    TSettingsPage page;
    for (const std::string& entry : page.Choices(f.Key))
        if (Utf8Length(entry) > 12) return true;
    return false;
}

// The object name of a group's box.
QString GroupName(SettingsGroup group) {
    switch (group) {
    case SettingsGroup::Leistungserbringer: return QStringLiteral("gbLeistungserbringer");
    case SettingsGroup::LandUndBezirk: return QStringLiteral("gbLandUndBezirk");
    case SettingsGroup::Rechnungsdruck: return QStringLiteral("gbRechnungsdruck");
    case SettingsGroup::Abrechnung: return QStringLiteral("gbAbrechnung");
    case SettingsGroup::Erstelloptionen: return QStringLiteral("gbErstelloptionen");
    case SettingsGroup::Sonstiges: return QStringLiteral("gbSonstiges");
    case SettingsGroup::Datensicherung: return QStringLiteral("gbDatensicherung");
    case SettingsGroup::Versand: return QStringLiteral("gbVersand");
    case SettingsGroup::Dakota: return QStringLiteral("gbDakota");
    case SettingsGroup::Verschluesselung: return QStringLiteral("gbVerschluesselung");
    }
    return {};
}

} // namespace

TfrmEinstellungen::TfrmEinstellungen(TfrmMain& main, QWidget* parent) : QWidget(parent), main_(main) {
    setObjectName(QStringLiteral("tsEinstellungen"));
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("pnlEinstellungen"));
    auto* columns = new QHBoxLayout(content);
    columns->setContentsMargins(6, 6, 6, 6);
    columns->setSpacing(8);
    QVBoxLayout* column[kColumns];
    for (auto& c : column) {
        c = new QVBoxLayout;
        c->setSpacing(6);
        columns->addLayout(c, 1);
    }
    for (const TSettingGroup& g : TSettingsPage::Groups()) column[g.Column]->addWidget(BuildGroup(g));
    for (auto& c : column) c->addStretch(1);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("sbEinstellungen"));
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(6, 0, 6, 6);
    bottom->addStretch(1);
    bottom->addWidget(ActionButton(main_.Action(MainAction::EinstellungenSpeichern)));

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(scroll, 1);
    page->addLayout(bottom);

    // The entries go into the controller's form only here, when they are saved.
    main_.SetActionHandler(MainAction::EinstellungenSpeichern, [this] { page_.Save(main_.Controller()); });
    connect(&main_, &TfrmMain::SettingsFormReloaded, this, &TfrmEinstellungen::Reload);
    connect(&main_, &TfrmMain::TransferNumberReloaded, this, [this] {
        page_.SetTransferNumber(main_.Controller().SettingsForm().MAXTRANSFER);
        ShowValues();
    });
    Reload();
}

QWidget* TfrmEinstellungen::Editor(const std::string& key) const {
    auto it = editors_.find(key);
    return it == editors_.end() ? nullptr : it->second;
}

QWidget* TfrmEinstellungen::BuildGroup(const TSettingGroup& group) {
    auto* box = new QGroupBox(ToQ(group.Caption));
    box->setObjectName(GroupName(group.Id));
    groups_[group.Id] = box;
    auto* form = new QFormLayout(box);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->setLabelAlignment(Qt::AlignLeft);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setContentsMargins(6, 4, 6, 6);
    form->setVerticalSpacing(3);
    QHBoxLayout* flags = nullptr;   // the row of the last flag, for one that stands beside it
    for (const TSettingField& f : group.Fields) {
        QWidget* editor = BuildEditor(f);
        if (!f.Hint.empty()) editor->setToolTip(DisplayText(f.Hint));
        if (f.Kind == SettingKind::Flag) {
            if (!f.Beside || !flags) {
                flags = new QHBoxLayout;
                flags->setSpacing(12);
                form->addRow(flags);
            }
            flags->addWidget(editor);
            continue;
        }
        flags = nullptr;
        auto* label = new QLabel(ToQ(f.Caption));
        label->setToolTip(editor->toolTip());
        label->setBuddy(editors_[f.Key]);
        if (WholeWidth(f)) {
            // A path or a long choice wants the whole width: its caption stands above it.
            form->addRow(label);
            form->addRow(editor);
        } else {
            form->addRow(label, editor);
        }
    }
    if (!group.Buttons.empty()) {
        auto* buttons = new QGridLayout;
        buttons->setSpacing(4);
        for (size_t i = 0; i < group.Buttons.size(); ++i)
            buttons->addWidget(ActionButton(main_.Action(group.Buttons[i])), int(i / 2), int(i % 2));
        form->addRow(buttons);
    }
    return box;
}

QWidget* TfrmEinstellungen::BuildEditor(const TSettingField& f) {
    const std::string key = f.Key;
    switch (f.Kind) {
    case SettingKind::Flag: {
        auto* check = new QCheckBox(ToQ(f.Caption));
        check->setObjectName(Name("chk", key));
        connect(check, &QCheckBox::toggled, this, [this, key](bool on) { Changed(key, on ? "T" : "F"); });
        editors_[key] = check;
        return check;
    }
    case SettingKind::Choice: {
        auto* combo = new QComboBox;
        combo->setObjectName(Name("cb", key));
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        int longest = 0;
        for (const std::string& entry : page_.Choices(key)) {
            combo->addItem(ToQ(entry));
            longest = std::max(longest, int(Utf8Length(entry)));
        }
        combo->setMinimumContentsLength(longest);
        connect(combo, &QComboBox::activated, this, [this, key](int index) {
            if (page_.Choose(key, index)) ShowValues();
            ShowGroups();
        });
        editors_[key] = combo;
        return combo;
    }
    case SettingKind::MultiLine: {
        auto* memo = new QPlainTextEdit;
        memo->setObjectName(Name("mm", key));
        memo->setTabChangesFocus(true);
        memo->setFixedHeight(memo->fontMetrics().lineSpacing() * 3 + 10);
        connect(memo, &QPlainTextEdit::textChanged, this,
                [this, key, memo] { Changed(key, FromQ(memo->toPlainText())); });
        editors_[key] = memo;
        return memo;
    }
    case SettingKind::FederalState: {
        // The list of states (filled at start-up) and the code it gives.
        auto* row = new QWidget;
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        stateList_ = new QComboBox;
        stateList_->setObjectName(Name("cb", key));
        stateList_->setMinimumContentsLength(12);
        stateList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        auto* code = new QLineEdit;
        code->setObjectName(Name("ed", key));
        code->setMaxLength(f.MaxLength);
        code->setFixedWidth(code->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
        h->addWidget(stateList_, 1);
        h->addWidget(code);
        connect(stateList_, &QComboBox::activated, this, [this, key](int index) {
            page_.Choose(key, index);
            ShowValues();
        });
        connect(code, &QLineEdit::textEdited, this, [this, key](const QString& text) { Changed(key, FromQ(text)); });
        editors_[key] = code;
        return row;
    }
    default: {
        auto* edit = new QLineEdit;
        edit->setObjectName(Name("ed", key));
        if (f.MaxLength > 0) edit->setMaxLength(f.MaxLength);
        if (f.Kind == SettingKind::Password) edit->setEchoMode(QLineEdit::Password);
        if (f.Kind == SettingKind::ReadOnly) edit->setReadOnly(true);
        if (f.Kind == SettingKind::Date) {
            edit->setPlaceholderText(QStringLiteral("TT.MM.JJJJ"));
            edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("00.00.00000")) + 12);
        }
        connect(edit, &QLineEdit::textEdited, this, [this, key](const QString& text) { Changed(key, FromQ(text)); });
        editors_[key] = edit;
        if (f.Kind == SettingKind::Directory || f.Kind == SettingKind::File) return WithChooser(f, edit);
        return edit;
    }
    }
}

QWidget* TfrmEinstellungen::WithChooser(const TSettingField& f, QLineEdit* edit) {
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(2);
    auto* button = new QToolButton;
    button->setObjectName(Name("btn", f.Key));
    button->setText(QStringLiteral("..."));
    button->setToolTip(f.Kind == SettingKind::Directory ? QStringLiteral("Verzeichnis wählen")
                                                        : QStringLiteral("Datei wählen"));
    h->addWidget(edit, 1);
    h->addWidget(button);
    const TSettingField* field = &f;   // the table lives as long as the program
    connect(button, &QToolButton::clicked, this, [this, field] { Choose(*field); });
    return row;
}

void TfrmEinstellungen::Choose(const TSettingField& f) {
    const std::string root = main_.Controller().Paths().Root;
    const std::string current = page_.Value(f.Key);
    const QString start = ToQ(current.empty() ? root : IsAbsolutePath(current) ? current : PathJoin(root, current));
    const QString title = ToQ(f.Caption);
    const QString chosen = f.Kind == SettingKind::Directory
                               ? QFileDialog::getExistingDirectory(this, title, start)
                               : QFileDialog::getOpenFileName(this, title, start, QStringLiteral("Alle Dateien (*)"));
    if (chosen.isEmpty()) return;
    page_.SetValue(f.Key, TSettingsPage::ChosenPath(FromQ(chosen), root));
    ShowValues();
}

void TfrmEinstellungen::Changed(const std::string& key, const std::string& value) {
    const bool others = page_.SetValue(key, value);
    if (others || key == "EINR_LAND") ShowValues();
}

void TfrmEinstellungen::Reload() {
    page_.Load(main_.Controller().SettingsForm());
    {
        const QSignalBlocker block(stateList_);
        stateList_->clear();
        for (const std::string& state : page_.Choices("EINR_LAND")) stateList_->addItem(ToQ(state));
    }
    ShowValues();
}

// Puts every entry of the page into its widget; a widget that shows it already is left alone (so the
// cursor of the field being typed in stays where it is).
void TfrmEinstellungen::ShowValues() {
    for (auto& [key, widget] : editors_) {
        const QSignalBlocker block(widget);
        const QString value = ToQ(page_.Value(key));
        if (auto* check = qobject_cast<QCheckBox*>(widget)) {
            check->setChecked(value == QLatin1String("T"));
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            combo->setCurrentIndex(page_.ChoiceIndex(key));
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
            if (memo->toPlainText() != value) memo->setPlainText(value);
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            if (edit->text() != value) {
                edit->setText(value);
                edit->setCursorPosition(0);   // a long text shows its beginning
            }
        }
    }
    const QSignalBlocker block(stateList_);
    stateList_->setCurrentIndex(page_.ChoiceIndex("EINR_LAND"));
    ShowGroups();
}

void TfrmEinstellungen::ShowGroups() {
    for (auto& [id, box] : groups_) {
        const bool visible = page_.GroupVisible(id);
        box->setVisible(visible);
        box->setEnabled(visible);
    }
}

} // namespace brenvo
