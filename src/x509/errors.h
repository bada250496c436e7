// Message catalogue and exception classes of the algorithm catalogue,
// certificates, public keys and certificate requests.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"
#include "base/localization.h"

namespace x509
{

// Codes "X509-" and six digits (and the lower-case "x509-004001").
extern const Localization localization;

} // namespace x509

class UnknownAlgorithm : public bs::LookedUpError
{
  public:
    UnknownAlgorithm() noexcept : LookedUpError(x509::localization, "X509-000001") {}
};

// Names the algorithm; without a name it reads as UnknownAlgorithm.
class UnsupportedAlgorithm : public bs::ComposedError
{
  public:
    explicit UnsupportedAlgorithm(std::string_view name);
    // The name or OID text that was not found.
    const std::string& algorithm() const noexcept { return m_algorithm; }

  private:
    std::string m_algorithm;
};

class Gost3410ECParamsIncompatible : public bs::LookedUpError
{
  public:
    Gost3410ECParamsIncompatible() noexcept : LookedUpError(x509::localization, "X509-000003") {}
};

class ParsePkcs10Error : public bs::LookedUpError
{
  public:
    ParsePkcs10Error() noexcept : LookedUpError(x509::localization, "X509-001001") {}
};

class X509ParseError : public bs::LookedUpError
{
  public:
    X509ParseError() noexcept : LookedUpError(x509::localization, "X509-002001") {}
};

class Gost3410ECParamsEmpty : public bs::LookedUpError
{
  public:
    Gost3410ECParamsEmpty() noexcept : LookedUpError(x509::localization, "X509-003001") {}
};

class Gost3410ECParamsUnknown : public bs::LookedUpError
{
  public:
    Gost3410ECParamsUnknown() noexcept : LookedUpError(x509::localization, "X509-003002") {}
};

// Names the parameter set that is not supported.
class Gost3410ECParamsUnsupported : public bs::ComposedError
{
  public:
    explicit Gost3410ECParamsUnsupported(std::string_view paramSet);
    // The parameter-set text that was not recognised.
    const std::string& oid() const noexcept { return m_oid; }

  private:
    std::string m_oid;
};

class UnknownPublicKeyType : public bs::LookedUpError
{
  public:
    UnknownPublicKeyType() noexcept : LookedUpError(x509::localization, "x509-004001") {}
};
