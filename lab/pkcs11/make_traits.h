// What each make of token offers: key generation parameter sets, mechanisms,
// manufacturer, and the make's own token flags.
#pragma once

#include <string>
#include <vector>

#include "state.h"

namespace labtoken
{

// A key pair mechanism and the parameter sets (OIDs) the make generates with it.
struct GenRule {
    CK_MECHANISM_TYPE mechanism;
    std::vector<std::string> paramSets;
};
std::vector<GenRule> gostGenRules();
bool hasRsa();
std::vector<CK_MECHANISM_TYPE> mechanisms();
bool supports(CK_MECHANISM_TYPE m);
std::string manufacturer();
// CK_TOKEN_INFO flags of a device: PIN states, and MS_KEY K's tries in bits 12-15.
CK_ULONG tokenFlags(const Device& d);

} // namespace labtoken
