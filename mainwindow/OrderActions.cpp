// The order actions of the main window: marking orders sent and not sent,
// deleting them, e-mailing them (one, or the whole outbox), showing their
// files, printing their slips and going to their invoice.

#include "mainwindow/OrderActions.h"

#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

const char* const kOnlyInOutbox = "Diese Funktion ist nur im Ausgangskorb verfügbar.";

// The order actions that write into the order archive, as their refusals name them.
const char* const kChangeSentState = "Versandstatus ändern";
const char* const kSending = "Email-Versand";

const char* const kDakotaSendsMails =
    "Hinweis!\n\r"
    "Brenvo ist für den Versand von Emails durch Dakota konfiguriert.\n\r"
    "Das direkte Vesenden von Emails sollte daher nicht durchgeführt werden!\n\r\n\r"
    "Wollen Sie dennoch ausnahmsweise einen direkten Email-Versand durchführen?";

// EMAIL_MAPI on a system without a mail client that takes mails from programs.
const char* const kNoMailClient =
    "Email (Mapi) ist auf diesem System nicht verfügbar: Es gibt kein Email-Programm, dem Brenvo "
    "die Email übergeben kann.\r"
    "Bitte in den Einstellungen unter \"Versand-Einstellungen\" \"Email (Smtp)\" wählen und den "
    "Mailserver eintragen.\r"
    "Nicht versandte Aufträge bleiben im Ausgangskorb.";

const char* const kNoSlipReport =
    "Begleitzettel können mit dieser Programmversion noch nicht gedruckt werden. "
    "\"Begleitzettel ansehen\" zeigt den Text eines Begleitzettels.";

} // namespace

// ============================================================ helpers

// While mails go out the window is busy and counts as running: the mailer's
// progress pumps window messages, and neither another action nor the
// shut-down may run in between. A close request that came meanwhile is
// handled afterwards.
struct TMainController::SendingScope {
    explicit SendingScope(TMainController& c) : c_(c), guard_(c), own_(!c.running_) {
        if (!own_) return;
        c_.running_ = true;
        c_.SetBusy(true);
    }
    ~SendingScope() {
        if (!own_) return;
        c_.running_ = false;
        c_.SetBusy(false);
    }
    SendingScope(const SendingScope&) = delete;
    SendingScope& operator=(const SendingScope&) = delete;

private:
    TMainController& c_;
    TLongActionGuard guard_;
    bool own_;
};

std::vector<int64_t> TMainController::OutboxIds() const {
    std::vector<int64_t> ids;
    ids.reserve(outbox_.Count());
    for (const TBasketItem& item : outbox_.Items()) ids.push_back(item.Id);
    return ids;
}

std::string TMainController::OutboxIdList() const {
    std::string list;
    for (const TBasketItem& item : outbox_.Items()) {
        if (!list.empty()) list += ",";
        list += "'" + IntToStr(item.Id) + "'";
    }
    return list;
}

void TMainController::MarkOrdersSent(const std::vector<int64_t>& ids) {
    if (!auf_ || !aufLoaded_) return;
    for (int64_t id : ids)
        if (auf_->LocateById(id)) auf_->MarkSent(Now());
}

void TMainController::MarkOrdersNotSent(const std::vector<int64_t>& ids) {
    if (!auf_ || !aufLoaded_) return;
    for (int64_t id : ids)
        if (auf_->LocateById(id)) auf_->MarkNotSent();
}

// A mail that went out cannot be called back: its "sent" mark is put on disk
// at once, so that a crash before the next save never lets the order be
// sent a second time.
void TMainController::SaveOrdersAfterSending() {
    if (auf_ && aufLoaded_) auf_->Save();
}

void TMainController::ReleaseMailer() { mailers_->ReleaseMailer(); }

void TMainController::SetMailStepTimeout(int milliseconds) {
    mailers_->ReleaseMailer();
    mailers_ = std::make_unique<TMailerHolder>(milliseconds);
}

// ============================================================ mark and delete

void TMainController::actAuftragLoeschenExecute(const TOrderSelection& sel) {
    if (RefusedWithoutArchives("Auftrag löschen")) return;
    // The removal rule announces "delete", which takes the item out of the
    // outbox; the order's files stay in "ArchivA".
    if (auf_->LocateById(sel.Single())) auf_->DeleteCurrent();
}

void TMainController::actEmailVersandtExecute(const TOrderSelection& sel) {
    if (RefusedWithoutArchives(kChangeSentState)) return;
    MarkOrdersSent(sel.FromOutbox() ? sel.Ids : std::vector<int64_t>{sel.CurrentId});
}

