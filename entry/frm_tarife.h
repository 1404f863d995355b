#pragma once

// "Verwaltung: Tarife": the tariffs above, the current tariff's positions
// below ("Leistungspositionen für Tarif ..."), each with its navigator, and
// the legend of the kinds. Closing writes the stored changes; when that
// fails the window stays open.

#include <QDialog>

#include <memory>

#include "entry/MasterDataEditors.h"
#include "entry/qt_EntryParts.h"

class QLabel;
class QTableView;

namespace brenvo {

class TTableModel;

class TfrmTarife : public QDialog {
    Q_OBJECT
public:
    TfrmTarife(TdmVerwaltung& dm, QWidget* parent = nullptr);
    ~TfrmTarife() override;

    TTarifeEditor& Editor() { return editor_; }
    QTableView* TarifGrid() const { return tarifGrid_; }
    QTableView* PositionGrid() const { return positionGrid_; }

    void done(int result) override;

private:
    void FollowTarif();

    TTarifeEditor editor_;
    TWindowUI ui_;
    TTableModel* tarifModel_ = nullptr;
    TTableModel* positionModel_ = nullptr;
    QTableView* tarifGrid_ = nullptr;
    QTableView* positionGrid_ = nullptr;
    QLabel* heading_ = nullptr;
};

} // namespace brenvo
