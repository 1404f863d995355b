#pragma once

#include <string>
#include <string_view>

#include "lib/base/DateTime.h"

namespace brenvo {

// The program's message texts by id ("us004", ...). A text registered with
// SetMessageText (a translation) wins; otherwise the default text given by
// the caller is used.
std::string MessageText(std::string_view id, std::string_view defaultText);
void SetMessageText(std::string_view id, std::string_view text);   // empty text removes it

// Reads a date typed by the user, in the short forms the entry windows
// accept: "5.12.2010", "5.12.10", "5.12" and "5.12." (no year), "0512"
// (DDMM, this year), "051210" (DDMMYY), "05122010" (DDMMYYYY). A two-digit
// year means 2000 plus the year. A date typed without year that lies before
// today's day and month of the year is taken as next year's.
// Fails with Error (message "us004") when the text is no such date.
TDateTime StrToKelmarDate(std::string_view text);

} // namespace brenvo
