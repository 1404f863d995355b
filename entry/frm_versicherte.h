#pragma once

// "Vorlagen: Versicherte": the templates of insured persons with the filter
// on the surname. From the main window the list is maintained (navigator,
// cells edited); from the entry window it offers a template for the case
// ("Auswahl in Verordnung übernehmen", Enter, double click, F10; "Abbruch").

#include <QDialog>

#include <string>

#include "entry/MasterDataEditors.h"
#include "entry/qt_EntryParts.h"

class QLabel;
class QLineEdit;
class QTableView;

namespace brenvo {

class TTableModel;

class TfrmVersicherte : public QDialog {
    Q_OBJECT
public:
    TfrmVersicherte(TdmVerwaltung& dm, TVersicherteEditor::Mode mode, QWidget* parent = nullptr);
    ~TfrmVersicherte() override;

    // The selection from the entry window: the list filtered by the surname;
    // true when a template was chosen (it is then the current one of the
    // template table).
    static bool Choose(TdmVerwaltung& dm, const std::string& surname, QWidget* parent);

    TVersicherteEditor& Editor() { return editor_; }
    QTableView* Grid() const { return grid_; }
    QLineEdit* FilterEdit() const { return filter_; }
    void SetFilterText(const std::string& text);

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TVersicherteEditor editor_;
    TWindowUI ui_;
    TTableModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLabel* count_ = nullptr;
};

} // namespace brenvo
