#pragma once

// What the order actions of the main window (outbox and "Archiv Aufträge")
// need besides the controller: the orders an action works on, the list
// filter of the slip printing, the system's mail client and the slip report.

#include <cstdint>
#include <string>
#include <vector>

#include "lib/dataset/Table.h"
#include "mail/U_Email.h"

namespace brenvo {

// The orders an order action works on. The outbox hands over the ids of its
// selected items in list order; the order-archive grid the A_ID of its current
// row and the A_IDs of its selected rows.
struct TOrderSelection {
    enum class Source { Outbox, Grid };
    Source From = Source::Outbox;
    std::vector<int64_t> Ids;   // outbox: the selected items; grid: the selected rows
    int64_t CurrentId = 0;      // grid: the current row (0: none)

    static TOrderSelection InOutbox(std::vector<int64_t> ids) {
        TOrderSelection s;
        s.Ids = std::move(ids);
        return s;
    }
    static TOrderSelection InGrid(int64_t currentId, std::vector<int64_t> selected = {}) {
        TOrderSelection s;
        s.From = Source::Grid;
        s.CurrentId = currentId;
        s.Ids = std::move(selected);
        return s;
    }
    // The grid's rows as a view with a selection model reports them: the row
    // a user clicks is current and selected at once. That row alone counts
    // as no selection; the actions mean by "the selected rows" rows marked
    // besides it (with Ctrl or Shift).
    static TOrderSelection InGridRows(int64_t currentId, std::vector<int64_t> selected) {
        if (selected.size() == 1 && selected.front() == currentId) selected.clear();
        return InGrid(currentId, std::move(selected));
    }
    bool FromOutbox() const { return From == Source::Outbox; }
    // The one order of the actions that work on a single one: the outbox's
    // (first) selected item, the grid's current row; 0 when there is none.
    int64_t Single() const {
        if (From == Source::Grid) return CurrentId;
        return Ids.empty() ? 0 : Ids.front();
    }
};

// A record filter over a list of values: a row passes when the value of the
// field, enclosed in single quotes, occurs in the list text ("'12','13'").
struct TListFilter {
    std::string Field;
    std::string List;

    bool operator()(const Table& table) const {
        return List.find("'" + table.AsString(Field) + "'") != std::string::npos;
    }
};

// The system's mail client (Simple MAPI on Windows): one mail to one address
// with a subject, a body and files attached by path, handed over with or
// without the client's own dialog. The answer says only whether the client
// took the mail, not whether it was sent; the caller asks the user.
class IMailClient {
public:
    virtual ~IMailClient() = default;
    // "" when the client took the mail, otherwise the client's error.
    virtual std::string SendMail(const std::string& recipient, const std::string& subject, const std::string& body,
                                 const std::vector<std::string>& attachments, bool showDialog) = 0;
};

// The accompanying-slip report over the order table: prints or previews one
// slip per visible row of the table (the controller has filtered it to the
// orders wanted and removes the filter afterwards).
class ISlipReport {
public:
    virtual ~ISlipReport() = default;
    virtual void Run(Table& orders, bool preview) = 0;
};

// What "Alle Emails versenden" did.
struct TMailBatchResult {
    int Orders = 0;   // outbox items at the start
    int Sent = 0;     // orders sent and marked sent
};

// How one order mail went.
enum class TMailSendResult {
    Sent,           // handed over: by SMTP accepted by the server, by MAPI taken by the mail client
    Failed,         // not sent (the reason is in the log or was shown)
    NoMailClient    // EMAIL_MAPI set, but this system has no mail client to hand it to
};

// The body of a mail handed to the mail client (MAPI), ended with CR LF.
inline constexpr const char* kMapiMailBody = "Datenübermittlung\r\n";

} // namespace brenvo
