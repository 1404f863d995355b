#pragma once

// "Adressen": the saved addresses ("gespeicherte Adressen") with their
// navigator. Closing stores a pending edit and writes the table when it
// changed; when that fails the window stays open.

#include <QDialog>

#include "entry/MasterDataEditors.h"
#include "entry/qt_EntryParts.h"

class QTableView;

namespace brenvo {

class TTableModel;

class TfrmAdressen : public QDialog {
    Q_OBJECT
public:
    TfrmAdressen(TdmVerwaltung& dm, QWidget* parent = nullptr);
    ~TfrmAdressen() override;

    TAdressenEditor& Editor() { return editor_; }
    QTableView* Grid() const { return grid_; }

    void done(int result) override;

private:
    TAdressenEditor editor_;
    TWindowUI ui_;
    TTableModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
};

} // namespace brenvo
