// Whether a token of a make is reachable through its PKCS#11 module.
#pragma once

#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace pkcs11
{

// The first slot of the Rutoken module whose token reports token class 1
// (ECP) in its extended information. DeviceNotFound when none does;
// Pkcs11LoadError without the module.
CK_SLOT_ID findRutokenEcp();
// The first slot of the JaCarta module whose token model begins with
// "JaCarta GOST 2.0". DeviceNotFound when none does.
CK_SLOT_ID findCryptoTokenEP2();

} // namespace pkcs11
