#pragma once

// The "Verwaltung" tab: the buttons that open the master-data editors
// ("Tarife", "Adressen", "Versicherte"). Until an editor's window is wired to
// its action (TfrmMain::SetActionHandler), its button says that it follows.

#include <QWidget>

namespace brenvo {

class TfrmMain;

class TfrmVerwaltung : public QWidget {
    Q_OBJECT
public:
    explicit TfrmVerwaltung(TfrmMain& main, QWidget* parent = nullptr);
};

} // namespace brenvo
