#pragma once

// A data directory copied from the demo installation into a fresh temporary
// folder, a view that records what the controller shows, and helpers to
// write invoices and settings.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/DateTime.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "mainwindow/MainView.h"
#include "mainwindow/main.h"
#include "tools/InvoiceGenerator.h"

namespace ctltest {

using namespace brenvo;

// Provider and cost bearers of the demo installation (state 05, district 38).
inline const std::string kProvider = "510512345";
inline const std::string kRheinOKK = "103110016";   // data recipient 109910014
inline const std::string kIKKThuer = "103440014";   // data recipient 109910025
inline const std::string kNoRecipient = "103880016";

inline std::string DemoDir() { return std::string(BRENVO_SOURCE_DIR) + "/demo"; }

// The message of the Error that f throws; "" when it does not throw.
template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

struct RecordingView : IMainView {
    struct Message {
        MessageKind kind;
        std::string text;
    };
    std::vector<std::string> log;
    std::vector<Message> messages;
    std::vector<std::string> progressTexts;
    std::vector<MainTab> tabs;
    std::vector<std::string> questions;      // the texts given to Ask, in order
    std::vector<LoadPanelMode> loadPanels;   // SetLoadPanel, in order
    std::vector<Answer> answers;   // given to Ask in turn; Cancel when used up
    std::vector<std::string> captions;       // SetWindowCaption, in order
    // What the user types into the input dialogs in turn (nullopt: "Abbrechen");
    // "Abbrechen" when used up. The dialogs' titles, in order.
    std::vector<std::optional<std::string>> inputs;
    std::vector<std::string> inputTitles;
    std::vector<std::pair<BasketKind, long>> selections;   // SelectBasketItem, in order
    int closed = 0;
    int basketEvents = 0;
    int transferNumberChanges = 0;
    std::function<void(const std::string&)> onProgress;   // runs inside ProgressChanged
    std::function<void()> onProcessEvents;                // runs inside ProcessEvents

    void ShowMessage(MessageKind kind, const std::string& text, const std::string& = {}) override {
        messages.push_back({kind, text});
    }
    Answer Ask(MessageKind, const std::string& text, const std::vector<Answer>&, const std::string& = {}) override {
        questions.push_back(text);
        if (answers.empty()) return Answer::Cancel;
        Answer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    bool InputQuery(const std::string& title, const std::vector<std::string>&, const std::string&,
                    std::string& value) override {
        inputTitles.push_back(title);
        if (inputs.empty()) return false;
        std::optional<std::string> typed = inputs.front();
        inputs.erase(inputs.begin());
        if (!typed) return false;
        value = *typed;
        return true;
    }
    void SelectBasketItem(BasketKind basket, long index) override { selections.emplace_back(basket, index); }
    void ShowText(const std::string&, const std::string&) override {}
    void LogLineAdded(const std::string& line) override { log.push_back(line); }
    void ProgressChanged(int, int, const std::string& text) override {
        progressTexts.push_back(text);
        if (onProgress) onProgress(text);
    }
    void LoadProgressChanged(int, int, const std::string&) override {}
    void SetLoadPanel(LoadPanelMode mode) override { loadPanels.push_back(mode); }
    void ActionStateChanged() override {}
    void ShowTab(MainTab tab) override { tabs.push_back(tab); }
    void StatusPanelText(int, const std::string&) override {}
    void BasketReset(BasketKind) override { ++basketEvents; }
    void BasketItemInserted(BasketKind, size_t) override { ++basketEvents; }
    void BasketItemChanged(BasketKind, size_t) override { ++basketEvents; }
    void BasketItemRemoved(BasketKind, size_t) override { ++basketEvents; }
    void SettingsFormChanged() override {}
    void TransferNumberChanged() override { ++transferNumberChanges; }
    void OpenBusyDialog(const std::string&, const std::string&) override {}
    void CloseBusyDialog() override {}
    void ProcessEvents() override {
        if (onProcessEvents) onProcessEvents();
    }
    void Pause(int) override {}
    void CloseWindow() override { ++closed; }
    void SetWindowCaption(const std::string& caption) override { captions.push_back(caption); }
    std::vector<std::string> chosenFiles;   // what the file chooser gives, once
    std::vector<std::string> ChooseFiles(const std::string&, const std::string&) override {
        return std::exchange(chosenFiles, {});
    }

    // The lines of the log that start with prefix, in order.
    std::vector<std::string> LinesWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : log)
            if (StartsWith(l, prefix)) out.push_back(l);
        return out;
    }
    bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
    // Index of the first log line equal to line; -1 when none.
    long IndexOf(const std::string& line) const {
        auto it = std::find(log.begin(), log.end(), line);
        return it == log.end() ? -1 : long(it - log.begin());
    }
    // Index of the last log line equal to line; -1 when none.
    long LastIndexOf(const std::string& line) const {
        auto it = std::find(log.rbegin(), log.rend(), line);
        return it == log.rend() ? -1 : long(log.rend() - it) - 1;
    }
};

