#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

// A field formatter: takes over both directions of one field's text
// conversion, how the stored value is shown and how typed text becomes the
// stored value. A field is a column of a table, read from the current row
// (or the edit buffer while the table is being edited).
//
// The formatters know no widgets. A view routes its cells' display and input
// through GetText and SetText, gives the editor the EditMask, and lets every
// character be typed (currency words and separators go into numeric fields).
class TFieldOptimiser {
public:
    virtual ~TFieldOptimiser() = default;

    // 1. Typed text becomes the field's value. The table must be in Edit or
    // Insert state. Fails with Error carrying the message for the user; the
    // field then keeps its previous value.
    void SetText(Table& table, std::string_view field, std::string_view text) const;
    // 2. The text shown for the field's value; the same text serves display
    // and editing.
    std::string GetText(const Table& table, std::string_view field, bool displayText = true) const;
    // 3. The input mask of the field; none by default.
    virtual std::string EditMask() const { return {}; }

    // The conversions themselves, without a table. `current` is the value
    // the field holds before the input (some formatters keep part of it).
    virtual Value TextToValue(std::string_view text, const Value& current) const = 0;
    virtual std::string ValueToText(const Value& value, bool displayText = true) const = 0;
};

// Date fields (date-time columns). Shown as "dd.mm.yyyy", empty for no value
// and for a value of 1 or less. Typed in the short forms of StrToKelmarDate;
// the field's time of day is kept. Emptying the text keeps only the time of
// day (a field holding a plain date becomes 0, shown empty).
class TDatumFieldOptimiser : public TFieldOptimiser {
public:
    Value TextToValue(std::string_view text, const Value& current) const override;
    std::string ValueToText(const Value& value, bool displayText = true) const override;
};

// Currency amounts held as whole cents in an integer column. Shown as
// "€ 12,34 " (currency word, blank, amount with German separators, blank).
// Accepts "10,34", "10.15", "1.234,56", "€10.15", "10 EUR", "123ct",
// "5 Cent", "-0,50"; an empty text clears the field.
class TWaehrungFieldOptimiser : public TFieldOptimiser {
public:
    TWaehrungFieldOptimiser();

    Value TextToValue(std::string_view text, const Value& current) const override;
    std::string ValueToText(const Value& value, bool displayText = true) const override;

    // Cents read from text; nullopt stands for "no value". Fails with Error.
    std::optional<int64_t> ParseCents(std::string_view text) const;

    // The word lists, each comma-separated, tried in order. The first
    // currency word is the one shown.
    void SetDecimalSeparators(std::string_view list);   // default ",."
    void SetCurrencyWords(std::string_view list);       // default "€,EUR"
    void SetCentWords(std::string_view list);           // default "ct,CENT"

private:
    std::vector<std::string> decimalSeparators_;
    std::vector<std::string> currencyWords_;
    std::vector<std::string> centWords_;
};

} // namespace brenvo
