#include "archive/archive_time.h"

#include <cctype>
#include <cstdlib>

namespace {

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t k = at; k < at + count; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
        value = value * 10 + (text[k] - '0');
    }
    return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date (the proleptic Gregorian calendar).
long long DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

bool DaysOfTime(const std::string& text, double& days) {
    int year = 0, month = 0, day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, month) ||
        text[7] != '-' || !Digits(text, 8, 2, day))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    double seconds = 0.0;
    if (text.size() > 10) {
        int hour = 0, minute = 0, second = 0;
        if (text.size() < 19 || text[10] != 'T' || !Digits(text, 11, 2, hour) || text[13] != ':' ||
            !Digits(text, 14, 2, minute) || text[16] != ':' || !Digits(text, 17, 2, second))
            return false;
        if (hour > 23 || minute > 59 || second > 60) return false;
        double fraction = 0.0;
        if (text.size() > 19) {
            if (text[19] != '.' || text.size() == 20) return false;
            double scale = 0.1;
            for (std::size_t k = 20; k < text.size(); ++k, scale /= 10.0) {
                if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
                fraction += (text[k] - '0') * scale;
            }
        }
        seconds = hour * 3600.0 + minute * 60.0 + second + fraction;
    }
    days = static_cast<double>(DaysFromCivil(year, month, day)) + seconds / 86400.0;
    return true;
}

bool IsoDayOfCompactDate(const std::string& compact, std::string& day) {
    if (compact.size() != 8) return false;
    const std::string iso = compact.substr(0, 4) + "-" + compact.substr(4, 2) + "-" + compact.substr(6, 2);
    double days = 0.0;
    if (!DaysOfTime(iso, days)) return false;
    day = iso;
    return true;
}