// The entry window as the tests drive it: records what it was asked to show
// and does what `user` does with the file in the window.
struct FakeEditor : IInvoiceEditor {
    struct Call {
        std::string path;
        EntryMode mode;
        std::optional<TNewInvoiceHeader> header;
    };
    std::vector<Call> calls;
    bool deleteRequest = false;
    std::function<void(const std::string& path)> user;

    bool ShowInvoice(const std::string& path, EntryMode mode, const TNewInvoiceHeader* header) override {
        calls.push_back({path, mode, header ? std::optional<TNewInvoiceHeader>(*header) : std::nullopt});
        if (user) user(path);
        return deleteRequest;
    }
};

// The user closes the window while an action runs: the request arrives at
// the first window events the action lets through. The shut-down must not
// run inside the action; it follows at the next turn of the event loop, after
// the action's last log line (when one is given).
inline void ExpectCloseWaitsFor(TMainController& c, RecordingView& v, const std::function<void()>& action,
                                const std::string& lastLine) {
    int pumps = 0;
    v.onProcessEvents = [&] {
        if (pumps++ == 0) {
            EXPECT_FALSE(c.RequestClose());
        }
        EXPECT_EQ(v.closed, 0) << "shut down in the middle of the action";
    };
    action();
    v.onProcessEvents = nullptr;
    ASSERT_GT(pumps, 0) << "the action let no window events through";
    EXPECT_EQ(v.closed, 0);
    c.PumpMessages();
    EXPECT_EQ(v.closed, 1);
    if (lastLine.empty()) return;
    const long last = v.LastIndexOf(lastLine);
    EXPECT_GE(last, 0) << lastLine;
    EXPECT_LT(last, v.LastIndexOf("Init Daten speichern ..."));
}

// Changes rows of a settings file (adds missing ones).
inline void WriteSettings(const std::string& file, const std::vector<std::pair<std::string, std::string>>& values) {
    Table t;
    t.LoadFromFile(file);
    for (const auto& [k, v] : values) {
        if (t.Locate("KEY", {Value(k)})) {
            t.Edit();
        } else {
            t.Append();
            t.SetString("KEY", k);
        }
        t.SetString("VALUE", v);
        t.Post();
    }
    t.SaveToFile(file);
}

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() = default;
    // The data directory below another base directory than the system's
    // temporary one.
    explicit ControllerTest(const std::filesystem::path& base) : dir(base) {}
    void SetUp() override {
        std::filesystem::copy(DemoDir(), dir.path(), std::filesystem::copy_options::recursive);
    }
    void TearDown() override { SetFixedNow(std::nullopt); }

    std::string Path(const std::string& rel) const { return dir.file(rel); }
    std::string Stamm(const std::string& name) const { return Path("Stammdaten/" + name); }
    bool Exists(const std::string& rel) const { return std::filesystem::exists(Path(rel)); }

    std::vector<std::string> Files(const std::string& rel) const { return ListFiles(Path(rel), "*"); }

    void EmptyInbox() {
        for (const auto& f : Files("import")) std::filesystem::remove(Path("import/" + f));
    }

    // Changes rows of "brenvo.XML" (adds missing ones).
    void SetSettings(const std::vector<std::pair<std::string, std::string>>& values) {
        WriteSettings(Stamm("brenvo.XML"), values);
    }
    std::string Setting(const std::string& key) const {
        Table t;
        t.LoadFromFile(Stamm("brenvo.XML"));
        return t.Locate("KEY", {Value(key)}) ? t.AsString("VALUE") : "<fehlt>";
    }

    // A good invoice (unless wrongTotal) in the inbox named number + ".xml".
    void WriteInvoice(const std::string& number, const std::string& costBearer, TDateTime date,
                      bool wrongTotal = false, const std::string& fileName = "") {
        GeneratedInvoice g;
        g.number = number;
        g.date = date;
        g.providerIK = kProvider;
        g.costBearerIK = costBearer;
        g.seed = std::hash<std::string>()(number);
        g.cases = 1;
        g.tripsPerCase = 2;
        g.wrongTotal = wrongTotal;
        WriteGeneratedInvoice(Path("import/" + (fileName.empty() ? number + ".xml" : fileName)), g);
    }

    std::unique_ptr<TMainController> Started() {
        auto c = std::make_unique<TMainController>(view, dir.path());
        EXPECT_TRUE(c->Startup()) << Joined();
        return c;
    }

    std::string Joined() const { return Join(view.log, "\n"); }

    // Rows of a table file.
    int Rows(const std::string& stammFile) const {
        Table t;
        t.LoadFromFile(Stamm(stammFile));
        return t.RecordCount();
    }

    TempDir dir;
    RecordingView view;
};

} // namespace ctltest
