#include "cryptoprovider/pkcs11/helper.h"

#include <cstdio>
#include <stdexcept>

#include "base/conv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "x509/errors.h"
#include "x509/gost_signature.h"

namespace pkcs11
{

bytes ulongValue(CK_ULONG value)
{
    bytes out(sizeof(CK_ULONG));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, const bytes& value)
{
    return CK_ATTRIBUTE{type, const_cast<std::uint8_t*>(value.data()), value.size()};
}

std::string keyLabel(std::uint8_t id)
{
    if (id == 0)
        return {};
    char text[3];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(id));
    return text;
}

CK_MECHANISM_TYPE digestAlgorithm(const AlgorithmId& alg)
{
    static const std::pair<const AlgorithmId*, CK_MECHANISM_TYPE> MECHANISMS[] = {
        {&GOST_R_3411_1994, CKM_GOSTR3411},
        {&GOST_R_3411_2012_256, CKM_GOSTR3411_12_256},
        {&GOST_R_3411_2012_512, CKM_GOSTR3411_12_512},
        {&SHA_1, CKM_SHA_1},
        {&SHA_224, CKM_SHA224},
        {&SHA_256, CKM_SHA256},
        {&SHA_384, CKM_SHA384},
        {&SHA_512, CKM_SHA512},
    };
    for (const auto& [known, mechanism] : MECHANISMS) {
        if (*known == alg)
            return mechanism;
    }
    bs::logAndThrow(bs::Logger("pkcs11::digestAlgorithm"), UnsupportedAlgorithm(alg.name()));
}

CK_MECHANISM_TYPE keyPairGenAlgorithm(const AlgorithmId& alg)
{
    if (isGost34102001(alg) || isGost34102012_256(alg))
        return CKM_GOSTR3410_KEY_PAIR_GEN;
    if (isGost34102012_512(alg))
        return CKM_GOSTR3410_512_KEY_PAIR_GEN;
    if (alg.isSha() || alg.isRsa())
        return CKM_RSA_PKCS_KEY_PAIR_GEN;
    bs::logAndThrow(bs::Logger("pkcs11::keyPairGenAlgorithm"), UnsupportedAlgorithm(alg.name()));
}

