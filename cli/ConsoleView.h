#pragma once

// The main window's view on a console: log lines go to standard output as
// they happen, messages to standard error. Nobody answers: every question
// gets the cautious choice (No, else Cancel, else Abort, else the first
// button offered) and every input dialog counts as cancelled; both are noted
// on standard error.

#include <cstdio>
#include <string>
#include <vector>

#include "mainwindow/MainView.h"

namespace brenvo {

class ConsoleView : public IMainView {
public:
    // echoLog: print every activity-log line on standard output.
    explicit ConsoleView(bool echoLog, std::FILE* out = stdout, std::FILE* err = stderr)
        : echoLog_(echoLog), out_(out), err_(err) {}

    // The answer the console gives to a question with these buttons.
    static Answer CautiousAnswer(const std::vector<Answer>& buttons);

    void ShowMessage(MessageKind kind, const std::string& text, const std::string& title = {}) override;
    Answer Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
               const std::string& title = {}) override;
    bool InputQuery(const std::string& title, const std::vector<std::string>& explanation, const std::string& caption,
                    std::string& value) override;
    void ShowText(const std::string& title, const std::string& text) override;

    void LogLineAdded(const std::string& line) override;
    void ProgressChanged(int, int, const std::string&) override {}
    void LoadProgressChanged(int, int, const std::string&) override {}
    void SetLoadPanel(LoadPanelMode) override {}
    void ActionStateChanged() override {}
    void ShowTab(MainTab) override {}
    void StatusPanelText(int, const std::string&) override {}
    void BasketReset(BasketKind) override {}
    void BasketItemInserted(BasketKind, size_t) override {}
    void BasketItemChanged(BasketKind, size_t) override {}
    void BasketItemRemoved(BasketKind, size_t) override {}
    void SettingsFormChanged() override {}
    void TransferNumberChanged() override {}
    void OpenBusyDialog(const std::string& title, const std::string& text) override;
    void CloseBusyDialog() override {}
    void ProcessEvents() override {}
    void Pause(int) override {}
    void CloseWindow() override { closed_ = true; }
    void SetWindowCaption(const std::string&) override {}
    std::vector<std::string> ChooseFiles(const std::string&, const std::string&) override { return {}; }

    bool Closed() const { return closed_; }
    void SetEchoLog(bool on) { echoLog_ = on; }
    bool EchoLog() const { return echoLog_; }

    // Line breaks of the program's texts (CR, CR LF) as the console's.
    static std::string ConsoleLines(const std::string& text);

private:
    bool echoLog_;
    std::FILE* out_;
    std::FILE* err_;
    bool closed_ = false;
};

} // namespace brenvo
