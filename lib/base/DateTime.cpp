#include "DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "Error.h"

namespace brenvo {

namespace {

constexpr double kMsPerDay = 86400000.0;

// Days from 01.01.0001 to 30.12.1899 (the day count of the epoch).
constexpr int64_t kEpochOrdinal = 693594;

int64_t DaysBeforeYear(int64_t y) {
    --y;
    return y * 365 + y / 4 - y / 100 + y / 400;
}

int64_t Ordinal(int year, int month, int day) {
    static const int cum[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int64_t days = DaysBeforeYear(year) + cum[month - 1] + day;
    if (month > 2 && IsLeapYear(year)) ++days;
    return days;   // 01.01.0001 = 1
}

void OrdinalToDate(int64_t ord, int& year, int& month, int& day) {
    // ord: 1 = 01.01.0001
    int64_t n = ord - 1;
    int64_t n400 = n / 146097; n %= 146097;
    int64_t n100 = n / 36524; n %= 36524;
    int64_t n4 = n / 1461; n %= 1461;
    int64_t n1 = n / 365; n %= 365;
    int64_t y = n400 * 400 + n100 * 100 + n4 * 4 + n1;
    if (n100 == 4 || n1 == 4) {
        year = int(y);
        month = 12;
        day = 31;
        return;
    }
    year = int(y + 1);
    int m = 1;
    while (true) {
        int dim = DaysInMonth(year, m);
        if (n < dim) break;
        n -= dim;
        ++m;
    }
    month = m;
    day = int(n + 1);
}

std::mutex gNowMutex;
std::optional<TDateTime> gFixedNow;

std::string Digits(int v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    return buf;
}

// Splits into whole days and milliseconds of the day, rounding to the millisecond.
void SplitMs(TDateTime d, int64_t& days, int64_t& ms) {
    double v = d.Value();
    double whole = std::trunc(v);
    double frac = std::fabs(v - whole);
    days = int64_t(whole);
    ms = std::llround(frac * kMsPerDay);
    if (ms >= int64_t(kMsPerDay)) {
        // rounding reached the next midnight
        ms -= int64_t(kMsPerDay);
        days += 1;
    }
}

bool ParseFixedDigits(const std::string& s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

} // namespace

int TDateTime::DatePart() const { return int(std::trunc(Value())); }

double TDateTime::TimePart() const {
    double v = Value();
    return std::fabs(v - std::trunc(v));
}

bool TDateTime::HasTime() const {
    if (null_) return false;
    int64_t days, ms;
    SplitMs(*this, days, ms);
    return ms != 0;
}

TDateTime TDateTime::DateOnly() const {
    if (null_) return *this;
    return FromValue(std::trunc(v_));
}

std::partial_ordering TDateTime::operator<=>(const TDateTime& o) const {
    if (null_ || o.null_) {
        if (null_ && o.null_) return std::partial_ordering::equivalent;
        return null_ ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    return v_ <=> o.v_;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int dim[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && IsLeapYear(year)) return 29;
    return dim[month - 1];
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (!IsValidDate(year, month, day)) return false;
    out = TDateTime::FromValue(double(Ordinal(year, month, day) - kEpochOrdinal));
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime d;
    if (!TryEncodeDate(year, month, day, d))
        throw Error("Ungültiges Datum: " + Digits(day, 2) + "." + Digits(month, 2) + "." + Digits(year, 4));
    return d;
}

double EncodeTime(int hour, int minute, int second, int ms) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999)
        throw Error("Ungültige Uhrzeit: " + Digits(hour, 2) + ":" + Digits(minute, 2) + ":" + Digits(second, 2));
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + ms) / kMsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    double date = EncodeDate(year, month, day).Value();
    double time = EncodeTime(hour, minute, second, ms);
    return TDateTime::FromValue(date < 0 ? date - time : date + time);
}

DateParts Decode(TDateTime d) {
    DateParts p;
    if (d.IsNull()) return p;
    int64_t days, ms;
    SplitMs(d, days, ms);
    OrdinalToDate(days + kEpochOrdinal, p.year, p.month, p.day);
    p.hour = int(ms / 3600000);
    p.minute = int(ms / 60000 % 60);
    p.second = int(ms / 1000 % 60);
    p.millisecond = int(ms % 1000);
    return p;
}

int DayOfWeek(TDateTime d) {
    int64_t days, ms;
    SplitMs(d, days, ms);
    // 30.12.1899 was a Saturday (7).
    int64_t r = ((days % 7) + 7 + 6) % 7;   // 0 = Sunday
    return int(r) + 1;
}

TDateTime IncDays(TDateTime d, double days) {
    if (d.IsNull()) return d;
    return TDateTime::FromValue(d.Value() + days);
}

TDateTime IncMilliseconds(TDateTime d, int64_t ms) {
    if (d.IsNull()) return d;
    DateParts p = Decode(d);
    int64_t days = Ordinal(p.year, p.month, p.day) - kEpochOrdinal;
    int64_t total = days * int64_t(kMsPerDay) + ((int64_t(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 +
                    p.millisecond + ms;
    int64_t nd = total >= 0 ? total / int64_t(kMsPerDay) : -((-total + int64_t(kMsPerDay) - 1) / int64_t(kMsPerDay));
    int64_t rest = total - nd * int64_t(kMsPerDay);
    double time = double(rest) / kMsPerDay;
    double date = double(nd);
    return TDateTime::FromValue(date < 0 ? date - time : date + time);
}

void SetFixedNow(std::optional<TDateTime> fixed) {
    std::lock_guard<std::mutex> lock(gNowMutex);
    gFixedNow = fixed;
}

TDateTime FromTimeT(int64_t seconds, int nanoseconds) {
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec > 59 ? 59 : tm.tm_sec, nanoseconds / 1000000);
}

int64_t ToTimeT(TDateTime d) {
    DateParts p = Decode(d);
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm));
}

TDateTime Now() {
    {
        std::lock_guard<std::mutex> lock(gNowMutex);
        if (gFixedNow) return *gFixedNow;
    }
    auto now = std::chrono::system_clock::now();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    return FromTimeT(ns / 1000000000, int(ns % 1000000000));
}

TDateTime Today() { return Now().DateOnly(); }

std::string FormatYYYYMMDD(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return Digits(p.year, 4) + Digits(p.month, 2) + Digits(p.day, 2);
}

std::string FormatDDMMYYYY(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return Digits(p.day, 2) + "." + Digits(p.month, 2) + "." + Digits(p.year, 4);
}

std::string FormatShortDate(TDateTime d) { return FormatDDMMYYYY(d); }

std::string FormatHHNNSS(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return Digits(p.hour, 2) + ":" + Digits(p.minute, 2) + ":" + Digits(p.second, 2);
}

std::string FormatDateTimeDE(TDateTime d) {
    if (d.IsNull()) return "";
    std::string s = FormatDDMMYYYY(d);
    if (d.HasTime()) s += " " + FormatHHNNSS(d);
    return s;
}

std::string FormatStamp(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return FormatYYYYMMDD(d) + "_" + Digits(p.hour, 2) + Digits(p.minute, 2) + Digits(p.second, 2) +
           Digits(p.millisecond, 3);
}

std::string FormatYYYYMMDDHHNNSS(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return FormatYYYYMMDD(d) + Digits(p.hour, 2) + Digits(p.minute, 2) + Digits(p.second, 2);
}

std::string FormatBackupName(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return FormatYYYYMMDD(d) + "-" + Digits(p.hour, 2) + Digits(p.minute, 2) + Digits(p.second, 2);
}

std::string FormatHHNN(TDateTime d) {
    if (d.IsNull()) return "";
    DateParts p = Decode(d);
    return Digits(p.hour, 2) + Digits(p.minute, 2);
}

std::string GermanWeekdayShort(TDateTime d) {
    static const char* names[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    if (d.IsNull()) return "";
    return names[DayOfWeek(d) - 1];
}

std::string FormatWeekdayDate(TDateTime d) {
    if (d.IsNull()) return "";
    return GermanWeekdayShort(d) + ", " + FormatDDMMYYYY(d);
}

std::optional<TDateTime> ParseYYYYMMDD(const std::string& s) {
    int y, m, d;
    if (s.size() != 8 || !ParseFixedDigits(s, 0, 4, y) || !ParseFixedDigits(s, 4, 2, m) ||
        !ParseFixedDigits(s, 6, 2, d))
        return std::nullopt;
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r)) return std::nullopt;
    return r;
}

