// Card faces of the PKCS#11 lab tokens: the same device state as the token.
#pragma once

#include <memory>
#include <string>

#include "cards.h"

namespace lab
{

// kind "rutoken" or "jacarta"; `serial` names the device in the lab's device
// directory. std::runtime_error when the device is missing or of another make.
std::unique_ptr<Card> makeTokenCard(const std::string& kind, const std::string& stateDir,
                                    const std::string& serial);

} // namespace lab
