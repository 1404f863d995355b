#pragma once

// One use of the trip window, without the window: new trips for every
// appointment date of the current case (with their return trips when asked),
// or a change of the current trip. The entry window prepares it (reset, new-
// trip or change mode, and for the multi-person transport the dates,
// destination, times, km and tariff), the trip window edits its values and
// its scratch rows of tariff positions, and Save writes the trips with their
// positions into the open invoice.
//
// The trip's price is the sum of the rows' amounts as billing computes them,
// so that an entered trip always passes the billing sum check; a row with
// quantity 0 is not written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"

namespace brenvo {

class TInvoiceEntry;

// One end of a trip. The info line belongs to the address list (its remark)
// and is not written into the trip.
struct TTripAddress {
    std::string strasse, plz, ort, land, info;
    bool Complete() const { return !strasse.empty() && !plz.empty() && !ort.empty(); }
};

// How the entries of the two address lists are built from a row of the
// address table, after the setting "Auswahl_Adresse" of "brenvo.ini":
// "nach Info" puts the remark first ("Dialyse»Hauptstr. 1«12345 |Musterstadt"),
// every other value the street ("Hauptstr. 1»12345«Musterstadt |Dialyse").
enum class AddressLayout { ByInfo, ByStreet };

// A position taken over from another trip (multi-person transport).
struct TTripPositionRow {
    std::string tarif, posNum, text;
    double menge = 0, ePreis = 0, ust = 0;
};

class TTripEntry {
public:
    enum class Mode { NewTrips, Change };

    static constexpr const char* kNoDate = "Leistungsdatum bitte angeben!";
    static constexpr const char* kNoPlaces = "Abhol- und Zielort bitte angeben!";
    static constexpr const char* kNoPrice = "Preis oder Fahrstrecke bitte angeben!";
    static constexpr const char* kNoRows = "Leistungspositionen bitte angeben!";
    static constexpr const char* kLayoutSetting = "Auswahl_Adresse";
    static constexpr const char* kLayoutByInfo = "nach Info";
    static constexpr const char* kLayoutByStreet = "nach Strasse";

    enum class Side { Pickup, Destination };

    // Works on the current case (and, in change mode, the current trip) of the entry.
    explicit TTripEntry(TInvoiceEntry& entry);

    // Empties the addresses, the tariff choice, the dates and the rows;
    // km, co-payment and price 0.
    void Reset();
    // New trips for the current case: the pickup is the patient's home, the
    // destination the case's template destination; the tariff of the last
    // new-trip entry is chosen again.
    void BeginNewTrips();
    // The current trip: its values, addresses and positions.
    void BeginChange();
    Mode GetMode() const { return mode_; }
    // "Leistung(en) eingeben, Verordnung-Nr.: ..." / "Leistung v. ... ändern, Verordnung-Nr.: ...".
    std::string Title() const;
    // The insured person's info line (the entry window's remark hint).
    std::string InsuredInfo() const;

    // ---- values of the entry
    std::vector<TDateTime> dates;   // appointment dates, in order, each once
    TTripAddress pickup, destination;
    std::string zeit1, zeit2;       // HHMM
    double km = 0;
    int64_t wagenNr = 0;            // 0: none
    double coPayment = 0;
    bool coPaymentLimit = true;     // kind "02" Grenzbetrag, else "01" prozentual
    bool coPaymentTyped = false;    // the amount was typed in this entry: no proposal replaces it

    // Adds a date (ignored when listed); the list stays in date order.
    void AddDate(TDateTime date);
    // Every day of the month of `inMonth` that falls on the weekday
    // (Monday = 1 ... Sunday = 7), or on Monday to Friday.
    void AddWeekdays(TDateTime inMonth, int weekday);
    void AddWorkingDays(TDateTime inMonth);
    void RemoveDate(size_t index);
    // "DDD, DD.MM.YYYY" ("Mo, 05.10.2014").
    static std::string DateText(TDateTime date);
    std::string DatesLabel() const;   // "    Leistungsdatum: 3 Termine"

