// The invoice actions of the main window: the input basket ("&Eingabe"),
// the inbox ("Eingangs&korb") and the grid of "Archiv Rechnung" with its
// date filter and search.
//
// An invoice moves between baskets as a copy that refuses to overwrite a
// file of the same name, followed by the delete of the source once the copy
// is complete; a move that fails on the way leaves the invoice where it was
// (or, when only the delete failed, in both places, and says so).

#include "billing/InvoiceDocument.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

const char* const kNoEditor = "Rechnungen können mit dieser Programmversion noch nicht erfasst werden.";

// The width of the invoice number in the invoice file (SaRechNr).
constexpr size_t kNumberWidth = 14;

// A file name typed by the user must stay in its basket.
void RequirePlainName(const std::string& name) {
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
        throw Error("Der Name " + name + " darf die Zeichen / und \\ nicht enthalten.");
}

// The question asked once for the selected items: about the first one by
// name when it is alone, about all of them otherwise.
std::string Question(const std::vector<std::string>& names, const std::string& name, const std::string& what) {
    return names.size() == 1 ? "Rechnung " + name + " " + what : "alle markierten Rechnungen " + what;
}

// The index of the item whose caption is exactly `caption`; -1 when none.
long ExactItem(const TBasketList& list, const std::string& caption) {
    for (size_t i = 0; i < list.Count(); ++i)
        if (list.Item(i).Caption == caption) return long(i);
    return -1;
}

} // namespace

// ============================================================ helpers

bool TMainController::OpenInvoice(const std::string& path, TInvoiceEditMode mode, const TNewInvoiceFields* header) {
    if (!invoiceEditor_) {
        // Without the entry window an invoice can still be read.
        if (mode != TInvoiceEditMode::View) throw Error(kNoEditor);
        view_.ShowText(ExtractFileName(path), ReadFileBytes(path));
        return false;
    }
    // The entry window runs its own modal loop; the program is not shut
    // down under it.
    TLongActionGuard guard(*this);
    return invoiceEditor_->ShowInvoice(path, mode, header);
}

// Deletes the files after one question; false when the user declined.
bool TMainController::DeleteInvoiceFiles(const std::string& dir, const std::vector<std::string>& names) {
    if (names.empty()) return false;
    if (view_.Ask(MessageKind::Confirmation, Question(names, CleanFileName(names.front()), "endgültig löschen?"),
                  {Answer::Yes, Answer::Cancel}) != Answer::Yes)
        return false;
    std::vector<std::string> failed;
    for (const std::string& name : names) {
        const std::string path = PathJoin(dir, name);
        if (!DeleteFile(path) && FileExists(path)) failed.push_back("Datei " + path + " konnte nicht gelöscht werden!");
    }
    if (!failed.empty()) view_.ShowMessage(MessageKind::Warning, Join(failed, "\r"));
    return true;
}

void TMainController::EditInputInvoice(const std::string& name, const TNewInvoiceFields* header) {
    const std::string path = PathJoin(paths_.Eingabe, name);
    if (system_.OPT_XMLCONVERSION && FileExists(path)) ConvertDecimalSeparators(path, system_.OPT_XMLTOCOMMA);
    // Deleted in the entry window: only this invoice goes, after the question.
    if (OpenInvoice(path, TInvoiceEditMode::Edit, header) && DeleteInvoiceFiles(paths_.Eingabe, {name}))
        ReadInputBasket();
}

// ============================================================ input basket