void TMainController::actEmailNichtVersandtExecute(const TOrderSelection& sel) {
    if (RefusedWithoutArchives(kChangeSentState)) return;
    if (sel.FromOutbox()) {
        MarkOrdersNotSent(sel.Ids);
    } else if (sel.Ids.size() >= 2) {
        if (view_.Ask(MessageKind::Confirmation, Format("Liste mit %d Einträgen bearbeiten?", {sel.Ids.size()}),
                      {Answer::Yes, Answer::No}) == Answer::Yes)
            MarkOrdersNotSent(sel.Ids);
    } else {
        MarkOrdersNotSent({sel.CurrentId});
    }
}

void TMainController::actAlleEmailsVersandtExecute(const TOrderSelection& sel) {
    if (!sel.FromOutbox() || RefusedWithoutArchives(kChangeSentState)) return;
    if (view_.Ask(MessageKind::Confirmation, "Alle Emails auf versandt setzen?", {Answer::Yes, Answer::No},
                  "Sicherheitsabfrage") == Answer::Yes)
        MarkOrdersSent(OutboxIds());
}

// ============================================================ e-mail

bool TMainController::PrepareOrderEmail(int64_t id, TEmailData& data) {
    if (!auf_ || !aufLoaded_ || !auf_->LocateById(id)) return false;
    return auf_->PrepareEmail(data);
}

TMailSendResult TMainController::SendOrderMail(const TEmailData& data, int count) {
    if (system_.EMAIL_MAPI) {
        if (!mailClient_) {
            view_.ShowMessage(MessageKind::Error, kNoMailClient, "Email");
            return TMailSendResult::NoMailClient;
        }
        // The client's own dialog unless "keinen Email Dialog anzeigen" is
        // checked, as the settings field stands now.
        const std::string err = mailClient_->SendMail(data.Recipient, data.Subject, kMapiMailBody,
                                                      {data.AufFile, data.DataFile}, !form_.OPT_NOEMAILDIALOG);
        if (err.empty()) return TMailSendResult::Sent;
        ShowProgress(1, 1, true, "Email: " + err);
        return TMailSendResult::Failed;
    }
    const MailContent content =
        OrderMailContent(system_, data.Recipient, data.Subject, data.AufFile, data.DataFile, Now());
    auto status = [this](int sent, int total, bool, const std::string& text) {
        ShowProgress(sent, total, true, Format("%d/%d %s", {sent, total, text}));
    };
    const std::string err = SendOrderMailSmtp(*mailers_, system_, status, content, count);
    return err.empty() ? TMailSendResult::Sent : TMailSendResult::Failed;
}

bool TMainController::actEmailErzeugenExecute(const TOrderSelection& sel) {
    if (RefusedWithoutArchives(kSending)) return false;
    if (system_.DAKOTA_EMAIL &&
        view_.Ask(MessageKind::Warning, kDakotaSendsMails, {Answer::Yes, Answer::No}) != Answer::Yes)
        return false;
    const int64_t id = sel.Single();
    TEmailData data;
    if (!PrepareOrderEmail(id, data)) return false;

    TMailSendResult result;
    {
        SendingScope sending(*this);
        result = SendOrderMail(data, 1);
    }
    bool marked = false;
    if (result == TMailSendResult::Sent) {
        // The mail client only says it took the mail: the user knows whether
        // it went out.
        const bool sent = !system_.EMAIL_MAPI || view_.Ask(MessageKind::Confirmation, "Wurde die Email versandt?",
                                                           {Answer::Yes, Answer::No}, "Email") == Answer::Yes;
        if (sent && auf_->LocateById(id)) {
            auf_->MarkSent(Now());
            marked = true;
        }
    } else if (result == TMailSendResult::Failed && !sel.FromOutbox()) {
        view_.Ask(MessageKind::Information, "Email nicht versandt.", {Answer::Yes, Answer::No}, "Email");
    }
    // From the outbox the connection is closed after the mail; from the grid
    // it stays open for the next one.
    if (sel.FromOutbox()) ReleaseMailer();
    if (marked) SaveOrdersAfterSending();
    return marked;
}