    // The co-payment fields are shown (the case pays co-payments / the trip has one).
    bool CoPaymentShown() const { return coPaymentShown_; }
    // The cursor enters the co-payment field: the proposal for the current
    // price replaces the amount, unless the amount was typed in this entry
    // or (changing a trip) the price is still the trip's own.
    void EnteringCoPayment();

    // ---- addresses
    TTripAddress& Place(Side side) { return side == Side::Pickup ? pickup : destination; }
    static AddressLayout LayoutOf(std::string_view setting);
    AddressLayout Layout();
    // The entry of an address row, and the row's street, postcode, town and
    // remark (in strasse, plz, ort, info) read back from an entry; nullopt
    // when the text is no entry (it lacks "»" or "«").
    static std::string AddressEntry(const TTripAddress& row, AddressLayout layout);
    static std::optional<TTripAddress> SplitAddressEntry(std::string_view text, AddressLayout layout);
    // The entries of both lists: every row of the address table, in the
    // layout's order (remark, street, postcode, town / street, postcode, town).
    std::vector<std::string> AddressEntries();
    // The cursor leaves a street field holding `text`: an entry of the lists
    // fills street, postcode, town and info of that side (true); any other
    // text is the street.
    bool TakeStreet(Side side, std::string_view text);
    // Switches the layout between "nach Info" and "nach Strasse", writes the
    // setting and tells the user; the lists must be built again.
    void SwitchAddressLayout();
    // "Abholort speichern" / "Zielort speichern": a complete address the
    // table does not hold (ignoring letter case) is added with the remark the
    // user enters. True when a row was added.
    bool SaveAddress(Side side);

    // ---- tariff and scratch rows (Tarif, PosNum, Menge, EPreis, KM, Text,
    // USt, PCT_Abschlag, ab_km, BPosNum, MwStSatz)
    Table& Rows() { return rows_; }
    std::vector<std::string> TariffNames();
    // Loads the tariff's positions as rows with their quantities by kind.
    void ChooseTariff(const std::string& tarifbez);
    const std::string& Tariff() const { return tariff_; }
    // Overwrites the row loaded last with a position of another trip.
    void OverwriteLastRow(const TTripPositionRow& row);
    // The km field was changed: the kilometre rows follow it.
    void SetKm(double newKm);
    // A cell of the current row was typed: a unit price is taken in whole
    // cents, as billing takes it, and the price is computed again.
    void RowEdited();
    // The column the cursor goes to when it enters the grid: the unit price
    // of a meter-price row (kind T), otherwise the quantity.
    std::string EntryColumn();
    // Swaps pickup and destination ("Rückfahrt").
    void SwapPlaces();

    // The position sum (the discount row brought into line) and what it
    // sets: the km from the kilometre rows and, for new trips, the
    // co-payment proposal unless an amount was typed. Returns the price in
    // euros as it will be written.
    double ComputePrice();
    double Price() const { return price_; }
    // The price less the co-payment.
    double InvoiceAmount() const;

    // "Speichern" / "Hin-&& Zurück Speichern": the checks (each failure shows
    // its warning; false when one failed), then the trips are written. The
    // address table is written when it changed, whatever the outcome.
    bool Save(bool withReturnTrips);
    // "Abbrechen": nothing is written (the address table as above).
    void Cancel();

private:
    void AddRowsOfTariff(const std::string& tarifbez);
    void KmFromRows();
    void WriteTrip(Table& trips, const TTripAddress& from, const TTripAddress& to);
    void WritePositions(Table& trips);
    void FlushAddresses();

    TInvoiceEntry& entry_;
    Mode mode_ = Mode::NewTrips;
    Table rows_;
    std::string tariff_;
    double price_ = 0;
    double loadedPrice_ = 0;   // the changed trip's own price
    bool coPaymentShown_ = false;
    std::string vonum_;
    std::string changedDate_;
};

} // namespace brenvo
