// Fixture of the token key store tests: one lab Rutoken in a private lab
// folder, a LabStore on it with the PIN set, and readers of what the lab
// keeps on the token.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/conv.h"
#include "base/encoding.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "lab_store.h"
#include "token_lab.h"

namespace storelab
{

inline const AlgorithmId& GOST256 = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
inline const AlgorithmId& GOST512 = GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
inline const char* const CRYPTOPRO_A = "1.2.643.2.2.35.1";
inline const char* const TC26_512_A = "1.2.643.7.1.2.1.2.1";

// PKCS#11 attribute types as the lab stores them.
inline constexpr std::uint64_t LAB_CKA_CLASS = 0x00;
inline constexpr std::uint64_t LAB_CKA_LABEL = 0x03;
inline constexpr std::uint64_t LAB_CKA_VALUE = 0x11;
inline constexpr std::uint64_t LAB_CKA_ID = 0x102;

inline bytes cp1251(std::string_view utf8)
{
    const std::string text = encoding::utf8_to_cp1251(utf8);
    return bytes(text.begin(), text.end());
}

class StoreLab : public tokenlab::TokenLab
{
  protected:
    void SetUp() override
    {
        TokenLab::SetUp();
        addDevice("rutoken-ecp-2", SERIAL);
        module();
        store = makeStore();
        store->setPin(PIN);
    }

    std::shared_ptr<LabStore> makeStore()
    {
        return std::make_shared<LabStore>(tokenlab::modulePath("rutoken"), devices(), SERIAL);
    }

    std::shared_ptr<KeyRecord> create(const std::string& alias, std::wstring_view password = L"secret",
                                      const AlgorithmId& algorithm = GOST256,
                                      const std::string& paramSet = CRYPTOPRO_A)
    {
        return store->createNewKey(alias, 7, algorithm, paramSet, "", password);
    }

    std::vector<labdev::TokenObject> objectsOfClass(std::uint64_t objectClass) const
    {
        std::vector<labdev::TokenObject> found;
        for (const labdev::TokenObject& object : devices().load(SERIAL).objects) {
            if (object.get(LAB_CKA_CLASS) == pkcs11::ulongValue(objectClass))
                found.push_back(object);
        }
        return found;
    }
    // CKA_VALUE of the public key object with this CKA_ID; empty when none.
    bytes publicValue(const bytes& id) const
    {
        for (const auto& object : objectsOfClass(CKO_PUBLIC_KEY)) {
            if (object.get(LAB_CKA_ID) == id)
                return object.get(LAB_CKA_VALUE);
        }
        return {};
    }
    // A Faktura data object ("ftcgpk") with this value.
    void addFakturaObject(const bytes& value)
    {
        devices().update(SERIAL, [&](labdev::Device& device) {
            device.addObject({{LAB_CKA_CLASS, pkcs11::DATA_VALUE},
                              {CKA_TOKEN, {1}},
                              {CKA_PRIVATE, {0}},
                              {LAB_CKA_LABEL, pkcs11::FAKTURA_LABEL},
                              {LAB_CKA_VALUE, value}});
        });
    }

    // CKA_IDs of the token's private keys, in object order.
    std::vector<bytes> privateKeyIds() const
    {
        std::vector<bytes> ids;
        for (const auto& object : objectsOfClass(CKO_PRIVATE_KEY))
            ids.push_back(object.get(LAB_CKA_ID));
        return ids;
    }

    labdev::TokenObject privateKeyObject(const bytes& id) const
    {
        for (const auto& object : objectsOfClass(CKO_PRIVATE_KEY)) {
            if (object.get(LAB_CKA_ID) == id)
                return object;
        }
        ADD_FAILURE() << "no private key " << conv::bytes_to_hex(id);
        return {};
    }

    // The container the private key's label holds.
    MetaInfoContainer container(const bytes& id) const
    {
        const bytes label = privateKeyObject(id).get(LAB_CKA_LABEL);
        return MetaInfoContainer(std::string_view(reinterpret_cast<const char*>(label.data()), label.size()),
                                 false);
    }

    void setLabel(const bytes& id, const bytes& label)
    {
        devices().update(SERIAL, [&](labdev::Device& device) {
            for (auto& object : device.objects) {
                if (object.get(LAB_CKA_ID) == id &&
                    object.get(LAB_CKA_CLASS) == pkcs11::ulongValue(CKO_PRIVATE_KEY))
                    object.attributes[LAB_CKA_LABEL] = label;
            }
        });
    }

    std::size_t countCalls(const std::string& function) const
    {
        const std::string log = callLog();
        std::size_t count = 0;
        for (std::size_t at = log.find(" " + function + " "); at != std::string::npos;
             at = log.find(" " + function + " ", at + 1))
            ++count;
        return count;
    }

    std::shared_ptr<LabStore> store;
};

} // namespace storelab
