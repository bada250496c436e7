// The two orders of a GOST R 34.10 signature value.
//
// Tokens and CMS messages hold a signature as s‖r (each half big-endian);
// the raw signatures handed to Java, and the form a signature takes inside a
// SignerInfo of a legacy-bank message, are r‖s. Every layer that changes
// between the two calls this one function:
// - the token back end turns what the token gives into the stored order;
// - SignerInfo keeps s‖r and gives r‖s to the legacy-bank format;
// - the key store's raw signing exchanges the halves unless legacy-bank mode
//   keeps them as the token gave them;
// - verification exchanges them back before the key checks the value.
#pragma once

#include "asn1/bytes.h"

namespace gost
{

// A‖B becomes B‖A for a value of two equal halves. A value of odd length is
// no GOST signature: it is returned as given, so that the check of the
// signature (not this exchange) rejects it.
bytes swapSignatureHalves(const bytes& signature);

} // namespace gost
