// Message catalogue and exception classes of the software GOST algorithms.
#pragma once

#include "base/error.h"
#include "base/localization.h"

namespace icrypto
{

// Codes "IC-" and six digits.
extern const Localization localization;

class Gost3411Error : public bs::LookedUpError
{
  public:
    Gost3411Error() noexcept : LookedUpError(localization, "IC-001001") {}
};

class Gost28147CTRError : public bs::LookedUpError
{
  public:
    Gost28147CTRError() noexcept : LookedUpError(localization, "IC-001002") {}
};

class Gost28147MACError : public bs::LookedUpError
{
  public:
    Gost28147MACError() noexcept : LookedUpError(localization, "IC-001003") {}
};

class PrngError : public bs::LookedUpError
{
  public:
    PrngError() noexcept : LookedUpError(localization, "IC-001004") {}
};

class Gost28147ParamsUnknown : public bs::LookedUpError
{
  public:
    Gost28147ParamsUnknown() noexcept : LookedUpError(localization, "IC-001005") {}
};

} // namespace icrypto