void TMainController::actRechnungNeuExecute() {
    if (!invoiceEditor_) throw Error(kNoEditor);
    if (RefusedWithoutArchives("Rechnung neu erstellen")) return;
    std::string number;
    const bool ok = view_.InputQuery("Neue Rechnung anlegen",
                                     {"Geben Sie nun die Rechnungsnummer ein", " ",
                                      "Bitte beachten: Diese Nummer kann später nicht mehr geändert werden.."},
                                     "Rechnungsnummer:", number);
    number = Trim(number);
    if (ok && !number.empty() && rech_->HasNumber(number)) {
        view_.ShowMessage(MessageKind::Information, "Rechnung " + number + " wurde bereits verarbeitet\r\r ");
        return;
    }
    if (!ok || number.empty()) return;
    RequirePlainName(number);
    if (Utf8Length(number) > kNumberWidth)
        throw Error(Format("Die Rechnungsnummer %s ist zu lang: höchstens %d Zeichen.", {number, kNumberWidth}));

    const std::string name = number + ".xml";
    const std::string target = PathJoin(paths_.Eingabe, name);
    ForceDirectories(paths_.Eingabe);   // not made at start-up
    if (FileExists(target)) {
        view_.ShowMessage(MessageKind::Information, "Rechnung " + number + " existiert bereits...\r\r ");
    } else {
        const std::string vorlage = paths_.StammdatenFile(InvoiceTemplateFileName);
        if (!CopyFileTo(vorlage, target, true))
            throw Error(Format("Datei %s konnte nicht nach %s kopiert werden", {vorlage, target}));
        ReadInputBasket();
        view_.SelectBasketItem(BasketKind::InputBasket, -1);
    }
    const long item = ExactItem(input_, name);
    if (item < 0) return;
    view_.SelectBasketItem(BasketKind::InputBasket, item);

    TNewInvoiceFields header;
    header.SaRechNr = number;
    header.RechDatum = Today();
    header.IKLE = einrichtung_.EINR_IK;
    header.Name1 = einrichtung_.EINR_NAME1;
    header.Name2 = einrichtung_.EINR_STRASSE;
    header.Name3 = einrichtung_.EIN_PLZORT;
    header.IKKT = ReadIniValue("Letzte_KT_IK");
    EditInputInvoice(name, &header);
}

void TMainController::actRechnungBearbeitenExecute(const std::vector<std::string>& selected) {
    if (selected.empty()) return;
    if (!invoiceEditor_) throw Error(kNoEditor);
    EditInputInvoice(selected.front(), nullptr);
}

void TMainController::actEingabeRechnungLoeschenExecute(const std::vector<std::string>& selected) {
    if (DeleteInvoiceFiles(paths_.Eingabe, selected)) ReadInputBasket();
}

void TMainController::actRechnungInEingangskorbExecute(const std::vector<std::string>& selected) {
    if (selected.empty()) return;
    if (view_.Ask(MessageKind::Confirmation, Question(selected, selected.front(), "in Eingangskorb ablegen?"),
                  {Answer::Yes, Answer::Cancel}) != Answer::Yes)
        return;
    for (const std::string& name : selected) {
        const std::string source = PathJoin(paths_.Eingabe, name);
        if (!CopyFileTo(source, PathJoin(importDir_, name), true)) {
            view_.ShowMessage(MessageKind::Warning, "Datei " + source + " konnte nicht kopiert werden!\r\r" +
                                                        "Rechnung bleibt im Eingabebereich. Bitte überprüfen\r\r ");
        } else if (!DeleteFile(source) && FileExists(source)) {
            view_.ShowMessage(MessageKind::Warning, "Datei " + source +
                                                        " liegt nun im Eingangskorb, konnte aber im Eingabebereich "
                                                        "nicht gelöscht werden. Bitte dort löschen.");
        }
    }
    ReadInputBasket();
    ReadInbox();
    view_.ShowTab(MainTab::Eingangskorb);
}

void TMainController::actRechnungInArchivExecute(const std::vector<std::string>& selected) {
    if (selected.empty() || RefusedWithoutArchives("Rechnung in Archiv verschieben")) return;
    const std::string& name = selected.front();
    if (view_.Ask(MessageKind::Confirmation, "Rechnung " + name + " in das Archiv verschieben?",
                  {Answer::Yes, Answer::Cancel}) != Answer::Yes)
        return;
    const std::string path = PathJoin(paths_.Eingabe, name);
    try {
        std::string number;
        TDateTime date;
        double amount = 0;
        {
            InvoiceDocument doc;
            doc.LoadFromFile(path);
            doc.RequireSingleInvoice();
            Table& header = doc.Rechnung();
            header.First();
            number = header.AsString("SaRechNr");
            date = header.AsDateTime("RechDatum");
            amount = header.AsFloat("RBetragNetto");
        }
        rech_->AddManual(path, number, amount, date);
        // The row is on disk before the invoice leaves the input basket.
        rech_->Save();
        if (!DeleteFile(path) && FileExists(path))
            view_.ShowMessage(MessageKind::Warning, "Datei " + path + " ist archiviert, konnte aber im "
                                                    "Eingabebereich nicht gelöscht werden. Bitte dort löschen.");
    } catch (...) {
        ReadInputBasket();
        throw;
    }
    ReadInputBasket();
}

