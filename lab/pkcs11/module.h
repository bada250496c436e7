// Internals shared by the lab token modules (one implementation, three
// vendor behaviours chosen by the family each module is built for), split by
// concern: state.h (module state, sessions, devices), attributes.h,
// make_traits.h (what each make offers), calls.h (call log, fault injection)
// and the C_ functions by area: slots.cpp, sessions.cpp, objects.cpp,
// keys.cpp, signatures.cpp, digests.cpp, unsupported.cpp.
#pragma once

#include "cryptoprovider/pkcs11/pkcs11_types.h"

#define LAB_EXPORT extern "C" __attribute__((visibility("default")))

// Every function of the standard list, exported by each module.
#define LAB_DECLARE_FUNCTION(name, params) LAB_EXPORT CK_RV name params;
ORMID_PKCS11_FUNCTIONS(LAB_DECLARE_FUNCTION)
#undef LAB_DECLARE_FUNCTION

// Test probes (handles.cpp): sessions and session objects open in this process.
LAB_EXPORT unsigned long ormid_lab_open_sessions(void);
LAB_EXPORT unsigned long ormid_lab_open_objects(void);

namespace labtoken
{
// "rutoken", "angara" or "jacarta": defined once in each module.
const char* moduleFamily();
// Fills the Rutoken extended token information.
CK_RV getTokenInfoExtended(CK_SLOT_ID slot, pkcs11::TokenInfoExtended* info);

// Internal early return with a PKCS#11 code: thrown anywhere below an
// exported call, turned into its return value by call() (calls.h).
struct Fail {
    CK_RV rv;
};
[[noreturn]] inline void fail(CK_RV rv)
{
    throw Fail{rv};
}
} // namespace labtoken
