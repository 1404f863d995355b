#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// How the program talks to the person in front of it. The windows implement
// this with message boxes and dialogs, the console program with standard
// input and output, the tests with a scripted fake. Business logic never
// opens a window itself.

enum class MessageKind { Information, Warning, Error, Confirmation };

// The buttons of a question, and the answer.
enum class Answer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };

class IUserInterface {
public:
    virtual ~IUserInterface() = default;

    // A message with an OK button. `text` may contain line breaks ("\r").
    virtual void ShowMessage(MessageKind kind, const std::string& text, const std::string& title = {}) = 0;

    // A question with the given buttons; returns the one chosen.
    virtual Answer Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                       const std::string& title = {}) = 0;

    // The one-line input dialog: a title, lines of explanation, a caption
    // before the input line and its preset text. Returns false on Cancel;
    // on OK `value` holds the text entered.
    virtual bool InputQuery(const std::string& title, const std::vector<std::string>& explanation,
                            const std::string& caption, std::string& value) = 0;

    // A read-only text shown to the user (a log, a slip, a report).
    virtual void ShowText(const std::string& title, const std::string& text) = 0;
};

} // namespace brenvo
