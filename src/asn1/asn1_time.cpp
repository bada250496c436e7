#include "asn1/asn1_time.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "asn1/errors.h"
#include "asn1/tlv.h"
#include "base/localization.h"

namespace
{

constexpr std::uint8_t UTC_TIME = 0x17;
constexpr std::uint8_t GENERALIZED_TIME = 0x18;

std::tm nowUtc()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    return parts;
}

std::string format(const std::tm& t, std::uint8_t tag)
{
    const int year = t.tm_year + 1900;
    char buffer[32];
    if (tag == UTC_TIME) {
        // Two-digit year counted from 2000 (the 1950-1999 range reads back
        // through the century rule of the comparisons).
        const int yy = ((year - 2000) % 100 + 100) % 100;
        std::snprintf(buffer, sizeof buffer, "%02d%02d%02d%02d%02d%02dZ", yy, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02dZ", year, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    }
    return buffer;
}

bool allDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

[[noreturn]] void badTime(std::string_view text)
{
    throw std::invalid_argument("unsupported time form \"" + std::string(text) + "\"");
}

} // namespace

std::string utc_to_generalized(std::string_view time)
{
    if (time.empty()) {
        return {};
    }
    if (time.size() == 15 && time.back() == 'Z') {
        return std::string(time);
    }
    const std::string century = time.substr(0, 2) < "50" ? "20" : "19";
    return century + std::string(time);
}

Asn1Time::Asn1Time()
{
    const std::tm t = nowUtc();
    const int year = t.tm_year + 1900;
    m_tag = (year >= 1950 && year <= 2049) ? UTC_TIME : GENERALIZED_TIME;
    m_time = format(t, m_tag);
}

Asn1Time::Asn1Time(std::uint8_t tag)
{
    if (tag != UTC_TIME && tag != GENERALIZED_TIME) {
        throw std::logic_error("Некорректный ASN.1 тэг");
    }
    m_tag = tag;
    m_time = format(nowUtc(), tag);
}

Asn1Time::Asn1Time(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    if (text.size() == 15 && text.back() == 'Z') {
        m_tag = GENERALIZED_TIME;
    } else if (text.size() == 13 && text.back() == 'Z') {
        m_tag = UTC_TIME;
    } else {
        throw bs::standardError<std::invalid_argument>(asn1::localization, "ASN1-001002");
    }
    m_time = text;
}

bytes Asn1Time::derEncoding() const
{
    return Tlv(m_tag, bytes(m_time.begin(), m_time.end())).data();
}

std::string Asn1Time::generalized() const
{
    return utc_to_generalized(m_time);
}

std::string Asn1Time::calendareDate() const
{
    if (m_time.empty()) {
        return {};
    }
    const std::string g = generalized();
    return bs::replace("%1.%2.%3", g.substr(6, 2), g.substr(4, 2), g.substr(0, 4));
}

Date Asn1Time::date() const
{
    if (m_time.empty()) {
        return Date::fromDump("");
    }
    const std::string g = generalized();
    return Date::fromDump(bs::replace("%1-%2-%3", g.substr(0, 4), g.substr(4, 2), g.substr(6, 2)));
}

std::string derTimeText(std::uint8_t tag, std::string_view text)
{
    const std::size_t yearDigits = tag == UTC_TIME ? 2 : tag == GENERALIZED_TIME ? 4 : 0;
    if (yearDigits == 0) {
        badTime(text);
    }
    // The canonical form, as before: digits and 'Z'.
    const std::size_t canonical = yearDigits + 11;
    if (text.size() == canonical && text.back() == 'Z' && allDigits(text.substr(0, canonical - 1))) {
        return std::string(text);
    }
    // The zone: 'Z' or an offset of hours and minutes at the end.
    std::string_view body = text;
    int offsetMinutes = 0;
    if (!body.empty() && body.back() == 'Z') {
        body.remove_suffix(1);
    } else if (body.size() > 5 && (body[body.size() - 5] == '+' || body[body.size() - 5] == '-') &&
               allDigits(body.substr(body.size() - 4))) {
        const std::string_view zone = body.substr(body.size() - 4);
        const int hours = number(zone, 0, 2);
        const int minutes = number(zone, 2, 2);
        if (hours > 23 || minutes > 59) {
            badTime(text);
        }
        offsetMinutes = (body[body.size() - 5] == '+' ? 1 : -1) * (hours * 60 + minutes);
        body.remove_suffix(5);
    } else {
        badTime(text);
    }
    // A fraction of a second (GeneralizedTime only) is dropped.
    const std::size_t dot = body.find_first_of(".,");
    if (dot != std::string_view::npos) {
        if (tag != GENERALIZED_TIME || dot != yearDigits + 10 || !allDigits(body.substr(dot + 1))) {
            badTime(text);
        }
        body = body.substr(0, dot);
    }
    // Date, hour and minutes, then the seconds if present.
    const std::size_t minimum = yearDigits + 8;
    if (!allDigits(body) || body.size() < minimum || body.size() > yearDigits + 10 || body.size() % 2 != 0) {
        badTime(text);
    }
    std::tm parts{};
    const int year = number(body, 0, yearDigits);
    parts.tm_year = (tag == UTC_TIME ? (year < 50 ? 2000 + year : 1900 + year) : year) - 1900;
    parts.tm_mon = number(body, yearDigits, 2) - 1;
    parts.tm_mday = number(body, yearDigits + 2, 2);
    parts.tm_hour = number(body, yearDigits + 4, 2);
    parts.tm_min = body.size() >= yearDigits + 8 ? number(body, yearDigits + 6, 2) : 0;
    parts.tm_sec = body.size() >= yearDigits + 10 ? number(body, yearDigits + 8, 2) : 0;
    static constexpr int DAYS[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > DAYS[parts.tm_mon] ||
        parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 59) {
        badTime(text);
    }
    std::tm check = parts;
    const std::time_t local = timegm(&check);
    if (check.tm_mday != parts.tm_mday) {
        badTime(text); // 29 February of a year that has none
    }
    const std::time_t utc = local - static_cast<std::time_t>(offsetMinutes) * 60;
    std::tm result{};
    gmtime_r(&utc, &result);
    const int resultYear = result.tm_year + 1900;
    return format(result,
                  tag == UTC_TIME && resultYear >= 1950 && resultYear <= 2049 ? UTC_TIME : GENERALIZED_TIME);
}
