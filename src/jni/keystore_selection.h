// Key-store selection and key creation as Session.setKeystore and
// Session.createNewKey do them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cryptoprovider/provider/crypto_provider.h"

namespace jni
{

// The provider's selectKeyStore for the kind of store a Java int names; a
// missing device becomes std::runtime_error "BS-008005" naming the id that
// was asked for, other failures pass as they are. A kind no store has ends in
// KeyStoreNotSelected and, like every failed selection, leaves nothing
// selected (a token selected before is no longer used).
void selectKeyStore(ICryptoProvider& provider, std::int32_t type, const std::string& id, bool createNew);

// A new key in the selected store: KeyStoreNotSelected without a store; the
// key gets the low 16 bits of `systemId`; a store whose random generator
// still needs seeding refuses with "Требуется инициализация ПДСЧ".
void createNewKey(ICryptoProvider& provider, const std::string& alias, std::int32_t systemId,
                  const std::string& signAlgorithmOid, const std::string& algParamsOid,
                  std::wstring_view password);

} // namespace jni
