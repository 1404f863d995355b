#include "u_strings.h"

#include <map>
#include <mutex>
#include <optional>

#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

std::mutex messagesMutex;

std::map<std::string, std::string, std::less<>>& Messages() {
    static std::map<std::string, std::string, std::less<>> messages;
    return messages;
}

// A part of a date: digits only (blanks around them allowed).
std::optional<int> DatePartNumber(std::string_view s) {
    std::string t = Trim(s);
    if (!IsDigits(t) || t.size() > 9) return std::nullopt;
    return int(*ParseInt(t));
}

} // namespace

std::string MessageText(std::string_view id, std::string_view defaultText) {
    std::lock_guard lock(messagesMutex);
    auto it = Messages().find(id);
    if (it != Messages().end()) return it->second;
    return std::string(defaultText);
}

void SetMessageText(std::string_view id, std::string_view text) {
    std::lock_guard lock(messagesMutex);
    if (text.empty())
        Messages().erase(std::string(id));
    else
        Messages()[std::string(id)] = std::string(text);
}

TDateTime StrToKelmarDate(std::string_view text) {
    const std::string s = Trim(text);
    auto fail = [&]() -> Error {
        return Error(Format(MessageText("us004", "\"%s\" kann nicht in ein Datum konvertiert werden."), {s}));
    };

    std::string dayText, monthText, yearText;
    bool yearGiven = false;
    if (size_t dot1 = s.find('.'); dot1 != std::string::npos) {
        dayText = s.substr(0, dot1);
        size_t dot2 = s.find('.', dot1 + 1);
        if (dot2 != std::string::npos) {
            monthText = s.substr(dot1 + 1, dot2 - dot1 - 1);
            yearText = s.substr(dot2 + 1);
            yearGiven = !Trim(yearText).empty();
        } else {
            monthText = s.substr(dot1 + 1);
            if (monthText.empty()) throw fail();
        }
    } else {
        // Counted in characters, so that a stray umlaut does not pass as two.
        const size_t len = Utf8Length(s);
        if (len != 4 && len != 6 && len != 8) throw fail();
        dayText = s.substr(0, 2);
        monthText = s.substr(2, 2);
        if (len == 4) {
            // DDMM: this year. The full year is taken, which equals "the last
            // two digits of this year" read as 20YY for every year of this century.
            yearText = IntToStr(Decode(Today()).year);
        } else {
            yearText = s.substr(4);
        }
        yearGiven = true;
    }

    auto day = DatePartNumber(dayText);
    auto month = DatePartNumber(monthText);
    if (!day || !month) throw fail();

    int year;
    if (yearGiven) {
        auto y = DatePartNumber(yearText);
        if (!y) throw fail();
        year = *y <= 99 ? 2000 + *y : *y;
    } else {
        DateParts today = Decode(Today());
        year = today.year;
        if (*month < today.month || (*month == today.month && *day < today.day)) ++year;
    }

    TDateTime result;
    if (!TryEncodeDate(year, *month, *day, result)) throw fail();
    return result;
}

} // namespace brenvo
