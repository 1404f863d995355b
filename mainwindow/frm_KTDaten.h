#pragma once

// The page of the tab "Kostenträger-Daten": the table choice "Auswahl" with
// its two check boxes, the search field, the grid over the chosen table,
// the detail panel of the table below it and the group "IK-Daten" with the
// resolution report. Everything it decides is TKTMaintenance's (the
// controller's KTMaintenance()); the page maps its widgets onto it and wires
// the tab's actions of the main window.

#include <QWidget>

#include <functional>
#include <map>
#include <string>

#include "lib/Basics/GridColumns.h"

class QCheckBox;
class QHBoxLayout;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace brenvo {

class TKTMaintenance;
class TTableModel;
class TfrmMain;
enum class KTTable;

class TfrmKTDaten : public QWidget {
    Q_OBJECT
public:
    explicit TfrmKTDaten(TfrmMain& main, QWidget* parent = nullptr);
    ~TfrmKTDaten() override;

    QTableView* Grid() const { return grid_; }
    TTableModel* Model() const { return model_; }
    QLineEdit* SearchField() const { return search_; }
    QPlainTextEdit* Report() const { return report_; }
    // The detail field of a column of the shown table; null when it has none.
    QLineEdit* DetailField(const std::string& field) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TKTMaintenance& Logic() const { return logic_; }
    void BuildPanels(QWidget* parent, QHBoxLayout* layout);
    void WireActions();
    void OnLogicChange(int change);
    void ShowTable();
    TGridColumns ScaledColumns(TGridColumns columns) const;
    void FillDetails();
    // Takes what is typed in a detail field into the row; false when refused.
    bool CommitDetail(QLineEdit* edit);
    bool CommitDetails();
    void Run(const std::function<void()>& body);

    TfrmMain& main_;
    // The controller's; it lets the page go (Detach) before it goes itself.
    TKTMaintenance& logic_;
    TTableModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
    QLineEdit* search_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    QCheckBox* ohneVerweisungen_ = nullptr;
    QCheckBox* datenEmpfaenger_ = nullptr;
    std::map<KTTable, QRadioButton*> choice_;
    std::map<KTTable, QGroupBox*> panels_;
    std::map<std::string, QLineEdit*> details_;   // field -> edit, of all panels
    bool updating_ = false;                       // filling widgets from the logic
    bool gone_ = false;                           // the logic has ended
};

} // namespace brenvo
