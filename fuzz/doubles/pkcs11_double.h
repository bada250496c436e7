// A PKCS#11 module whose every return value, count, length and output byte
// comes from fuzzdouble::current: slots and token information (the vendor's
// extended information too), sessions and logins, object searches and
// attribute values, key generation, signing, verification and digests.
#pragma once

#include <memory>
#include <string>

class Pkcs11;

namespace fuzzdouble
{

// A fresh module over the double (C_Initialize answered from the input),
// put into the module cache under `path`. Pkcs11LoadError when the double
// refuses the initialisation.
std::shared_ptr<Pkcs11> supplyPkcs11(const std::string& path);

// The PC/SC double in place (installPcsc) and the JaCarta folder pointed at
// an empty companion library, so that every token make can be built on the
// doubles. Once, before the first input.
void installTokenDoubles();

} // namespace fuzzdouble
