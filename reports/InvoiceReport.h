#pragma once

// The printed invoice ("Rechnung") that goes with the paper documents to the
// cost bearer's paper office: the pages of one invoice document, in the
// detailed form (every trip with its route and positions) or the short form
// (the cases with their subtotals).

#include <cstdint>
#include <string>
#include <vector>

#include "costbearer/U_SGBKTStore.h"
#include "lib/base/DateTime.h"
#include "lib/base/Settings.h"
#include "reports/ReportLayout.h"

namespace brenvo {

class InvoiceDocument;

enum class InvoicePrintForm {
    Short,      // "Drucken", "Drucken (Kurzform)"
    Detailed    // "Drucken (ausführliche Version)"
};

// What the facility's settings give the printed invoice.
struct TInvoicePrintSettings {
    std::string Briefkopf;       // BRIEFKOPF: the letterhead; "{ohne Absender}" leaves out the sender line
    std::string Brieffuss;       // BRIEFFUSS: the footer text; "{" and what follows sets the footer's height
    std::string Steuernr;        // STEUERNR
    std::string Bankverbindung;  // BANKVERBINDUNG

    static TInvoicePrintSettings From(const TEinrichtung& e) {
        return {e.BRIEFKOPF, e.BRIEFFUSS, e.STEUERNR, e.BANKVERBINDUNG};
    }
};

inline constexpr const char* kWithoutSender = "{ohne Absender}";

// The letterhead: BRIEFKOPF without its first "{ohne Absender}".
std::string InvoiceLetterhead(const std::string& briefkopf);

// The height of the page footer in millimetres. When BRIEFFUSS holds a "{",
// the height is given there in screen pixels (96 to the inch): with the
// first "}" removed, the ten characters that begin six after the "{" (so
// five characters of any kind may follow it), trimmed, read as a whole
// number; "{hoehe120}" gives 120 pixels. Otherwise 25.4 mm. A text that is
// no number there fails (Error) before anything is printed, and so does a
// height that leaves the page no room for the invoice.
double InvoiceFooterHeight(const std::string& brieffuss);

// The footer's lines: BRIEFFUSS up to its first "{" (its own line breaks
// kept), "Steuernr.: " and "Bankverbindung: " when set.
std::vector<std::string> InvoiceFooterLines(const TInvoicePrintSettings& settings);

// The VAT contained in the invoice, summed per rate. It starts with the
// entry (0 %, 0, 0); each trip adds the VAT contained in what is claimed for
// it (its gross amount less its co-payment) at the rate of its last
// position. A rate is the position's added VAT ("zzgl. MwSt. %") when it has
// one, else the VAT contained in its price ("USt").
class TVatTable {
public:
    struct Entry {
        double Rate = 0;          // percent
        double Vat = 0;           // euro, unrounded
        int64_t GrossCents = 0;
    };

    TVatTable() : entries_{Entry{}} {}
    void AddTrip(double rate, int64_t claimedCents);
    const std::vector<Entry>& Entries() const { return entries_; }
    // The summary's lines: of the first four entries each one whose gross
    // amount is not 0, "Brutto 100,00 € zu 7,00% USt. = USt.-Betrag: 6,54 €".
    std::vector<std::string> Lines() const;

private:
    std::vector<Entry> entries_;
};

// The running values of one case.
struct TCaseTotals {
    int Trips = 0;
    int64_t CoPaymentCents = 0;
    int64_t GrossCents = 0;
    TDateTime Earliest, Latest;   // of the trips with a date; null when none

    void AddTrip(TDateTime date, int64_t grossCents, int64_t coPaymentCents);
};

// "03.02.2014..05.02.2014, 2 Fahrten  (inkl. Zuzahlung: 10,00 €): 60,00 €",
// or without co-payments "06.10.2014, 1 Fahrten: 23,75 €".
std::string CaseSubtotalLine(const TCaseTotals& totals);

// The pages of the document's current invoice. addresses: the cost bearer's
// and its paper office's names and addresses (GetPrintAddresses); null when
// the cost-bearer directory is not at hand, which leaves those lines empty.
TReportDocument BuildInvoiceReport(const InvoiceDocument& doc, const TInvoicePrintSettings& settings,
                                   const TKTPrintAddresses* addresses, InvoicePrintForm form,
                                   const ITextMeasure& measure);

// The addresses the invoice is printed with: GetPrintAddresses of IKKT for
// the facility's state and district, today. A directory that cannot answer
// leaves them empty (the print goes on); null store: none.
TKTPrintAddresses InvoicePrintAddresses(TSGBKTStore* store, const std::string& ikkt, const std::string& land,
                                        const std::string& bezirk, TDateTime date);

} // namespace brenvo
