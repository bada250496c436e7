#include "base/date.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace
{

Date fromTm(const std::tm& tm)
{
    return Date(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
}

// Reads decimal digits at `pos`; a missing or oversized number gives 0, which
// validation then rejects.
std::uint32_t readNumber(std::string_view text, std::size_t& pos)
{
    std::uint32_t value = 0;
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc()) {
        // Skip the digits of an oversized number so the fields that follow
        // are not read out of place.
        const char* p = first;
        while (p != last && *p >= '0' && *p <= '9') {
            ++p;
        }
        pos += static_cast<std::size_t>(p - first);
        return 0;
    }
    pos += static_cast<std::size_t>(end - first);
    return value;
}

} // namespace

Date::Date()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (::localtime_r(&now, &tm) == nullptr) {
        throw std::runtime_error("Error getting current date");
    }
    *this = fromTm(tm);
}

Date::Date(int day, int month, int year)
    : m_day(static_cast<std::uint32_t>(day)), m_month(static_cast<std::uint32_t>(month)),
      m_year(static_cast<std::uint32_t>(year))
{
    checkDate();
}

Date::Date(std::string_view path)
{
    struct stat info {
    };
    const std::string file(path);
    std::tm tm{};
    if (file.find('\0') != std::string::npos || ::stat(file.c_str(), &info) != 0 ||
        ::gmtime_r(&info.st_ctime, &tm) == nullptr) {
        throw std::runtime_error("Error getting file creation date");
    }
    *this = Date(Unchecked{}, static_cast<std::uint32_t>(tm.tm_mday),
                 static_cast<std::uint32_t>(tm.tm_mon + 1), static_cast<std::uint32_t>(tm.tm_year + 1900));
}

void Date::checkDate() const
{
    if (m_day < 1 || m_day > 31) {
        throw std::runtime_error("Incorrect day");
    }
    if (m_month < 1 || m_month > 12) {
        throw std::runtime_error("Incorrect month");
    }
    if (m_year < 1901 || m_year > 2099) {
        throw std::runtime_error("Incorrect year");
    }
    if (m_month == 2 && m_day >= 29 && !(m_day == 29 && isLeapYear())) {
        throw std::runtime_error("Incorrect february day in leap year");
    }
    if (is30dayMonth() && m_day == 31) {
        throw std::runtime_error("Incorrect day in 30 day month");
    }
}

std::int64_t Date::toDays() const
{
    const std::int64_t day = m_day;
    const std::int64_t month = m_month;
    const std::int64_t year = m_year;
    return 367 * year + day + (275 * month) / 9 - (7 * (year + (month + 9) / 12)) / 4;
}

bool Date::isLeapYear() const
{
    return (m_year % 4 == 0 && m_year % 100 != 0) || m_year % 400 == 0;
}

bool Date::is30dayMonth() const
{
    return m_month == 4 || m_month == 6 || m_month == 9 || m_month == 11;
}

std::string Date::dump() const
{
    char text[40];
    const int size = std::snprintf(text, sizeof(text), "%04u-%02u-%02u", m_year, m_month, m_day);
    return std::string(text, static_cast<std::size_t>(size));
}

Date Date::fromDump(std::string_view text)
{
    std::size_t pos = 0;
    const std::uint32_t year = readNumber(text, pos);
    pos = pos < text.size() ? pos + 1 : pos; // separator
    const std::uint32_t month = readNumber(text, pos);
    pos = pos < text.size() ? pos + 1 : pos; // separator
    const std::uint32_t day = readNumber(text, pos);
    const Date date(Unchecked{}, day, month, year);
    date.checkDate();
    return date;
}
