// Which crypto means are present on the machine: the devices in the
// smart-card readers and the CSP.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cryptoprovider/core/crypto_types.h"

class KeyStore;

// Crypto type ids of the devices in the readers and of the installed CSP,
// sorted byte-wise without duplicates; with a non-empty `filter` only the
// ids it names. Never fails as a whole: a reader or CSP probe that fails is
// left out, and no PC/SC service means no devices.
std::vector<std::string> getAvailableCrypto(const std::vector<std::string>& filter);

namespace crypto
{

// Container names of the CSP for type 2; FunctionNotImplemented for any
// other type.
std::vector<std::string> getContainers(KeyStoreType type);

// Version text of a crypto means: the CSP's version for "cryptopro", the
// model number of the device of that crypto type among `keyStores` for a
// token or "ovt" (DeviceNotFound when none is there), empty for any other id.
std::string getVersion(std::string_view id,
                       const std::map<std::string, std::shared_ptr<KeyStore>>& keyStores);

} // namespace crypto