std::optional<TDateTime> ParseDDMMYYYY(const std::string& s) {
    // D.M.YYYY or DD.MM.YYYY
    size_t p1 = s.find('.');
    if (p1 == std::string::npos || p1 == 0 || p1 > 2) return std::nullopt;
    size_t p2 = s.find('.', p1 + 1);
    if (p2 == std::string::npos || p2 == p1 + 1 || p2 - p1 - 1 > 2) return std::nullopt;
    if (s.size() - p2 - 1 != 4) return std::nullopt;
    int d, m, y;
    if (!ParseFixedDigits(s, 0, p1, d) || !ParseFixedDigits(s, p1 + 1, p2 - p1 - 1, m) ||
        !ParseFixedDigits(s, p2 + 1, 4, y))
        return std::nullopt;
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r)) return std::nullopt;
    return r;
}

std::optional<TDateTime> ParseStamp(const std::string& s) {
    int y, mo, d, h, mi, se, ms;
    if (s.size() != 18 || s[8] != '_' || !ParseFixedDigits(s, 0, 4, y) || !ParseFixedDigits(s, 4, 2, mo) ||
        !ParseFixedDigits(s, 6, 2, d) || !ParseFixedDigits(s, 9, 2, h) || !ParseFixedDigits(s, 11, 2, mi) ||
        !ParseFixedDigits(s, 13, 2, se) || !ParseFixedDigits(s, 15, 3, ms))
        return std::nullopt;
    if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || se > 59) return std::nullopt;
    return EncodeDateTime(y, mo, d, h, mi, se, ms);
}

std::optional<TDateTime> ParseYYYYMMDDHHNNSS(const std::string& s) {
    int y, mo, d, h, mi, se;
    if (s.size() != 14 || !ParseFixedDigits(s, 0, 4, y) || !ParseFixedDigits(s, 4, 2, mo) ||
        !ParseFixedDigits(s, 6, 2, d) || !ParseFixedDigits(s, 8, 2, h) || !ParseFixedDigits(s, 10, 2, mi) ||
        !ParseFixedDigits(s, 12, 2, se))
        return std::nullopt;
    if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || se > 59) return std::nullopt;
    return EncodeDateTime(y, mo, d, h, mi, se, 0);
}

} // namespace brenvo
