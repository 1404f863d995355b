#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace brenvo {

// A calendar date with time of day, held as the number of days since
// 30.12.1899 00:00 with the time of day as the fraction (0.5 = noon).
// Dates before 30.12.1899 are negative; their fraction still counts forward
// from midnight of the day (-1.25 is 29.12.1899 06:00).
// A TDateTime may be null, which is distinct from the value 0 (30.12.1899).
class TDateTime {
public:
    TDateTime() = default;                       // null
    static TDateTime FromValue(double days) { TDateTime d; d.v_ = days; d.null_ = false; return d; }
    static TDateTime Null() { return TDateTime(); }

    bool IsNull() const { return null_; }
    // The day count; 0 for a null value.
    double Value() const { return null_ ? 0.0 : v_; }

    // Whole days (cut toward zero) and the time of day (0 <= t < 1).
    int DatePart() const;
    double TimePart() const;
    bool HasTime() const;        // time of day is not midnight
    TDateTime DateOnly() const;  // same day, 00:00; null stays null

    bool operator==(const TDateTime& o) const { return null_ == o.null_ && (null_ || v_ == o.v_); }
    // Null sorts before every value.
    std::partial_ordering operator<=>(const TDateTime& o) const;

private:
    double v_ = 0.0;
    bool null_ = true;
};

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool IsValidDate(int year, int month, int day);

// Builds a value; throws Error for an impossible date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
double EncodeTime(int hour, int minute, int second = 0, int ms = 0);
// Splits a value (a null value gives the parts of 30.12.1899 00:00).
DateParts Decode(TDateTime d);
// Day of the week, 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime d);

TDateTime IncDays(TDateTime d, double days);
TDateTime IncMilliseconds(TDateTime d, int64_t ms);

// The machine's local time, and today at midnight. A test can fix the clock.
TDateTime Now();
TDateTime Today();
void SetFixedNow(std::optional<TDateTime> fixed);   // for tests only

// Conversion to and from the local time of the machine.
TDateTime FromTimeT(int64_t seconds, int nanoseconds = 0);
int64_t ToTimeT(TDateTime d);

// Text forms. Every formatter returns "" for a null value.
std::string FormatYYYYMMDD(TDateTime d);            // 20141015
std::string FormatDDMMYYYY(TDateTime d);            // 15.10.2014  (also the local short date)
std::string FormatShortDate(TDateTime d);           // German short date, same as DD.MM.YYYY
std::string FormatDateTimeDE(TDateTime d);          // 15.10.2014 14:05:03 (time only when HasTime)
std::string FormatStamp(TDateTime d);               // 20141015_140503007
std::string FormatYYYYMMDDHHNNSS(TDateTime d);      // 20141015140503
std::string FormatBackupName(TDateTime d);          // 20141015-140503
std::string FormatHHNN(TDateTime d);                // 1405
std::string FormatHHNNSS(TDateTime d);              // 14:05:03
std::string FormatWeekdayDate(TDateTime d);         // Mi, 15.10.2014
std::string GermanWeekdayShort(TDateTime d);        // So Mo Di Mi Do Fr Sa

// Parsers; nullopt when the text is not such a date (or names an impossible day).
std::optional<TDateTime> ParseYYYYMMDD(const std::string& s);
std::optional<TDateTime> ParseDDMMYYYY(const std::string& s);   // also D.M.YYYY
std::optional<TDateTime> ParseStamp(const std::string& s);      // YYYYMMDD_HHNNSSZZZ
std::optional<TDateTime> ParseYYYYMMDDHHNNSS(const std::string& s);

} // namespace brenvo
