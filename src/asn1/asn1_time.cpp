#include "asn1/asn1_time.h"

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
