#include "entry/qt_EntryParts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableView>

#include "entry/frm_input.h"
#include "entry/frm_modal.h"
#include "lib/Basics/qt_Dialogs.h"

namespace brenvo {

void TWindowUI::ShowMessage(MessageKind kind, const std::string& text, const std::string& title) {
    ShowMessageDialog(parent_, kind, text, title);
}

Answer TWindowUI::Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                      const std::string& title) {
    return MessageDialog(parent_, kind, text, buttons, title);
}

bool TWindowUI::InputQuery(const std::string& title, const std::vector<std::string>& explanation,
                           const std::string& caption, std::string& value) {
    return TfrmInput::Execute(parent_, title, explanation, caption, value);
}

void TWindowUI::ShowText(const std::string& title, const std::string& text) {
    TformModal dialog(parent_);
    dialog.ShowText(title, text);
}

QTableView* NewGrid(const char* objectName) {
    auto* grid = new QTableView;
    grid->setObjectName(QString::fromUtf8(objectName));
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setAlternatingRowColors(true);
    grid->horizontalHeader()->setStretchLastSection(true);
    // Typing starts an edit; F2 stays free for the windows' own commands.
    grid->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked);
    return grid;
}

TNavigatorButtons NewNavigator(QTableView* grid, const QString& namePrefix, std::function<void()> insert,
                               std::function<void()> remove) {
    TNavigatorButtons n;
    n.bar = new QWidget;
    auto* row = new QHBoxLayout(n.bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto button = [&](const QString& caption, const QString& name, const QString& tip) {
        auto* b = new QPushButton(caption);
        b->setObjectName(QStringLiteral("btn") + namePrefix + name);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    n.insert = button(QStringLiteral("Einfügen"), QStringLiteral("Einfuegen"), QStringLiteral("Datensatz einfügen"));
    n.remove = button(QStringLiteral("Löschen"), QStringLiteral("Loeschen"), QStringLiteral("Datensatz löschen"));
    n.post = button(QStringLiteral("Übernehmen"), QStringLiteral("Uebernehmen"), QStringLiteral("Änderungen übernehmen"));
    n.cancel = button(QStringLiteral("Verwerfen"), QStringLiteral("Verwerfen"), QStringLiteral("Änderungen verwerfen"));
    row->addStretch();
    // "Verwerfen" leaves the focus in the cell being edited and drops it as Escape does.
    n.cancel->setFocusPolicy(Qt::NoFocus);
    QObject::connect(n.insert, &QPushButton::clicked, grid, [grid, insert] {
        insert();
        grid->setFocus();
    });
    QObject::connect(n.remove, &QPushButton::clicked, grid, [grid, remove] {
        remove();
        grid->setFocus();
    });
    // Pressing "Übernehmen" took the focus from the cell: it is stored already.
    QObject::connect(n.post, &QPushButton::clicked, grid, [grid] { grid->setFocus(); });
    QObject::connect(n.cancel, &QPushButton::clicked, grid, [grid] {
        QWidget* editor = QApplication::focusWidget();
        if (!editor || !grid->isAncestorOf(editor) || editor == grid->viewport()) return;
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(editor, &escape);
    });
    return n;
}

} // namespace brenvo
