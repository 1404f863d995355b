#include "cli/ConsoleView.h"

#include <algorithm>

#include "lib/base/Strings.h"

namespace brenvo {

namespace {

const char* KindText(MessageKind kind) {
    switch (kind) {
    case MessageKind::Information: return "Hinweis";
    case MessageKind::Warning: return "Warnung";
    case MessageKind::Error: return "Fehler";
    case MessageKind::Confirmation: return "Frage";
    }
    return "";
}

const char* AnswerText(Answer a) {
    switch (a) {
    case Answer::Ok: return "OK";
    case Answer::Cancel: return "Abbrechen";
    case Answer::Yes: return "Ja";
    case Answer::No: return "Nein";
    case Answer::Abort: return "Abbruch";
    case Answer::Retry: return "Wiederholen";
    case Answer::Ignore: return "Ignorieren";
    }
    return "";
}

} // namespace

std::string ConsoleView::ConsoleLines(const std::string& text) {
    return Join(SplitLines(text), "\n");
}

Answer ConsoleView::CautiousAnswer(const std::vector<Answer>& buttons) {
    for (Answer a : {Answer::No, Answer::Cancel, Answer::Abort})
        if (std::find(buttons.begin(), buttons.end(), a) != buttons.end()) return a;
    return buttons.empty() ? Answer::Ok : buttons.front();
}

void ConsoleView::ShowMessage(MessageKind kind, const std::string& text, const std::string& title) {
    std::string head = KindText(kind);
    if (!title.empty()) head += " (" + title + ")";
    std::fprintf(err_, "%s: %s\n", head.c_str(), ConsoleLines(text).c_str());
    std::fflush(err_);
}

Answer ConsoleView::Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                        const std::string& title) {
    const Answer a = CautiousAnswer(buttons);
    std::string head = KindText(kind);
    if (!title.empty()) head += " (" + title + ")";
    std::fprintf(err_, "%s: %s\nAntwort ohne Eingabe: %s\n", head.c_str(), ConsoleLines(text).c_str(), AnswerText(a));
    std::fflush(err_);
    return a;
}

bool ConsoleView::InputQuery(const std::string& title, const std::vector<std::string>&, const std::string&,
                             std::string&) {
    std::fprintf(err_, "Eingabe \"%s\" ohne Eingabe abgebrochen.\n", title.c_str());
    std::fflush(err_);
    return false;
}

void ConsoleView::ShowText(const std::string& title, const std::string& text) {
    if (!title.empty()) std::fprintf(out_, "%s\n", title.c_str());
    std::fprintf(out_, "%s\n", ConsoleLines(text).c_str());
    std::fflush(out_);
}

void ConsoleView::LogLineAdded(const std::string& line) {
    if (!echoLog_) return;
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void ConsoleView::OpenBusyDialog(const std::string& title, const std::string& text) {
    std::fprintf(err_, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(err_);
}

} // namespace brenvo
