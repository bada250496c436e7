// Key-store selection as Session.setKeystore does it.
#pragma once

#include <string>

#include "cryptoprovider/provider/crypto_provider.h"

namespace jni
{

// The provider's selectKeyStore; a missing device becomes std::runtime_error
// "BS-008005" naming the id that was asked for, other failures pass as they are.
void selectKeyStore(ICryptoProvider& provider, KeyStoreType type, const std::string& id, bool createNew);

} // namespace jni
