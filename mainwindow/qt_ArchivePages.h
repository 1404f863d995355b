#pragma once

// The pages of "Archiv Rechnung" and "Archiv Aufträge": a grid over the
// archive's table (the one table model, no copy of the table), and on the
// invoice page the bar with "Suchen", "Filtern", the date range
// "Rechnungsdatum:" ... "bis" ... and "Drucken". What the bar means (the
// filter, the search, the print title) is the controller's; the page only
// maps its fields.

#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "lib/Basics/GridColumns.h"
#include "lib/dataset/Table.h"

class QAction;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableView;

namespace brenvo {

class TMainController;
class TTableModel;

// A grid over one archive table.
class TArchivePage : public QWidget {
    Q_OBJECT
public:
    // The grid's columns come from the table's fields when it is attached.
    QTableView* Grid() const { return grid_; }
    TTableModel* Model() const { return model_; }
    Table* GetTable() const;
    // Shows the table (null: lets go of it, before it goes away).
    virtual void SetTable(Table* table) = 0;

protected:
    TArchivePage(const QString& gridName, QWidget* parent);
    // Attaches the table with the columns: each as wide as it is set up, and
    // wide enough for its title and for dates, numbers and codes uncut.
    void Attach(Table* table, TGridColumns columns);
    QTableView* grid_;
    TTableModel* model_;
};

class TInvoiceArchivePage : public TArchivePage {
    Q_OBJECT
public:
    // print: the action "Drucken".
    TInvoiceArchivePage(TMainController& controller, QAction* print, QWidget* parent = nullptr);

    void SetTable(Table* table) override;
    // Shows the controller's filter and search in the bar.
    void ShowFilter();
    // R_NUMMER of the grid's current row; "" when there is none.
    std::string CurrentNumber() const;

    QLineEdit* SearchField() const { return search_; }
    QCheckBox* FilterBox() const { return filter_; }
    QDateEdit* FromDate() const { return from_; }
    QDateEdit* ToDate() const { return to_; }

private:
    // A field of the bar changed: the controller filters and searches.
    void Changed();

    TMainController& controller_;
    QLineEdit* search_;
    QCheckBox* filter_;
    QLabel* range_;
    QDateEdit* from_;
    QLabel* bis_;
    QDateEdit* to_;
    bool showing_ = false;
};

class TOrderArchivePage : public TArchivePage {
    Q_OBJECT
public:
    explicit TOrderArchivePage(QWidget* parent = nullptr);

    void SetTable(Table* table) override;
    // A_ID of the grid's current row (0 when none) and of its selected rows, in grid order.
    int64_t CurrentId() const;
    std::vector<int64_t> SelectedIds() const;
};

} // namespace brenvo