TMailBatchResult TMainController::actAlleEmailsVersendenExecute(const TOrderSelection& sel) {
    TMailBatchResult result;
    if (!sel.FromOutbox()) {
        view_.ShowMessage(MessageKind::Information, kOnlyInOutbox);
        return result;
    }
    if (RefusedWithoutArchives(kSending)) return result;
    const std::vector<int64_t> ids = OutboxIds();
    const int n = int(ids.size());
    result.Orders = n;
    if (system_.EMAIL_MAPI && !mailClient_ && n > 0) {
        view_.ShowMessage(MessageKind::Error, kNoMailClient, "Email");
    } else {
        SendingScope sending(*this);
        for (int64_t id : ids) {
            TEmailData data;
            if (!PrepareOrderEmail(id, data)) continue;
            if (SendOrderMail(data, n) != TMailSendResult::Sent) continue;
            if (auf_->LocateById(id)) {
                auf_->MarkSent(Now());
                ++result.Sent;
            }
        }
        ReleaseMailer();
    }
    if (result.Sent > 0) SaveOrdersAfterSending();
    RebuildOutbox();
    return result;
}

// ============================================================ files, slips, invoice

void TMainController::ShowOrderFile(int64_t id, const char* extension) {
    if (!auf_ || !aufLoaded_) return;
    const std::string base = auf_->GetArchivePathById(id);
    if (base.empty()) return;
    const std::string path = base + extension;
    view_.ShowText(ExtractFileName(path), ReadCp1252Text(path));
}

void TMainController::actBegleitzettelAnsehenExecute(const TOrderSelection& sel) {
    ShowOrderFile(sel.Single(), ".BGL");
}

void TMainController::actAuftragsdateiAnzeigenExecute(const TOrderSelection& sel) {
    ShowOrderFile(sel.Single(), ".AUF.LOG");
}

void TMainController::actNutzdatenAnzeigenExecute(const TOrderSelection& sel) { ShowOrderFile(sel.Single(), ""); }

void TMainController::PrintSlips(const std::string* list, bool preview) {
    if (!auf_ || !aufLoaded_) return;
    // A print preview runs the window's events while it is open.
    TLongActionGuard guard(*this);
    // The slip report comes with the printing of the program; this is where
    // it is created and run.
    if (!slipReport_) {
        view_.ShowMessage(MessageKind::Information, kNoSlipReport);
        return;
    }
    Table& orders = auf_->GetTable();
    auto unfilter = [&orders] {
        orders.SetRecordFilter(nullptr);
        orders.SetFilter("");
        orders.SetFiltered(false);
    };
    try {
        if (list) {
            orders.SetFilter("");
            orders.SetRecordFilter(TListFilter{"A_ID", *list});
        } else {
            if (orders.IsEmpty()) return;
            orders.SetFilter(" A_ID = " + orders.AsString("A_ID") + " ");
            orders.SetRecordFilter(nullptr);
        }
        orders.SetFiltered(true);
        if (!orders.IsEmpty()) slipReport_->Run(orders, preview);
    } catch (...) {
        unfilter();
        throw;
    }
    unfilter();
}

void TMainController::actBegleitzettelDruckenExecute(const TOrderSelection& sel) {
    if (!auf_ || !aufLoaded_) return;
    if (!slipReport_) {
        view_.ShowMessage(MessageKind::Information, kNoSlipReport);
        return;
    }
    // Each selected order on its own; the grid without a selection previews
    // its current row.
    const bool preview = !sel.FromOutbox() && sel.Ids.empty();
    const std::vector<int64_t> ids = preview ? std::vector<int64_t>{sel.CurrentId} : sel.Ids;
    for (int64_t id : ids)
        if (auf_->LocateById(id)) PrintSlips(nullptr, preview);
}

void TMainController::actAlleBegleitzettelDruckenExecute(const TOrderSelection& sel, bool preview) {
    if (!sel.FromOutbox()) {
        view_.ShowMessage(MessageKind::Information, kOnlyInOutbox);
        return;
    }
    const std::string list = OutboxIdList();
    PrintSlips(&list, preview);
}

bool TMainController::actGeheZuRechnungExecute(const TOrderSelection& sel) {
    if (!auf_ || !aufLoaded_ || !rech_ || !rechLoaded_) return false;
    if (!auf_->LocateById(sel.Single())) return false;
    const std::string handle = auf_->GetTable().AsString("A_HANDLE");
    if (!rech_->LocateByHandle(handle)) {
        // Hidden by the date filter of "Archiv Rechnung": the filter goes.
        if (!invoiceFilter_.Filtern || !rech_->HasHandle(handle)) return false;
        TInvoiceArchiveFilter all = invoiceFilter_;
        all.Filtern = false;
        SetInvoiceArchiveFilter(all);
        view_.InvoiceArchiveFilterChanged();
        if (!rech_->LocateByHandle(handle)) return false;
    }
    view_.ShowTab(MainTab::ArchivRechnung);
    return true;
}

} // namespace brenvo