void TMainController::actRechnungKopierenExecute(const std::vector<std::string>& selected) {
    if (selected.empty()) return;
    const std::string source = PathJoin(paths_.Eingabe, selected.front());
    const std::string target = PathJoin(paths_.Eingabe, "SIK_" + selected.front());
    if (FileExists(target)) {
        view_.ShowMessage(MessageKind::Warning,
                          "Datei: " + target + " existiert bereits!\r\rKopie kann nicht erstellt werden.");
    } else if (!CopyFileTo(source, target, true)) {
        view_.ShowMessage(MessageKind::Error, Format("Datei %s konnte nicht nach %s kopiert werden", {source, target}));
    }
    ReadInputBasket();
}

void TMainController::actRechnungUmbenennenExecute(const std::vector<std::string>& selected) {
    if (selected.empty()) return;
    const std::string& name = selected.front();
    std::string newName = name;
    if (!view_.InputQuery("Rechnung umbenennen", {"Geben Sie nun den neuen Namen der Rechnungsdatei ein", " ", " "},
                          "Rechnung:", newName) ||
        newName.empty() || newName == name)
        return;
    RequirePlainName(newName);
    const std::string target = PathJoin(paths_.Eingabe, newName);
    if (FileExists(target)) {
        view_.ShowMessage(MessageKind::Warning,
                          name + " kann nicht umbenannt werden, Datei: " + newName + " existiert bereits!\r\r ");
        return;
    }
    if (!RenameFile(PathJoin(paths_.Eingabe, name), target))
        view_.ShowMessage(MessageKind::Error, Format("Datei %s konnte nicht in %s umbenannt werden.", {name, newName}));
    ReadInputBasket();
}

// ============================================================ inbox and invoice-archive grid

void TMainController::actRechnungAnsehenExecute(const TInvoiceSelection& sel) {
    std::string path;
    if (sel.FromInbox()) {
        if (sel.Names.empty()) return;
        const std::string& name = sel.Names.front();
        path = PathJoin(importDir_, name);
        // A billed invoice whose item is still listed (its file has left the
        // inbox) is read from the archive.
        std::string archived;
        if (FileExists(path)) {
            if (system_.OPT_XMLCONVERSION) ConvertDecimalSeparators(path, system_.OPT_XMLTOCOMMA);
        } else if (rech_ && rechLoaded_ && rech_->FindByFileName(name, &archived, nullptr)) {
            path = PathJoin(paths_.ArchivR, archived);
        }
    } else {
        std::string fileName;
        if (!rech_ || !rechLoaded_ || !rech_->FindByNumber(sel.Number, &fileName, nullptr)) return;
        path = PathJoin(paths_.ArchivR, fileName);
    }
    OpenInvoice(path, TInvoiceEditMode::View, nullptr);
}

void TMainController::actRechnungKorrigierenExecute(const TInvoiceSelection& sel) {
    if (!sel.FromInbox()) {
        ReturnArchivedInvoice(sel.Number, false);
        return;
    }
    const std::vector<std::string>& names = sel.Names;
    if (names.empty()) return;
    if (view_.Ask(MessageKind::Confirmation,
                  Question(names, CleanFileName(names.front()), "zur Korrektur in Eingabebereich verschieben?"),
                  {Answer::Yes, Answer::Cancel}) != Answer::Yes)
        return;
    int moved = 0;
    ForceDirectories(paths_.Eingabe);
    for (const std::string& name : names) {
        // A file of that name in the input basket stays; this one then stays in the inbox.
        const std::string source = PathJoin(importDir_, name);
        if (!CopyFileTo(source, PathJoin(paths_.Eingabe, CleanFileName(name)), true)) continue;
        ++moved;
        if (!DeleteFile(source) && FileExists(source))
            view_.ShowMessage(MessageKind::Warning, "Datei " + source +
                                                        " liegt nun im Eingabebereich, konnte aber im Eingangskorb "
                                                        "nicht gelöscht werden. Bitte dort löschen.");
    }
    if (moved == 0) return;
    ReadInputBasket();
    ReadInbox();
    view_.ShowTab(MainTab::Eingabe);
}

