#pragma once

// An invoice entry on a master-data directory of its own, with a scripted
// user (messages recorded, questions answered from a queue) and a
// cost-bearer directory of three insurers.

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "TariffBuilder.h"
#include "billing/InvoiceBuilder.h"
#include "common/TempDir.h"
#include "entry/InvoiceEntry.h"
#include "entry/TripEntry.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"

namespace brenvo::test {

class ScriptedUi : public IUserInterface {
public:
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<Answer> answers;
    struct Input {
        std::string title;
        std::vector<std::string> explanation;
        std::string caption;
    };
    std::vector<Input> inputs;         // the input dialogs shown
    std::deque<std::string> typed;     // what is typed into them; none left: Cancel

    void ShowMessage(MessageKind, const std::string& text, const std::string&) override { messages.push_back(text); }
    Answer Ask(MessageKind, const std::string& text, const std::vector<Answer>& buttons, const std::string&) override {
        questions.push_back(text);
        if (answers.empty()) return buttons.back();
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool InputQuery(const std::string& title, const std::vector<std::string>& explanation, const std::string& caption,
                    std::string& value) override {
        inputs.push_back({title, explanation, caption});
        if (typed.empty()) return false;
        value = typed.front();
        typed.pop_front();
        return true;
    }
    void ShowText(const std::string&, const std::string&) override {}
};

class DirectoryHost : public IInvoiceEntryHost {
public:
    std::map<std::string, std::string> names = {
        {"103330011", "AOK Rheinland"}, {"101234567", "BKK Muster"}, {"109910014", "Rheinische OKK"}};
    std::string remembered;
    bool failing = false;

    std::string CostBearerName(const std::string& ik) override {
        if (failing) throw Error("Kostenträgerverzeichnis nicht geladen");
        auto it = names.find(ik);
        return it == names.end() ? "*** keine Angaben ***" : it->second;
    }
    std::vector<TCostBearerChoice> CostBearers() override {
        std::vector<TCostBearerChoice> out;
        for (const auto& [ik, name] : names) out.push_back({ik, name});
        return out;
    }
    void RememberCostBearer(const std::string& ik) override { remembered = ik; }
    std::map<std::string, std::string> ini;
    std::string IniValue(const std::string& name) override { return ini[name]; }
    void SetIniValue(const std::string& name, const std::string& value) override { ini[name] = value; }
};

class EntryTest : public ::testing::Test {
protected:
    EntryTest() : dm(dir.path()), entry(dm, ui, host) {
        entry.OnFocus = [this](InvoiceLevel, const std::string& field) { focus.push_back(field); };
        // Every counter has handed out 100 ids.
        Table seq(TdmVerwaltung::SeqFields());
        seq.Append();
        for (const FieldDef& f : TdmVerwaltung::SeqFields()) seq.SetInteger(f.name, 100);
        seq.Post();
        seq.SaveToFile(dm.SeqFile());
    }

    // The blank invoice a new invoice starts as.
    static void WriteBlank(const std::string& path) {
        CopyFileTo(std::string(BRENVO_SOURCE_DIR) + "/demo/Stammdaten/eingabe_vorlage.xml", path, false);
    }

    // Writes the invoice as a file of the input basket and opens it for editing.
    std::string Open(const InvoicePlan& plan, bool withGenArt = true) {
        const std::string path = dir.file("2014-0815.xml");
        BuildDocument(plan, withGenArt).SaveToFile(path);
        entry.Open(path);
        entry.SetMode(EntryMode::Edit);
        return path;
    }
    Table& Cases() { return *entry.Cases(); }
    Table& Trips() { return *entry.Trips(); }
    std::string Case(const char* field) { return entry.FieldText(InvoiceLevel::AbrFall, field); }
    std::string Header(const char* field) { return entry.FieldText(InvoiceLevel::Rechnung, field); }
    void SetCase(const char* field, const std::string& text) { entry.SetFieldText(InvoiceLevel::AbrFall, field, text); }
    void SetHeader(const char* field, const std::string& text) {
        entry.SetFieldText(InvoiceLevel::Rechnung, field, text);
    }
    // Fills every required field of the current case.
    void CompleteCase(const std::string& surname = "Kaiser") {
        SetCase("VODatum", "01.10.2014");
        SetCase("Nachname", surname);
        SetCase("Vorname", "Franz");
        SetCase("Geb", "02.02.1932");
        SetCase("VersNum", "K123456789");
        SetCase("Status", "10000");
    }
    InvoiceDocument Reread(const std::string& path) { return InvoiceDocument::FromFile(path); }

    TempDir dir;
    TdmVerwaltung dm;
    ScriptedUi ui;
    DirectoryHost host;
    TInvoiceEntry entry;
    std::vector<std::string> focus;
};

} // namespace brenvo::test
