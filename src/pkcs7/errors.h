// Message catalogue and exception classes of CMS and PKCS#9 attributes.
#pragma once

#include <string>
#include <string_view>

#include "asn1/oid.h"
#include "base/error.h"
#include "base/localization.h"

namespace pkcs
{

// Codes "PKCS-" and six digits.
extern const Localization localization;

} // namespace pkcs

class IncorrectPKCS9Attribute : public bs::LookedUpError
{
  public:
    IncorrectPKCS9Attribute() noexcept : LookedUpError(pkcs::localization, "PKCS-000001") {}
};

// A CMS container that cannot be parsed; `detail` says why.
class ParseCmsContainerError : public bs::ComposedError
{
  public:
    explicit ParseCmsContainerError(std::string_view detail);
};

namespace pkcs9
{

// A single-valued attribute that carries several values.
class SingleValuedException : public bs::ComposedError
{
  public:
    explicit SingleValuedException(const ObjectIdentifier& oid)
        : SingleValuedException(std::string_view(oid.text()))
    {
    }
    explicit SingleValuedException(std::string_view dottedOid);
    const std::string& oid() const noexcept { return m_oid; }

  private:
    std::string m_oid;
};

// An attribute that was asked for and is absent.
class NoAttribute : public bs::ComposedError
{
  public:
    explicit NoAttribute(const ObjectIdentifier& oid) : NoAttribute(std::string_view(oid.text())) {}
    explicit NoAttribute(std::string_view dottedOid);
    const std::string& oid() const noexcept { return m_oid; }

  private:
    std::string m_oid;
};

} // namespace pkcs9
