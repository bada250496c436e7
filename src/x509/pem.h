// PEM forms of certificates and CRLs.
#pragma once

#include <string>

#include "asn1/bytes.h"

namespace cert
{
// The text contains "-----BEGIN CERTIFICATE-----".
bool isPemFormat(const bytes& data);
} // namespace cert

namespace conv
{
// DER of a PEM certificate; std::invalid_argument when it is not PEM or the
// armour or Base64 body is damaged.
bytes pem_to_x509(const bytes& pem);
// PEM text (as octets) of a DER certificate; PEM input is returned unchanged.
bytes x509_to_pem(const bytes& der);
} // namespace conv

namespace crl
{
// The text contains "-----BEGIN X509 CRL-----".
bool isPemFormat(const bytes& data);
// DER of a PEM CRL.
bytes pem_to_x509(const bytes& pem);
} // namespace crl
