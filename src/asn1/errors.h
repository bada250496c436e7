// Message catalogue and exception classes of the DER codec and ASN.1 time.
#pragma once

#include "base/error.h"
#include "base/localization.h"

namespace asn1
{

// Codes "ASN1-" and six digits.
extern const Localization localization;

} // namespace asn1

class Asn1DecodingError : public bs::LookedUpError
{
  public:
    Asn1DecodingError() noexcept : LookedUpError(asn1::localization, "ASN1-001001") {}
};
