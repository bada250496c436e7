// Message catalogue of the Java interface and the process-wide language
// switch of every catalogue.
#pragma once

#include <array>

#include "base/error.h"
#include "base/localization.h"

namespace ormid_signer
{

// Codes "BS-" and six digits.
extern const Localization localization;

// Every message catalogue of the library, lowest module first.
std::array<const Localization*, 8> allCatalogues();

// Sets the message language of all catalogues. Only Russian and English
// have texts: any other value is rejected with std::invalid_argument
// ("BS-006003") and the language stays as it was.
void setLanguageEverywhere(Language language);

} // namespace ormid_signer