// An archived invoice goes back to the inbox: its row is removed, which
// copies the archived file into the import directory (the copy in "ArchivR"
// stays). With deleteReturned ("Rechnung löschen") that copy is deleted
// again. The archive is saved at once: a row removed only in memory would
// come back with the next start beside the returned file.
void TMainController::ReturnArchivedInvoice(const std::string& number, bool deleteReturned) {
    if (RefusedWithoutArchives(deleteReturned ? "Rechnung löschen" : "Rechnung korrigieren")) return;
    std::string returned;
    if (number.empty() || !rech_->ReturnInvoice(number, &returned)) return;
    // Only the file the row gave back goes: an invoice of the same name that
    // waited in the inbox before stays (the returned one then has another name).
    if (deleteReturned) {
        const std::string path = PathJoin(importDir_, returned);
        if (!DeleteFile(path) && FileExists(path))
            view_.ShowMessage(MessageKind::Warning, "Datei " + path + " konnte nicht gelöscht werden!");
        ReadInbox();
    }
    rech_->Save();
}

void TMainController::actRechnungLoeschenExecute(const TInvoiceSelection& sel) {
    if (!sel.FromInbox()) {
        ReturnArchivedInvoice(sel.Number, true);
        return;
    }
    if (DeleteInvoiceFiles(importDir_, sel.Names)) ReadInbox();
}

void TMainController::actFehlerMarkierungEntfernenExecute(const TInvoiceSelection& sel) {
    if (!sel.FromInbox() || sel.Names.empty()) return;
    for (const std::string& name : sel.Names) {
        const std::string clean = CleanFileName(name);
        if (clean == name) continue;
        if (RenameFile(PathJoin(importDir_, name), PathJoin(importDir_, clean))) continue;
        if (FileExists(PathJoin(importDir_, clean)))
            view_.ShowMessage(MessageKind::Warning,
                              name + " kann nicht umbenannt werden, Datei: " + clean + " existiert bereits!\r\r ");
    }
    ReadInbox();
}

bool TMainController::actGeheZuAuftragExecute(const TInvoiceSelection& sel) {
    if (!rech_ || !rechLoaded_ || !auf_ || !aufLoaded_) return false;
    std::string fileName, handle;
    if (sel.FromInbox()) {
        if (sel.Names.empty()) return false;
        const std::string& name = sel.Names.front();
        if (!rech_->FindByFileName(name, &fileName, &handle)) {
            view_.ShowMessage(MessageKind::Information, "Rechnung nicht im Rechnungsarchiv ");
            return false;
        }
        if (fileName != name) {
            view_.ShowMessage(MessageKind::Information, "inkonsistent");
            return false;
        }
    } else if (!rech_->FindByNumber(sel.Number, &fileName, &handle)) {
        return false;
    }
    if (handle.empty()) {
        view_.ShowMessage(MessageKind::Information, "Rechnung " + fileName + " wurde ohne Auftrag archiviert.");
        return false;
    }
    if (!auf_->LocateByHandle(handle)) {
        view_.ShowMessage(MessageKind::Information, "Auftrag " + handle + " nicht im Auftragsarchiv");
        return false;
    }
    view_.ShowTab(MainTab::ArchivAuftraege);
    return true;
}

void TMainController::actNeuLadenExecute(const TInvoiceSelection& sel) {
    if (sel.FromInbox()) ReadInbox();
}

// ============================================================ the view of "Archiv Rechnung"

bool TMainController::SetInvoiceArchiveFilter(const TInvoiceArchiveFilter& filter) {
    invoiceFilter_ = filter;
    invoiceFilter_.From = filter.From.DateOnly();
    invoiceFilter_.To = filter.To.DateOnly();
    if (!rech_) return true;
    return invoiceFilter_.Apply(rech_->GetTable());
}

} // namespace brenvo
