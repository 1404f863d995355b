#pragma once

// The invoice entry window "Rechnung: ...": one invoice of the input basket
// with its header, its cases (one at a time, with the navigator), the
// current case's trips and the current trip's positions, on the page
// "Daten"; in view mode also the page "Bild", the prescription form with
// the case's values. Everything the window decides is TInvoiceEntry's; the
// window shows it, hands over what was typed and opens the trip window and
// the template window when asked.
//
// The main window uses it through Open, SetMode, PrepareNewInvoice,
// ShowModal and DeleteRequested.

#include <QDialog>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "entry/InvoiceEntry.h"
#include "entry/qt_EntryParts.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTabWidget;
class QTableView;

namespace brenvo {

class TMuster4View;
class TTableModel;

class TformXMLRechnung6 : public QDialog {
    Q_OBJECT
public:
    TformXMLRechnung6(TdmVerwaltung& dm, IInvoiceEntryHost& host, QWidget* parent = nullptr);
    ~TformXMLRechnung6() override;

    TInvoiceEntry& Logic() { return logic_; }

    // ---- what the main window uses
    // Loads the invoice file (an empty path closes the document); view mode.
    void Open(const std::string& path);
    void SetMode(EntryMode mode);
    void PrepareNewInvoice(const TNewInvoiceHeader& header);
    // Shows the window modally, centred on its parent, until it is closed.
    void ShowModal();
    bool DeleteRequested() const { return logic_.DeleteRequested(); }

    // "Drucken", "Drucken (Kurzform)" (detailed false) and "Drucken
    // (ausführliche Version)" (detailed true) run the handler once the
    // invoice was saved; without one they stay disabled.
    using PrintHandler = std::function<void(TInvoiceEntry& entry, bool detailed)>;
    void SetPrintHandler(PrintHandler handler);
    // The trip window the entry opens (by default TfrmLeistung).
    void SetTripWindow(std::function<TripEntryResult(TTripEntry& entry)> window);

    // ---- for tests and pictures
    QAction* Action(const QString& objectName) const;
    // The widget of a field of the header or the case ("RechDatum", "IKKT", "VONum", ...).
    QWidget* FieldWidget(const std::string& field) const;
    QTableView* TripGrid() const { return tripGrid_; }
    QTableView* PositionGrid() const { return positionGrid_; }
    QTabWidget* Pages() const { return pages_; }
    TMuster4View* Picture() const { return picture_; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Binding {
        InvoiceLevel level;
        std::string field;
        QWidget* widget;
    };

    // ---- building
    void BuildActions();
    QWidget* BuildHeader();
    QWidget* BuildCase();
    QWidget* BuildTrips();
    QLineEdit* Line(InvoiceLevel level, const char* field, int maxLength);
    QComboBox* Choice(InvoiceLevel level, const char* field);
    QAction* NewAction(const char* name, const QString& caption, const QString& key, std::function<void()> run);
    QPushButton* Button(const char* name, const QString& caption, QAction* action);

    // ---- running the logic
    // Stores what the focused field holds, detaches the grids, runs f, shows
    // a failure, refreshes. False when the focused field refused its text.
    bool Run(const std::function<void()>& f);
    bool CommitFocused();
    bool WriteField(const Binding& b);
    void CommitCostBearerName();
    const Binding* BindingOf(const QWidget* w) const;
    void DetachGrids();
    void Refresh();
    void RefreshFields();
    void RefreshGrids();
    void ApplyMode();
    void FocusField(InvoiceLevel level, const std::string& field);
    void FocusNext(QWidget* from);
    void ChooseTemplate();
    void EditTripCell(const std::string& field, const std::string& text);

    TWindowUI ui_;
    TInvoiceEntry logic_;
    std::function<TripEntryResult(TTripEntry&)> tripWindow_;
    PrintHandler print_;
    bool activated_ = false;
    bool nameListChanged_ = false;
    QPointer<QWidget> keepText_;   // a field whose typed text was refused: refresh leaves it

    std::vector<Binding> bindings_;
    std::vector<QAction*> actions_;
    QMenuBar* menu_ = nullptr;
    QTabWidget* pages_ = nullptr;
    TMuster4View* picture_ = nullptr;
    QLabel* status_ = nullptr;

    QComboBox* ikList_ = nullptr;
    QLineEdit* ikText_ = nullptr;       // the IK as plain text (view mode)
    QComboBox* nameList_ = nullptr;
    QLabel* ktName_ = nullptr;
    QLabel* sums_[3] = {};               // RBetragBrutto, RBetragZuZa, RBetragNetto
    QLabel* caseSums_[2] = {};           // BetragBrutto, BetragZuZaSum
    QLabel* counts_ = nullptr;
    QLineEdit* surname_ = nullptr;
    QLineEdit* remark_ = nullptr;
    std::vector<QWidget*> editOnly_;     // shown in edit mode only
    QPushButton* recompute_ = nullptr;

    TTableModel* tripModel_ = nullptr;
    TTableModel* positionModel_ = nullptr;
    QTableView* tripGrid_ = nullptr;
    QTableView* positionGrid_ = nullptr;
};

} // namespace brenvo
