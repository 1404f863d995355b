#pragma once

// The trip window "Leistung" in its first form: new trips for the dates of
// a prescription (with the return trips on "Hin-&& Zurück Speichern") or a
// change of one trip, with pickup and destination, times, vehicle, km, the
// tariff and its positions, the price and the co-payment. It edits a
// TTripEntry that the entry window prepared and writes nothing itself: the
// entry saves the trips when the window was left with "Speichern".

#include <QDialog>

#include "entry/InvoiceEntry.h"
#include "entry/TripEntry.h"
#include "entry/qt_EntryParts.h"

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* Line(const char* name, int maxLength, const QString& hint = {});
    void AddDate();
    void Collect();
    void ShowValues();
    void ShowPrice();
    void Save(bool withReturnTrips);

    TTripEntry& entry_;
    TWindowUI ui_;
    TripEntryResult result_ = TripEntryResult::Cancelled;
    TTableModel* rowsModel_ = nullptr;

    QWidget* datePanel_ = nullptr;
    QDateEdit* date_ = nullptr;
    QListWidget* dates_ = nullptr;
    QLabel* datesLabel_ = nullptr;
    QLineEdit* wagen_ = nullptr;
    QLineEdit* zeit1_ = nullptr;
    QLineEdit* zeit2_ = nullptr;
    QLineEdit* from_[4] = {};   // street, postcode, town, country
    QLineEdit* to_[4] = {};
    QLineEdit* km_ = nullptr;
    QComboBox* tariff_ = nullptr;
    QTableView* rows_ = nullptr;
    QLabel* sum_ = nullptr;
    QLabel* coPaymentCaption_ = nullptr;
    QLineEdit* coPayment_ = nullptr;
    QComboBox* coPaymentKind_ = nullptr;
    QLabel* amount_ = nullptr;
    QPushButton* saveReturn_ = nullptr;
};

} // namespace brenvo
