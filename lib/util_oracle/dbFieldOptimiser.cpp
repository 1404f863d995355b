#include "dbFieldOptimiser.h"

#include <cmath>
#include <limits>

#include "lib/base/Error.h"
#include "lib/base/Format.h"
#include "lib/base/Money.h"
#include "lib/base/Strings.h"
#include "lib/util_string/u_strings.h"

namespace brenvo {

namespace {

std::vector<std::string> SplitList(std::string_view list) {
    std::vector<std::string> out;
    for (auto& part : Split(list, ','))
        if (!part.empty()) out.push_back(part);
    return out;
}

// Removes the first occurrence of `word` from s; false when it does not occur.
bool RemoveFirst(std::string& s, std::string_view word) {
    size_t pos = s.find(word);
    if (pos == std::string::npos) return false;
    s.erase(pos, word.size());
    return true;
}

} // namespace

// ------------------------------------------------------------------ base

void TFieldOptimiser::SetText(Table& table, std::string_view field, std::string_view text) const {
    // Converted first, so that a failure leaves the field untouched.
    Value v = TextToValue(text, table.GetValue(field));
    table.SetValue(field, std::move(v));
}

std::string TFieldOptimiser::GetText(const Table& table, std::string_view field, bool displayText) const {
    return ValueToText(table.GetValue(field), displayText);
}

// ------------------------------------------------------------------ dates

Value TDatumFieldOptimiser::TextToValue(std::string_view text, const Value& current) const {
    double timeOfDay = 0.0;
    if (auto* d = std::get_if<TDateTime>(&current); d && !d->IsNull()) timeOfDay = d->TimePart();

    if (Trim(text).empty()) return TDateTime::FromValue(timeOfDay);

    TDateTime date = StrToKelmarDate(text);
    // Before 30.12.1899 the time of day counts toward zero from the (negative) day.
    double v = date.Value() < 0 ? date.Value() - timeOfDay : date.Value() + timeOfDay;
    return TDateTime::FromValue(v);
}

std::string TDatumFieldOptimiser::ValueToText(const Value& value, bool) const {
    auto* d = std::get_if<TDateTime>(&value);
    if (!d || d->IsNull() || d->Value() <= 1.0) return {};
    return FormatDDMMYYYY(*d);
}

// --------------------------------------------------------------- currency

TWaehrungFieldOptimiser::TWaehrungFieldOptimiser()
    : decimalSeparators_{",", "."}, currencyWords_{"€", "EUR"}, centWords_{"ct", "CENT"} {}

void TWaehrungFieldOptimiser::SetDecimalSeparators(std::string_view list) { decimalSeparators_ = SplitList(list); }
void TWaehrungFieldOptimiser::SetCurrencyWords(std::string_view list) { currencyWords_ = SplitList(list); }
void TWaehrungFieldOptimiser::SetCentWords(std::string_view list) { centWords_ = SplitList(list); }

std::string TWaehrungFieldOptimiser::ValueToText(const Value& value, bool) const {
    int64_t cents;
    if (auto* i = std::get_if<int64_t>(&value))
        cents = *i;
    else if (auto* f = std::get_if<double>(&value))
        cents = RoundHalfEven(*f);
    else
        return {};
    const std::string word = currencyWords_.empty() ? std::string() : currencyWords_.front();
    return Format("%s %s ", {word, FormatFloat("###,###,##0.00", CentsToEuro(cents))});
}

std::optional<int64_t> TWaehrungFieldOptimiser::ParseCents(std::string_view text) const {
    auto fail = [&]() -> Error {
        return Error(Format("\"%s\" ist kein gültiger Ausdruck für die Währung.\rBeispiele: €10.15 10EUR 123ct 10,34 eur",
                            {std::string(text)}));
    };
    auto wholeNumber = [&](std::string_view s) -> int64_t {
        auto v = ParseInt(s);
        if (!v) throw fail();
        return *v;
    };

    std::string s = UpperCase(Trim(text));
    if (s.empty()) return std::nullopt;

    int64_t cents = 0;
    bool inCents = false;
    for (const auto& word : centWords_) {
        if (RemoveFirst(s, UpperCase(word))) {
            s = Trim(s);
            inCents = true;
            break;
        }
    }

    if (inCents) {
        cents = wholeNumber(s);
    } else {
        for (const auto& word : currencyWords_)
            if (RemoveFirst(s, UpperCase(word))) break;
        s = Trim(s);

        bool split = false;
        std::string euroPart, centPart;
        for (const auto& sep : decimalSeparators_) {
            size_t pos = s.find(sep);
            if (pos == std::string::npos) continue;
            euroPart = s.substr(0, pos);
            centPart = s.substr(pos + sep.size());
            if (sep == ",") euroPart = ReplaceAll(euroPart, ".", "");
            if (centPart.size() == 1) centPart += "0";
            // Exactly two digits; a sign or blank in the cents is no amount.
            if (centPart.size() != 2 || !IsDigits(centPart)) throw fail();
            split = true;
            break;
        }

        if (split) {
            int64_t euros = wholeNumber(euroPart);
            int64_t c = wholeNumber(centPart);
            if (euros > std::numeric_limits<int32_t>::max() / 100 || euros < std::numeric_limits<int32_t>::min() / 100)
                throw fail();
            cents = StartsWith(euroPart, "-") ? euros * 100 - c : euros * 100 + c;
        } else {
            int64_t euros = wholeNumber(s);
            if (euros > std::numeric_limits<int32_t>::max() / 100 || euros < std::numeric_limits<int32_t>::min() / 100)
                throw fail();
            cents = euros * 100;
        }
    }

    // The prices are stored as 32-bit integers in the table files.
    if (cents > std::numeric_limits<int32_t>::max() || cents < std::numeric_limits<int32_t>::min()) throw fail();
    return cents;
}

Value TWaehrungFieldOptimiser::TextToValue(std::string_view text, const Value&) const {
    auto cents = ParseCents(text);
    if (!cents) return std::monostate{};
    return *cents;
}

} // namespace brenvo
