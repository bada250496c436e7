// Calendar date with validation and a "YYYY-MM-DD" text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class Date
{
  public:
    // Today in local time.
    Date();
    // Validated; see checkDate.
    Date(int day, int month, int year);
    // The UTC date of the file's status-change time, not validated;
    // std::runtime_error "Error getting file creation date" when the file
    // cannot be examined.
    explicit Date(std::string_view path);

    // std::runtime_error with a fixed English text unless the day lies in
    // 1..31, the month in 1..12, the year in 1901..2099 and the day exists in
    // that month.
    void checkDate() const;

    // Day count growing by one per calendar day; for differences and order.
    std::int64_t toDays() const;
    bool isLeapYear() const;
    bool is30dayMonth() const;

    // "%Y-%m-%d".
    std::string dump() const;
    // Year, one separator, month, one separator, day ("2021-03-05",
    // "2021/3/5"); validated.
    static Date fromDump(std::string_view text);

    std::uint32_t day() const noexcept { return m_day; }
    std::uint32_t month() const noexcept { return m_month; }
    std::uint32_t year() const noexcept { return m_year; }

    bool operator==(const Date& other) const noexcept
    {
        return m_day == other.m_day && m_month == other.m_month && m_year == other.m_year;
    }
    bool operator!=(const Date& other) const noexcept { return !(*this == other); }
    bool operator<(const Date& other) const { return toDays() < other.toDays(); }
    bool operator<=(const Date& other) const { return toDays() <= other.toDays(); }
    bool operator>(const Date& other) const { return toDays() > other.toDays(); }
    bool operator>=(const Date& other) const { return toDays() >= other.toDays(); }

  private:
    struct Unchecked {
    };
    Date(Unchecked, std::uint32_t day, std::uint32_t month, std::uint32_t year) noexcept
        : m_day(day), m_month(month), m_year(year)
    {
    }

    std::uint32_t m_day = 0;
    std::uint32_t m_month = 0;
    std::uint32_t m_year = 0;
};
