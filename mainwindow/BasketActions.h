#pragma once

// What the invoice actions of the main window (input basket, inbox and the
// grid of "Archiv Rechnung") need besides the controller: the invoices an
// action works on and the invoice entry window.

#include <string>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

// The invoices an invoice action works on: the captions of the selected
// items of the input basket or the inbox, in list order, or the current row
// of the invoice-archive grid (by its invoice number).
struct TInvoiceSelection {
    enum class Source { Inbox, Grid };
    Source From = Source::Inbox;
    std::vector<std::string> Names;   // inbox: the selected file names
    std::string Number;               // grid: R_NUMMER of the current row ("" none)

    static TInvoiceSelection InInbox(std::vector<std::string> names) {
        TInvoiceSelection s;
        s.Names = std::move(names);
        return s;
    }
    static TInvoiceSelection InGrid(std::string number) {
        TInvoiceSelection s;
        s.From = Source::Grid;
        s.Number = std::move(number);
        return s;
    }
    bool FromInbox() const { return From == Source::Inbox; }
};

enum class TInvoiceEditMode { Edit, View };

// The header fields a new invoice starts with.
struct TNewInvoiceFields {
    std::string SaRechNr;            // the number the user typed
    std::string EinzelRechNr = "1";
    TDateTime RechDatum;             // today
    std::string IKLE, Name1, Name2, Name3;   // the provider's IK, name, street, postcode and town
    std::string IKKT;                // "Letzte_KT_IK" of brenvo.ini
};

// The invoice entry window (TformXMLRechnung6) as the main window uses it.
class IInvoiceEditor {
public:
    virtual ~IInvoiceEditor() = default;
    // Opens the invoice file in the mode, centred; for a new invoice puts
    // `header` into the invoice header in edit state, titles the window
    // "Rechnung: " + number and puts the cursor on the invoice date. Shows
    // the window modally, closes the document when the window closes and
    // returns the delete request: true when the user deleted the invoice in
    // the window (or closed one that still carries the template's number
    // "99999" and no invoice date). Fails with the window's message when the
    // file cannot be opened; nothing is shown then.
    virtual bool ShowInvoice(const std::string& path, TInvoiceEditMode mode, const TNewInvoiceFields* header) = 0;
};

} // namespace brenvo
