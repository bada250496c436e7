// ASN.1 UTCTime / GeneralizedTime values held as their DER text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "asn1/bytes.h"
#include "base/date.h"

class Asn1Time
{
  public:
    // The current time: UTCTime for the years 1950-2049, else GeneralizedTime.
    Asn1Time();
    // The current time with the given tag (0x17 or 0x18); std::logic_error
    // for any other tag.
    explicit Asn1Time(std::uint8_t tag);
    // YYMMDDhhmmssZ or YYYYMMDDhhmmssZ; empty text gives an empty time;
    // anything else raises std::invalid_argument. Digits are not checked.
    explicit Asn1Time(std::string_view text);

    std::uint8_t tag() const noexcept { return m_tag; }
    const std::string& time() const noexcept { return m_time; }
    bool empty() const noexcept { return m_time.empty(); }

    bytes derEncoding() const;
    // DD.MM.YYYY; empty for an empty time.
    std::string calendareDate() const;
    Date date() const;
    // The text with a four-digit year (UTCTime 50-99 is 19xx, 00-49 20xx).
    std::string generalized() const;

    friend bool operator==(const Asn1Time& a, const Asn1Time& b)
    {
        return a.generalized() == b.generalized();
    }
    friend bool operator!=(const Asn1Time& a, const Asn1Time& b) { return !(a == b); }
    friend bool operator<(const Asn1Time& a, const Asn1Time& b) { return a.generalized() < b.generalized(); }
    friend bool operator<=(const Asn1Time& a, const Asn1Time& b) { return !(b < a); }
    friend bool operator>(const Asn1Time& a, const Asn1Time& b) { return b < a; }
    friend bool operator>=(const Asn1Time& a, const Asn1Time& b) { return !(a < b); }

  private:
    std::uint8_t m_tag = 0;
    std::string m_time;
};

struct ValidityPeriod {
    Asn1Time notBefore;
    Asn1Time notAfter;
};

// The text of a time value read from DER (`tag` UTCTime or GeneralizedTime)
// in the form Asn1Time holds, from the forms certificates carry in practice:
// UTCTime YYMMDDhhmm[ss] and GeneralizedTime YYYYMMDDhhmm[ss[.fff]], each
// ending in 'Z' or an offset +hhmm / -hhmm. Missing minutes and seconds are
// 00, a fraction of a second is dropped and an offset is taken off, so the
// result is UTC: YYMMDDhhmmssZ for a UTCTime that stays within 1950-2049,
// else YYYYMMDDhhmmssZ. The two canonical forms pass unchanged (their digits
// unchecked, as before); anything else, a time without 'Z' or offset (local
// time) included, raises std::invalid_argument.
std::string derTimeText(std::uint8_t tag, std::string_view text);

// GeneralizedTime form of a UTCTime or GeneralizedTime text.
std::string utc_to_generalized(std::string_view time);
