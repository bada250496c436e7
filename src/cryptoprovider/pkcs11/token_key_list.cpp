// The token key store: the key list read from the token (the key kinds and
// their record formats) and the record written back to a key.
#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "base/conv.h"
#include "base/encoding.h"
#include "base/logger.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"
#include "x509/subject_dn.h"

namespace
{

std::string text(const bytes& value)
{
    return std::string(value.begin(), value.end());
}

bytes octets(std::string_view value)
{
    return bytes(value.begin(), value.end());
}

// A key label as it may be logged: a metadata container carries the key
// password's hash and try counters, so only its presence is told.
std::string loggableLabel(const std::string& label)
{
    try {
        MetaInfoContainer(std::string_view(label), false);
        return "(key metadata, " + std::to_string(label.size()) + " characters)";
    } catch (const std::exception&) {
        return label;
    }
}

// The text a private key's CKA_SUBJECT gives for an alias: the common name
// of a DER Name, or the value itself when it is plain text.
std::string subjectText(const bytes& subject)
{
    if (!subject.empty() && subject.front() == 0x30) {
        try {
            return bs::trim(SubjectDNParser().parse(subject).commonName);
        } catch (const std::exception&) {
            return {};
        }
    }
    const std::string value = text(subject);
    const bool printable =
        std::none_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    return printable && encoding::isValidUTF8(value) ? bs::trim(value) : std::string();
}

// The signature algorithm of a key with the certificate's GOST public key,
// as key records name it: the catalogue's first pairing for that public-key
// algorithm (GOST R 34.10-2001, or 2012 with its own digest).
// UnsupportedAlgorithm for any other key.
AlgorithmId certificateKeyAlgorithm(const X509& certificate)
{
    const AlgorithmId key = certificate.signAlgorithm();
    if (key.isGost()) {
        for (const auto& [publicKey, sign] : PUBLIC_KEY_SIGN_ALGORITHMS) {
            if (publicKey == key) {
                return sign;
            }
        }
    }
    throw UnsupportedAlgorithm(key.name());
}

} // namespace

// The facts of one private key object the listing works from.
struct Pkcs11Token::ObjectFacts {
    CK_OBJECT_HANDLE handle;
    bytes id;
    std::string label;
};

// ---- key records ----

void Pkcs11Token::writeKeyRecord(const TokenSession& session,
                                 const std::shared_ptr<pkcs11::KeyRecord>& record)
{
    bs::Logger log("Pkcs11Token::writeKeyRecord");
    const bytes data = record->data(FORMAT_VERSION::V1);
    session.helper().updateKeyContainer(privateKeyHandle(session, record),
                                        [&](MetaInfoContainer& container) { container.setPayload(data); });
}

// ---- key listing ----

void Pkcs11Token::updateKeysInfo()
{
    bs::Logger log("Pkcs11Token::updateKeysInfo");
    TokenSession session(this);
    updateKeysInfoImpl(session);
}

void Pkcs11Token::updateKeysInfoImpl(const TokenSession& session)
{
    bs::Logger log("Pkcs11Token::updateKeysInfoImpl");
    const pkcs11::Helper& helper = session.helper();
    Keys keys;
    for (const CK_OBJECT_HANDLE object :
         helper.findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE),
                             pkcs11::attribute(CKA_CLASS, pkcs11::PRIVATE_KEY_VALUE)})) {
        ObjectFacts facts{object, {}, {}};
        try {
            facts.id = helper.readAttribute(object, CKA_ID);
            facts.label = text(helper.readAttribute(object, CKA_LABEL));
        } catch (const std::exception& error) {
            log.error(error.what());
            continue;
        }
        log.debug("object: " + std::to_string(object));
        log.debug("label: " + loggableLabel(facts.label));
        if (octets(facts.label) == pkcs11::FAKTURA_LABEL) {
            addFakturaKey(session, keys, facts);
        } else if (!addKalvaKey(session, keys, facts)) {
            addCommonKey(session, keys, facts);
        }
    }
    replaceKeysList(std::move(keys));
}

