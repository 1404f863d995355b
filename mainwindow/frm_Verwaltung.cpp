#include "mainwindow/frm_Verwaltung.h"

#include <QAction>
#include <QBoxLayout>
#include <QGroupBox>
#include <QPushButton>

#include "lib/Basics/qt_Widgets.h"
#include "mainwindow/frm_main.h"

namespace brenvo {

namespace {

struct Editor {
    MainAction action;
    const char* hint;
};

constexpr Editor kEditors[] = {
    {MainAction::VerwaltungTarife, "Tarife mit ihren Positionen (Verwaltung: Tarife)"},
    {MainAction::VerwaltungAdressen, "Adressen der Fahrten (Adressen)"},
    {MainAction::VerwaltungVersicherte, "Vorlagen der Versicherten (Vorlagen: Versicherte)"},
};

} // namespace

TfrmVerwaltung::TfrmVerwaltung(TfrmMain& main, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tsVerwaltung"));
    auto* box = new QGroupBox(QStringLiteral("Stammdaten"));
    box->setObjectName(QStringLiteral("gbStammdaten"));
    auto* v = new QVBoxLayout(box);
    for (const Editor& e : kEditors) {
        QAction* action = main.Action(e.action);
        action->setToolTip(QString::fromUtf8(e.hint));
        QPushButton* button = ActionButton(action);
        button->setMinimumWidth(160);
        v->addWidget(button);
    }
    auto* page = new QHBoxLayout(this);
    page->addWidget(box, 0, Qt::AlignTop);
    page->addStretch(1);
}

} // namespace brenvo