namespace
{

// The module, after the slot list was read once in Rescan mode.
const std::shared_ptr<Pkcs11>& prepared(const std::shared_ptr<Pkcs11>& module, SessionMode mode)
{
    if (!module)
        throw std::invalid_argument("no PKCS#11 module");
    if (mode == SessionMode::Rescan)
        module->slotList(false);
    return module;
}

CK_SLOT_ID slotOf(const std::shared_ptr<Pkcs11>& module, std::string_view serial, SessionMode mode)
{
    return prepared(module, mode)->findtSlot(serial);
}

std::optional<Login> logIn(const Session& session, SessionMode mode, const bytes& pin)
{
    if (pin.empty())
        return std::nullopt;
    if (mode == SessionMode::Admin)
        return std::optional<Login>(std::in_place, session, CKU_SO, pin);
    if (mode == SessionMode::User)
        return std::optional<Login>(std::in_place, session, CKU_USER, pin);
    return std::nullopt;
}

[[noreturn]] void keyNotFound(const bs::Logger& log, const std::string& detail = "KeyNotFound")
{
    log.error(detail);
    throw KeyNotFound();
}

// A label's bytes as the Base64 text a metadata container is kept in.
std::string labelText(const bytes& label)
{
    return std::string(label.begin(), label.end());
}

// Writes a metadata container into a private key's label.
void writeContainer(const Helper& helper, CK_OBJECT_HANDLE privateKey, const MetaInfoContainer& container)
{
    const std::string text = container.base64();
    helper.writeAttribute(privateKey, bytes(text.begin(), text.end()), CKA_LABEL);
}

// Destroys a session object when the scope ends, errors ignored.
class ObjectGuard
{
  public:
    ObjectGuard(const Pkcs11& module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
        : m_module(module), m_session(session), m_object(object)
    {
    }
    ~ObjectGuard() { m_module.get()->C_DestroyObject(m_session, m_object); }
    ObjectGuard(const ObjectGuard&) = delete;
    ObjectGuard& operator=(const ObjectGuard&) = delete;

  private:
    const Pkcs11& m_module;
    CK_SESSION_HANDLE m_session;
    CK_OBJECT_HANDLE m_object;
};

} // namespace

Helper::Helper(const std::shared_ptr<Pkcs11>& module, CK_SLOT_ID slot, SessionMode mode, const bytes& pin)
    : m_mode(mode), m_session(prepared(module, mode), slot), m_login(logIn(m_session, mode, pin))
{
}

Helper::Helper(const std::shared_ptr<Pkcs11>& module, std::string_view serial, SessionMode mode,
               const bytes& pin)
    : m_mode(mode), m_session(module, slotOf(module, serial, mode)), m_login(logIn(m_session, mode, pin))
{
}

Helper::~Helper() = default;

void Helper::changePin(const bytes& oldPin, const bytes& newPin) const
{
    bs::Logger log("pkcs11::Helper::changePin");
    bytes oldCopy = oldPin;
    bytes newCopy = newPin;
    const CK_RV rv =
        module().get()->C_SetPIN(session(), oldCopy.data(), oldCopy.size(), newCopy.data(), newCopy.size());
    bs::secureZero(&oldCopy);
    bs::secureZero(&newCopy);
    ENSURE_SUCCESS(rv);
}

Helper::KeyPair Helper::generateKeyPair(const bytes& id, const AlgorithmId& alg,
                                        const ObjectIdentifier& paramSet, bool derive) const
{
    bs::Logger log("pkcs11::Helper::generateKeyPair");
    if (!alg.isGost()) {
        bs::logAndThrow(log, UnsupportedAlgorithm(alg.name()));
    }
    const CK_MECHANISM_TYPE mechanism = keyPairGenAlgorithm(alg);
    const bytes paramsDer = paramSet.derEncoding();
    const bytes digestParamsDer = getDigestAlgorithmParams(alg).derEncoding();
    std::vector<CK_ATTRIBUTE> publicTemplate{
        attribute(CKA_TOKEN, TRUE_VALUE),           attribute(CKA_ID, id),
        attribute(CKA_CLASS, PUBLIC_KEY_VALUE),     attribute(CKA_VERIFY, TRUE_VALUE),
        attribute(CKA_GOSTR3410_PARAMS, paramsDer), attribute(CKA_GOSTR3411_PARAMS, digestParamsDer),
    };
    std::vector<CK_ATTRIBUTE> privateTemplate{
        attribute(CKA_TOKEN, TRUE_VALUE),        attribute(CKA_ID, id),
        attribute(CKA_CLASS, PRIVATE_KEY_VALUE), attribute(CKA_PRIVATE, TRUE_VALUE),
        attribute(CKA_SIGN, TRUE_VALUE),         attribute(CKA_GOSTR3410_PARAMS, paramsDer),
    };
    if (derive)
        privateTemplate.push_back(attribute(CKA_DERIVE, TRUE_VALUE));
    return module().generateKeyPair(session(), mechanism, publicTemplate, privateTemplate);
}

Helper::KeyPair Helper::generateRSAKeyPair(const bytes& id, const AlgorithmId& alg, CK_ULONG bits) const
{
    bs::Logger log("pkcs11::Helper::generateRSAKeyPair");
    const CK_MECHANISM_TYPE mechanism = keyPairGenAlgorithm(alg);
    const bytes rsaType = ulongValue(CKK_RSA);
    const bytes modulusBits = ulongValue(bits);
    std::vector<CK_ATTRIBUTE> publicTemplate{
        attribute(CKA_TOKEN, TRUE_VALUE),         attribute(CKA_ID, id),
        attribute(CKA_CLASS, PUBLIC_KEY_VALUE),   attribute(CKA_KEY_TYPE, rsaType),
        attribute(CKA_ENCRYPT, TRUE_VALUE),       attribute(CKA_PRIVATE, FALSE_VALUE),
        attribute(CKA_MODULUS_BITS, modulusBits),
    };
    std::vector<CK_ATTRIBUTE> privateTemplate{
        attribute(CKA_TOKEN, TRUE_VALUE),        attribute(CKA_ID, id),
        attribute(CKA_CLASS, PRIVATE_KEY_VALUE), attribute(CKA_KEY_TYPE, rsaType),
        attribute(CKA_DECRYPT, TRUE_VALUE),      attribute(CKA_PRIVATE, TRUE_VALUE),
    };
    return module().generateKeyPair(session(), mechanism, publicTemplate, privateTemplate);
}

Helper::KeyPair Helper::findKeyByParams(const AlgorithmId&, const ObjectIdentifier& paramSet,
                                        bool derive) const
{
    bs::Logger log("pkcs11::Helper::findKeyByParams");
    const bytes paramsDer = paramSet.derEncoding();
    std::vector<CK_ATTRIBUTE> pattern{
        attribute(CKA_TOKEN, TRUE_VALUE),
        attribute(CKA_CLASS, PRIVATE_KEY_VALUE),
        attribute(CKA_PRIVATE, TRUE_VALUE),
        attribute(CKA_GOSTR3410_PARAMS, paramsDer),
    };
    if (derive)
        pattern.push_back(attribute(CKA_DERIVE, TRUE_VALUE));
    const std::vector<CK_OBJECT_HANDLE> found = findObjects(pattern);
    if (found.empty())
        keyNotFound(log);
    const CK_OBJECT_HANDLE privateKey = found.front();
    const bytes id = readAttribute(privateKey, CKA_ID);
    return {findKeyObject(id, PUBLIC_KEY_VALUE), privateKey};
}

CK_OBJECT_HANDLE Helper::findKeyObject(const bytes& id, const bytes& classValue) const
{
    bs::Logger log("pkcs11::Helper::findKeyObject");
    const auto key = std::make_pair(id, classValue);
    {
        std::lock_guard lock(m_cacheMutex);
        const auto cached = m_keyObjects.find(key);
        if (cached != m_keyObjects.end())
            return cached->second;
    }
    const std::vector<CK_OBJECT_HANDLE> found = findObjects({
        attribute(CKA_TOKEN, TRUE_VALUE),
        attribute(CKA_ID, id),
        attribute(CKA_CLASS, classValue),
    });
    if (found.empty())
        keyNotFound(log,
                    "KeyNotFound id:" + conv::bytes_to_hex(id) + " type:" + conv::bytes_to_hex(classValue));
    std::lock_guard lock(m_cacheMutex);
    m_keyObjects[key] = found.front();
    return found.front();
}

CK_OBJECT_HANDLE Helper::findPrivateKey(const X509& certificate) const
{
    try {
        return findKeyObject(certificate.id(), PRIVATE_KEY_VALUE);
    } catch (const KeyNotFound&) {
        return findPrivateKey(certificate.publicKey(Endian::Big));
    }
}

CK_OBJECT_HANDLE Helper::findPrivateKey(const PublicKey& key) const
{
    bs::Logger log("pkcs11::Helper::findPrivateKey");
    std::vector<CK_OBJECT_HANDLE> found;
    if (key.isGost()) {
        const bytes value = key.gostKey();
        found = findObjects({
            attribute(CKA_TOKEN, TRUE_VALUE),
            attribute(CKA_CLASS, PUBLIC_KEY_VALUE),
            attribute(CKA_VALUE, value),
        });
    } else if (key.isRsa()) {
        const RsaPublicKey rsa = key.rsaKey();
        const bytes exponent = rsa.exponentData();
        found = findObjects({
            attribute(CKA_TOKEN, TRUE_VALUE),
            attribute(CKA_CLASS, PUBLIC_KEY_VALUE),
            attribute(CKA_MODULUS, rsa.modulus),
            attribute(CKA_PUBLIC_EXPONENT, exponent),
        });
    }
    if (found.empty())
        keyNotFound(log);
    return findKeyObject(readAttribute(found.front(), CKA_ID), PRIVATE_KEY_VALUE);
}

bytes Helper::readAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const
{
    return module().getAttribute(session(), object, type);
}

std::string Helper::readStringAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const
{
    try {
        const bytes value = readAttribute(object, type);
        return std::string(value.begin(), value.end());
    } catch (const std::exception&) {
        return {};
    }
}

void Helper::writeAttribute(CK_OBJECT_HANDLE object, const bytes& value, CK_ATTRIBUTE_TYPE type) const
{
    module().setAttribute(session(), object, value, type);
}

CK_OBJECT_HANDLE Helper::createMetaInfo(std::string_view label, bool kalva) const
{
    bs::Logger log("pkcs11::Helper::createMetaInfo");
    const bytes value = MetaInfoContainer().data();
    const bytes labelValue(label.begin(), label.end());
    std::vector<CK_ATTRIBUTE> pattern{
        attribute(CKA_TOKEN, TRUE_VALUE), attribute(CKA_MODIFIABLE, TRUE_VALUE),
        attribute(CKA_VALUE, value),      attribute(CKA_LABEL, labelValue),
        attribute(CKA_CLASS, DATA_VALUE), attribute(CKA_PRIVATE, TRUE_VALUE),
    };
    if (kalva) {
        pattern.push_back(attribute(CKA_APPLICATION, KALVA2_VALUE));
        pattern.push_back(attribute(CKA_VENDOR_DEFINED, FALSE_VALUE));
    }
    return createObject(pattern);
}

CK_OBJECT_HANDLE Helper::metaObjectId(std::string_view label, bool kalva) const
{
    bs::Logger log("pkcs11::Helper::metaObjectId");
    const bytes labelValue(label.begin(), label.end());
    std::vector<CK_ATTRIBUTE> pattern{
        attribute(CKA_CLASS, DATA_VALUE),
        attribute(CKA_LABEL, labelValue),
        attribute(CKA_MODIFIABLE, TRUE_VALUE),
    };
    if (kalva) {
        pattern.push_back(attribute(CKA_APPLICATION, KALVA2_VALUE));
        pattern.push_back(attribute(CKA_VENDOR_DEFINED, FALSE_VALUE));
    }
    const std::vector<CK_OBJECT_HANDLE> found = findObjects(pattern);
    if (found.empty())
        keyNotFound(log);
    return found.front();
}

void Helper::deleteMetaInfo(std::string_view label, bool kalva) const
{
    deleteObject(metaObjectId(label, kalva));
}

void Helper::verifyKeyPassword(CK_OBJECT_HANDLE privateKey, const bytes& passwordHash,
                               bool countFailure) const
{
    bs::Logger log("pkcs11::Helper::verifyKeyPassword");
    // A failed read propagates; only a label that reads but holds no
    // container means the key has no password.
    const std::string label = labelText(readAttribute(privateKey, CKA_LABEL));
    std::optional<MetaInfoContainer> container;
    try {
        container.emplace(std::string_view(label), false);
    } catch (const AccessDenied&) {
        return;
    }
    if (!container->hasPass())
        return;
    if (container->maxTries() <= container->failedTries()) {
        bs::logAndThrow(log, KeyBlocked());
    }
    if (container->passHash() == passwordHash) {
        if (container->failedTries() != 0) {
            container->setFailedTries(0);
            writeContainer(*this, privateKey, *container);
        }
        return;
    }
    if (countFailure) {
        container->setFailedTries(static_cast<std::uint8_t>(container->failedTries() + 1));
        writeContainer(*this, privateKey, *container);
    }
    throw InvalidPassword(static_cast<std::int32_t>(container->maxTries()) - container->failedTries());
}

void Helper::updateKeyContainer(CK_OBJECT_HANDLE privateKey,
                                const std::function<void(MetaInfoContainer&)>& change) const
{
    const std::string label = labelText(readAttribute(privateKey, CKA_LABEL));
    MetaInfoContainer container(std::string_view(label), true);
    change(container);
    writeContainer(*this, privateKey, container);
}

void Helper::changeKeyPassword(CK_OBJECT_HANDLE privateKey, const bytes& passwordHash,
                               std::uint8_t maxTries) const
{
    bs::Logger log("pkcs11::Helper::changeKeyPassword");
    updateKeyContainer(privateKey, [&](MetaInfoContainer& container) {
        container.setPassHash(passwordHash);
        container.setMaxTries(maxTries);
        container.setFailedTries(0);
    });
}

bytes Helper::sign(CK_OBJECT_HANDLE privateKey, const bytes& data, CK_MECHANISM_TYPE mechanism) const
{
    bs::Logger log("pkcs11::Helper::sign");
    const bytes signature = module().sign(session(), mechanism, privateKey, data);
    return mechanism == CKM_RSA_PKCS ? signature : gost::swapSignatureHalves(signature);
}

bool Helper::verifySign(const bytes& digest, const bytes& signature, const bytes& publicKey,
                        const ObjectIdentifier& paramSet, const std::vector<CK_ATTRIBUTE>& extra) const
{
    bs::Logger log("pkcs11::Helper::verifySign");
    const bool wide = getKeyParamBits(paramSet) == 512;
    const bytes keyType = ulongValue(wide ? CKK_GOSTR3410_512 : CKK_GOSTR3410);
    const CK_MECHANISM mechanism{wide ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
    const bytes paramsDer = paramSet.derEncoding();
    const bytes keyValue = reverseHalves(publicKey);
    std::vector<CK_ATTRIBUTE> pattern{
        attribute(CKA_CLASS, PUBLIC_KEY_VALUE), attribute(CKA_VERIFY, TRUE_VALUE),
        attribute(CKA_KEY_TYPE, keyType),       attribute(CKA_GOSTR3410_PARAMS, paramsDer),
        attribute(CKA_VALUE, keyValue),
    };
    pattern.insert(pattern.end(), extra.begin(), extra.end());
    const CK_OBJECT_HANDLE key = createObject(pattern);
    ObjectGuard destroy(module(), session(), key);
    return module().verify(session(), mechanism, key, digest, gost::swapSignatureHalves(signature));
}

bool Helper::verifyRsaSign(const bytes& data, const bytes& signature,
                           const std::vector<CK_ATTRIBUTE>& keyTemplate, const CK_MECHANISM& mechanism) const
{
    bs::Logger log("pkcs11::Helper::verifyRsaSign");
    const CK_OBJECT_HANDLE key = createObject(keyTemplate);
    ObjectGuard destroy(module(), session(), key);
    return module().verify(session(), mechanism, key, data, signature);
}

CK_OBJECT_HANDLE Helper::createObject(const std::vector<CK_ATTRIBUTE>& pattern) const
{
    return module().createObject(session(), pattern);
}

std::vector<CK_OBJECT_HANDLE> Helper::findObjects(const std::vector<CK_ATTRIBUTE>& pattern) const
{
    return module().findObjects(session(), pattern);
}

void Helper::deleteObject(CK_OBJECT_HANDLE object) const
{
    module().deleteObject(session(), object);
}

} // namespace pkcs11