bool Pkcs11Token::addFakturaKey(const TokenSession& session, Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addFakturaKey");
    const pkcs11::Helper& helper = session.helper();
    try {
        const PublicKey tokenKey(
            helper.readAttribute(helper.findKeyObject(object.id, pkcs11::PUBLIC_KEY_VALUE), CKA_VALUE));
        for (const CK_OBJECT_HANDLE data :
             helper.findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE),
                                 pkcs11::attribute(CKA_CLASS, pkcs11::DATA_VALUE),
                                 pkcs11::attribute(CKA_LABEL, pkcs11::FAKTURA_LABEL)})) {
            try {
                const bytes value = helper.readAttribute(data, CKA_VALUE);
                if (value.size() < 5) {
                    continue;
                }
                const X509 certificate(
                    object.id, der::encode(std::vector<bytes>{bytes(value.begin() + 4, value.end())}));
                log.debug("x509 = " + conv::bytes_to_hex(certificate.data()));
                if (tokenKey != certificate.publicKey(Endian::Big)) {
                    continue;
                }
                log.debug("meta from ftcgpk object");
                // The algorithm is the certificate's: a parameter set alone
                // does not tell a 2001 key from a 2012-256 one.
                auto record = std::make_shared<pkcs11::KeyRecord>(
                    certificate.subjectName(), 0, certificateKeyAlgorithm(certificate),
                    certificate.gost3410ParamsOid(), getGost3410AlgParams(), cryptoType(), object.id);
                record->setExternalId(conv::binary_to_int(certificate.serial()));
                record->setHasPassword(false);
                record->setIsChangeable(false);
                addKeyToList(keys, std::move(record), certificate);
                return true;
            } catch (const std::exception& error) {
                log.error(error.what());
            }
        }
    } catch (const std::exception& error) {
        log.error(error.what());
    }
    return false;
}

bool Pkcs11Token::addKalvaKey(const TokenSession& session, Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addKalvaKey");
    std::optional<MetaInfoContainer> container;
    try {
        container.emplace(std::string_view(object.label), false);
        log.debug("meta from key label");
    } catch (const AccessDenied&) {
        try {
            container = convertKeyMetaInfo(session, object);
        } catch (const std::exception& error) {
            log.debug(error.what());
            return false;
        }
    }
    addKeyToList(keys, object.id, container->payload(), container->hasPass(), true, X509());
    return true;
}

MetaInfoContainer Pkcs11Token::convertKeyMetaInfo(const TokenSession& session, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::convertKeyMetaInfo");
    const pkcs11::Helper& helper = session.helper();
    const CK_OBJECT_HANDLE meta = helper.metaObjectId(pkcs11::keyLabel(getKeyIdByCertId(object.id)), false);
    MetaInfoContainer container(helper.readAttribute(meta, CKA_VALUE), false);
    try {
        helper.writeAttribute(object.handle, octets(container.base64()), CKA_LABEL);
    } catch (const std::exception& error) {
        log.error(error.what());
    }
    return container;
}

bool Pkcs11Token::addCommonKey(const TokenSession& session, Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addCommonKey");
    const pkcs11::Helper& helper = session.helper();
    try {
        std::string name = subjectText(octets(helper.readStringAttribute(object.handle, CKA_SUBJECT)));
        if (name.empty()) {
            name = bs::trim(object.label);
        }
        const std::string hex = conv::bytes_to_hex(object.id);
        const std::string alias = name.empty() ? hex : name + " (" + hex + ")";
        log.debug("keyAlias:" + alias);
        const std::string paramsOid =
            der::getObjectIdentifier(helper.readAttribute(object.handle, CKA_GOSTR3410_PARAMS)).text();
        auto record =
            std::make_shared<pkcs11::KeyRecord>(alias, 0, findSignAlgorithmIdByParamsId(paramsOid), paramsOid,
                                                getGost3410AlgParams(), cryptoType(), object.id);
        record->setHasPassword(false);
        record->setIsChangeable(false);
        addKeyToList(keys, std::move(record), X509());
        return true;
    } catch (const std::exception& error) {
        log.error(error.what());
        return false;
    }
}

void Pkcs11Token::addKeyToList(Keys& keys, const bytes& keyId, const bytes& recordBytes, bool hasPassword,
                               bool isChangeable, const X509& certificate)
{
    bs::Logger log("Pkcs11Token::addKeyToList");
    try {
        addKeyToList(keys,
                     std::make_shared<pkcs11::KeyRecord>(keyId, recordBytes, getGost3410AlgParams(),
                                                         cryptoType(), hasPassword, isChangeable),
                     certificate);
    } catch (const std::exception& error) {
        log.error(error.what());
    }
}

void Pkcs11Token::addKeyToList(Keys& keys, std::shared_ptr<pkcs11::KeyRecord> record, const X509& certificate)
{
    bs::Logger log("Pkcs11Token::addKeyToList");
    if (record->alias().empty()) {
        EmptyKeyAlias error;
        log.error(error.what());
        return;
    }
    if (!record->hasPassword()) {
        setCachedPassword(record->alias(), L"");
    }
    if (!certificate.empty()) {
        record->setX509(certificate);
    }
    const std::string alias = record->alias();
    keys[alias] = std::move(record);
}
