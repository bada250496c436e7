// Internals shared by the lab token modules (one implementation, three
// vendor behaviours chosen by the family each module is built for).
#pragma once

#include "cryptoprovider/pkcs11/pkcs11_types.h"

#define LAB_EXPORT extern "C" __attribute__((visibility("default")))

namespace labtoken
{
// "rutoken", "angara" or "jacarta": defined once in each module.
const char* moduleFamily();
// Fills the Rutoken extended token information.
CK_RV getTokenInfoExtended(CK_SLOT_ID slot, pkcs11::TokenInfoExtended* info);
} // namespace labtoken
