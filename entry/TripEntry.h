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
#include <string>
#include <vector>

#include "lib/base/DateTime.h"
#include "lib/dataset/Table.h"

namespace brenvo {

class TInvoiceEntry;

struct TTripAddress {
    std::string strasse, plz, ort, land;
    bool Complete() const { return !strasse.empty() && !plz.empty() && !ort.empty(); }
};

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
    bool coPaymentTyped = false;    // the amount was typed: no proposal replaces it

    // Adds a date (ignored when listed); the list stays in date order.
    void AddDate(TDateTime date);
    // "DDD, DD.MM.YYYY" ("Mo, 05.10.2014").
    static std::string DateText(TDateTime date);
    std::string DatesLabel() const;   // "    Leistungsdatum: 3 Termine"

    // The co-payment fields are shown (the case pays co-payments / the trip has one).
    bool CoPaymentShown() const { return coPaymentShown_; }

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
    // Swaps pickup and destination ("Rückfahrt").
    void SwapPlaces();

    // The position sum (the discount row brought into line) and what it
    // sets: the km from the kilometre rows, the co-payment proposal unless
    // one was typed. Returns the price in euros as it will be written.
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
    bool coPaymentShown_ = false;
    std::string vonum_;
    std::string changedDate_;
};

} // namespace brenvo
