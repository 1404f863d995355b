#pragma once

// The trip window "Leistung": new trips for the appointment dates of a
// prescription (with the return trips on "Hin-&& Zurück Speichern") or a
// change of one trip, with pickup and destination picked from or saved into
// the address table, times, vehicle, km, the tariff and its positions, the
// price and the co-payment. It edits a TTripEntry that the entry window
// prepared; the entry saves the trips when the window was left with one of
// the two save buttons. Invalid input keeps the window open.

#include <QDialog>

#include "entry/InvoiceEntry.h"
#include "entry/TripEntry.h"
#include "entry/qt_EntryParts.h"

class QAction;
class QCalendarWidget;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace brenvo {

class TTableModel;

class TfrmLeistung : public QDialog {
    Q_OBJECT
public:
    TfrmLeistung(TTripEntry& entry, QWidget* parent = nullptr);
    ~TfrmLeistung() override;

    // Shows the window modally on the entry; how it was left.
    static TripEntryResult Execute(TTripEntry& entry, QWidget* parent);
    TripEntryResult Result() const { return result_; }

    QCalendarWidget* MonthCalendar() const { return calendar_; }
    QTableView* PositionGrid() const { return rows_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One end of the trip: the street with the address list, postcode,
    // town, country, info.
    struct PlaceEdits {
        QComboBox* street = nullptr;
        QLineEdit* plz = nullptr;
        QLineEdit* ort = nullptr;
        QLineEdit* land = nullptr;
        QLineEdit* info = nullptr;
    };

    QLineEdit* Line(const char* name, int maxLength, const QString& hint = {});
    QWidget* NewPlace(const QString& title, const char* prefix, TTripEntry::Side side, PlaceEdits& edits);
    QWidget* NewDatePanel();
    QPushButton* Button(const char* name, const QString& caption);
    void AddDate(const QDate& date);
    void FillAddressLists();
    static QString StreetText(PlaceEdits& e);
    void LeaveStreet(TTripEntry::Side side);
    bool EnterPressed(QObject* watched);
    void Collect();
    void ShowValues();
    void ShowPlace(const TTripAddress& a, PlaceEdits& e);
    void ShowDates();
    void ShowPrice();
    void Save(bool withReturnTrips);
    PlaceEdits& Edits(TTripEntry::Side side) { return side == TTripEntry::Side::Pickup ? from_ : to_; }

    TTripEntry& entry_;
    TWindowUI ui_;
    TripEntryResult result_ = TripEntryResult::Cancelled;
    TTableModel* rowsModel_ = nullptr;

    QWidget* datePanel_ = nullptr;
    QDateEdit* date_ = nullptr;
    QCalendarWidget* calendar_ = nullptr;
    QListWidget* dates_ = nullptr;
    QLabel* datesLabel_ = nullptr;
    QLineEdit* wagen_ = nullptr;
    QLineEdit* zeit1_ = nullptr;
    QLineEdit* zeit2_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    PlaceEdits from_, to_;
    QLineEdit* km_ = nullptr;
    QComboBox* tariff_ = nullptr;
    QTableView* rows_ = nullptr;
    QLabel* sum_ = nullptr;
    QLabel* coPaymentCaption_ = nullptr;
    QLineEdit* coPayment_ = nullptr;
    QComboBox* coPaymentKind_ = nullptr;
    QLabel* amount_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* saveReturn_ = nullptr;
};

} // namespace brenvo
