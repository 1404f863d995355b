#pragma once

// Message boxes and questions with German buttons, and the conversions
// between the program's texts and Qt's.

#include <QString>

#include <string>
#include <vector>

#include "lib/base/UserInterface.h"

class QWidget;

namespace brenvo {

QString ToQ(const std::string& text);
std::string FromQ(const QString& text);
// A text of the program for the screen: its line breaks (CR, CR LF, LF CR)
// become Qt's.
QString DisplayText(const std::string& text);

// "OK", "Abbrechen", "Ja", "Nein", "Abbruch", "Wiederholen", "Ignorieren".
QString AnswerCaption(Answer answer);
// The title of a message without one: "Information", "Warnung", "Fehler", "Bestätigen".
QString MessageTitle(MessageKind kind);

// A modal message box with the given buttons, in that order; the first is
// the default button, Escape chooses "Abbrechen", else "Nein", else the only
// button. Returns the button chosen.
Answer MessageDialog(QWidget* parent, MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
                     const std::string& title = {});
// A message with "OK".
void ShowMessageDialog(QWidget* parent, MessageKind kind, const std::string& text, const std::string& title = {});

} // namespace brenvo
