#include "cryptoprovider/pkcs11/token_models.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "base/conv.h"
#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "base/strings.h"
#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "icrypto/gost3411.h"
#include "x509/errors.h"

namespace
{

constexpr std::string_view RSA_PARAMS_OID = "1.2.840.113549.1.1.1";
constexpr std::string_view JACARTA_MODEL = "JaCarta GOST 2.0";
constexpr int UNKNOWN_PIN_TRIES = 16;

// The chip text of a token model ("RUTOKEN_ECP_2").
std::string_view modelChipType(std::string_view cryptoType)
{
    for (const auto& [id, chip] : crypto::CHIP_TYPE) {
        if (id == cryptoType) {
            return chip;
        }
    }
    throw UnknownCryptoType();
}

// A fixed-width, space-padded text field of a PKCS#11 structure.
template <std::size_t N> std::string fieldText(const CK_UTF8CHAR (&field)[N])
{
    return std::string(reinterpret_cast<const char*>(field), N);
}

// What a make signs with besides GOST R 34.10-2012 256-bit keys.
struct SignCapabilities {
    bool gost512;
    bool rsa;
};

// The signing mechanism of an algorithm the make supports; anything else is
// UnsupportedAlgorithm, logged under `logName`.
CK_MECHANISM_TYPE signMechanism(const AlgorithmId& algorithm, SignCapabilities can, std::string_view logName)
{
    if (isGost34102012_256(algorithm)) {
        return CKM_GOSTR3410;
    }
    if (can.gost512 && isGost34102012_512(algorithm)) {
        return CKM_GOSTR3410_512;
    }
    if (can.rsa && algorithm == RSA_ENCRYPTION) {
        return CKM_RSA_PKCS;
    }
    bs::Logger log(logName);
    bs::logAndThrow(log, UnsupportedAlgorithm(algorithm.name()));
}

bytes textBytes(const std::string& text)
{
    return bytes(text.begin(), text.end());
}

bytes utf8Bytes(std::wstring_view text)
{
    std::string utf8 = encoding::utf16_to_utf8(text);
    bytes result = textBytes(utf8);
    bs::secureZero(&utf8);
    return result;
}

bytes cp1251Bytes(std::wstring_view text)
{
    std::string cp1251 = encoding::utf16_to_cp1251(text);
    bytes result = textBytes(cp1251);
    bs::secureZero(&cp1251);
    return result;
}

// The hash of a password's bytes, the bytes wiped afterwards.
bytes hashOf(bytes passwordBytes)
{
    bytes hash = icrypto::gost3411Digest(passwordBytes);
    bs::secureZero(&passwordBytes);
    return hash;
}

// Hashes `data` with the token's digest engine and has the token verify the
// signature with a temporary public-key object, without logging in.
bool verifyOnToken(Pkcs11Token& token, pkcs11::SessionMode mode, const bytes& data, const bytes& signature,
                   const bytes& publicKey, const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                   bool kalvaMode, const std::vector<CK_ATTRIBUTE>& extra = {})
{
    const bytes hash =
        token.digest(data, getDigestAlgorithm(signAlgorithm), Endian::Big, gost3411::paramSet(kalvaMode));
    const pkcs11::Helper helper(Pkcs11::instance(token.modulePath(), true), token.pkcs11Serial(), mode, {});
    return helper.verifySign(hash, signature, publicKey, ObjectIdentifier(paramsOid), extra);
}

// A digest engine hashing on the token itself.
std::shared_ptr<DigestEngine> digestOnToken(const Pkcs11Token& token)
{
    const CK_SLOT_ID slot = Pkcs11::instance(token.modulePath(), true)->findtSlot(token.pkcs11Serial());
    return std::make_shared<pkcs11::DigestPkcs11>(token.modulePath(), slot, pkcs11::SessionMode::Public);
}

} // namespace

// ---- serials and store ids ----

namespace pkcs11
{

bytes serialData(const CK_TOKEN_INFO& info)
{
    std::string serial = pkcs11::tokenSerial(info);
    if (serial.size() % 2 != 0) {
        serial.insert(serial.begin(), '0');
    }
    return conv::hex_to_bytes(serial);
}

std::string rutokenStoreId(const bytes& serial)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(serial.size(), 4); ++i) {
        value = value << 8 | serial[i];
    }
    return bs::addLeadingZeros(std::to_string(value), 10);
}

std::string rutokenSerialFromStoreId(std::string_view storeId)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(storeId.data(), storeId.data() + storeId.size(), value);
    if (error != std::errc() || end != storeId.data() + storeId.size()) {
        throw std::invalid_argument("not a Rutoken store id: " + std::string(storeId));
    }
    return conv::int_to_hex(value, 4, true);
}

} // namespace pkcs11

// ---- RuToken2 ----

RuToken2::RuToken2(std::string_view readerName) : RuToken2(readerName, "rutoken_2", 401) {}

RuToken2::RuToken2(std::string_view readerName, std::string_view cryptoType, PACKAGE package)
    : Pkcs11Token(readerName, cryptoType, modelChipType(cryptoType), package, pkcs11::pkcs11Rutoken())
{
    bs::Logger log("RuToken2::RuToken2");
    const CK_TOKEN_INFO info = tokenInfo();
    setId(pkcs11::rutokenStoreId(pkcs11::serialData(info)));
    setHasPinCode(true);
    setIsUserPinBlocked((info.flags & CKF_USER_PIN_LOCKED) != 0);
    setIsAdminPinBlocked((info.flags & CKF_SO_PIN_LOCKED) != 0);

    // Whether the user PIN was ever changed is only in the vendor's
    // extended information; the slot is matched by the 4-byte serial.
    const auto module = Pkcs11::instance(modulePath(), true);
    const auto getInfoExtended = module->function<CK_C_EX_GetTokenInfoExtended>("C_EX_GetTokenInfoExtended");
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        pkcs11::TokenInfoExtended extended{};
        extended.ulSizeofThisStructure = sizeof(extended);
        const CK_RV rv = getInfoExtended(slot, &extended);
        if (rv != CKR_OK) {
            log.warning("C_EX_GetTokenInfoExtended slot " + std::to_string(slot) +
                        " rv=" + std::to_string(rv));
            continue;
        }
        const bytes serial(extended.serialNumber, extended.serialNumber + 4);
        if (pkcs11::rutokenStoreId(serial) == id()) {
            setIsUserPinDefault((extended.flags & pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED) == 0);
            break;
        }
    }
}

std::string RuToken2::pkcs11Serial() const
{
    return pkcs11::rutokenSerialFromStoreId(id());
}

int RuToken2::pinTries()
{
    bs::Logger log("RuToken2::pinTries");
    SCardProvider reader(name());
    try {
        reader.executeCommand(apdu::Command(0x00, 0x20, 0x00, 0x02), false);
        return UNKNOWN_PIN_TRIES;
    } catch (const InvalidPassword& error) {
        return error.tries();
    } catch (const KeyBlocked& blocked) {
        // 63C0 and 6983: no tries left.
        bs::logAndThrow(log, bs::withVendorCode(PinBlocked(), blocked.vendorCode()));
    }
}

bytes RuToken2::makePasswordHash(std::wstring_view text)
{
    return cp1251Bytes(text);
}

std::map<std::uint8_t, std::string_view> RuToken2::getGost3410AlgParams()
{
    return {
        {0x10, RSA_PARAMS_OID},     {0x20, "1.2.643.2.2.35.1"},    {0x30, "1.2.643.2.2.35.2"},
        {0x40, "1.2.643.2.2.35.3"}, {0x50, "1.2.643.7.1.2.1.2.1"}, {0x60, "1.2.643.7.1.2.1.2.2"},
    };
}

CK_MECHANISM_TYPE RuToken2::signAlgorithm(const AlgorithmId& algorithm)
{
    return signMechanism(algorithm, {.gost512 = true, .rsa = true}, "RuToken2::signAlgorithm");
}

std::shared_ptr<DigestEngine> RuToken2::digestEngine()
{
    bs::Logger log("RuToken2::digestEngine");
    try {
        return std::make_shared<pkcs11::DigestAngara>();
    } catch (const std::exception& error) {
        log.info(std::string("no Angara digest: ") + error.what());
    }
    return digestOnToken(*this);
}

bool RuToken2::verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                          const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode)
{
    bs::Logger log("RuToken2::verifySign");
    return verifyOnToken(*this, pkcs11::SessionMode::Public, data, signature, publicKey, signAlgorithm,
                         paramsOid, kalvaMode);
}

std::shared_ptr<KeyRecord> RuToken2::createNewRsaKey(std::string_view alias, std::uint16_t systemId,
                                                     std::wstring_view password, std::uint16_t bits)
{
    bs::Logger log("RuToken2::createNewRsaKey");
    if (bits % 256 != 0 || bits < 512 || bits > 4096) {
        bs::logAndThrow(log, std::invalid_argument("Некорректные параметры модуля для RSA"));
    }
    TokenSession session(this);
    const bytes keyId = getNextKeyId(session);
    auto record = std::make_shared<pkcs11::KeyRecord>(alias, systemId, RSA_ENCRYPTION, RSA_PARAMS_OID,
                                                      getGost3410AlgParams(), cryptoType(), keyId);
    return completeNewKey(session, session.helper().generateRSAKeyPair(keyId, RSA_ENCRYPTION, bits), record,
                          password);
}

RsaPublicKey RuToken2::getRsaPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("RuToken2::getRsaPublicKey");
    TokenSession session(this);
    checkCachedPassword(session, key);
    return getRsaPublicKeyImpl(session, key);
}

std::vector<bytes> RuToken2::rsaSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                     const std::vector<AlgorithmId>& digestAlgorithms)
{
    bs::Logger log("RuToken2::rsaSign");
    std::vector<bytes> digestInfos;
    digestInfos.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        const AlgorithmId& algorithm = digestAlgorithms.at(i);
        digestInfos.push_back(pkcs11::rsaDigestInfo(
            algorithm, digest(data[i], algorithm, Endian::Big, gost3411::paramSet(false))));
    }
    TokenSession session(this);
    checkCachedPassword(session, key);
    const CK_OBJECT_HANDLE privateKey = privateKeyHandle(session, key);
    std::vector<bytes> signatures;
    signatures.reserve(digestInfos.size());
    for (const bytes& digestInfo : digestInfos) {
        signatures.push_back(session.helper().sign(privateKey, digestInfo, CKM_RSA_PKCS));
    }
    return signatures;
}

bool RuToken2::verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                             const AlgorithmId& digestAlgorithm)
{
    bs::Logger log("RuToken2::verifyRsaSign");
    const bytes hash = digest(data, digestAlgorithm, Endian::Big, gost3411::paramSet(false));
    pkcs11::Helper helper(Pkcs11::instance(modulePath(), true), pkcs11Serial(), pkcs11::SessionMode::Public,
                          {});
    return pkcs11::verifyRsaDigest(helper, hash, signature, publicKey, digestAlgorithm);
}

RuToken2100::RuToken2100(std::string_view readerName) : RuToken2(readerName, "rutoken_2100", 402) {}
RuToken3000::RuToken3000(std::string_view readerName) : RuToken2(readerName, "rutoken_3000", 403) {}
RuToken3::RuToken3(std::string_view readerName) : RuToken2(readerName, "rutoken_3", 501) {}
RuToken3220::RuToken3220(std::string_view readerName) : RuToken2(readerName, "rutoken_3220", 502) {}

// ---- MSKeyKAngara ----

MSKeyKAngara::MSKeyKAngara(std::string_view readerName)
    : Pkcs11Token(readerName, "angara", modelChipType("angara"), 202, pkcs11::pkcs11Mskey())
{
    const CK_TOKEN_INFO info = tokenInfo();
    m_serial = pkcs11::tokenSerial(info);
    setId(m_serial);
    setHasPinCode(true);
    setIsUserPinDefault((info.flags & CKF_USER_PIN_TO_BE_CHANGED) != 0);
    setIsUserPinBlocked((info.flags & CKF_USER_PIN_LOCKED) != 0);
    setIsAdminPinBlocked((info.flags & CKF_SO_PIN_LOCKED) != 0);
}

std::string MSKeyKAngara::pkcs11Serial() const
{
    return m_serial;
}

int MSKeyKAngara::pinTries()
{
    return static_cast<int>((tokenInfo().flags >> 12) & 0xF);
}

bytes MSKeyKAngara::makePasswordHash(std::wstring_view text)
{
    return utf8Bytes(text);
}

std::map<std::uint8_t, std::string_view> MSKeyKAngara::getGost3410AlgParams()
{
    return {
        {0x20, "1.2.643.2.2.35.1"},    {0x30, "1.2.643.2.2.35.2"},    {0x40, "1.2.643.2.2.35.3"},
        {0x50, "1.2.643.7.1.2.1.2.1"}, {0x60, "1.2.643.7.1.2.1.2.2"}, {0x70, "1.2.643.7.1.2.1.1.1"},
        {0x80, "1.2.643.7.1.2.1.2.3"},
    };
}

CK_MECHANISM_TYPE MSKeyKAngara::signAlgorithm(const AlgorithmId& algorithm)
{
    return signMechanism(algorithm, {.gost512 = true, .rsa = false}, "MSKeyKAngara::signAlgorithm");
}

std::wstring MSKeyKAngara::defaultUserPin() const
{
    return L"11111111";
}

std::shared_ptr<DigestEngine> MSKeyKAngara::digestEngine()
{
    return std::make_shared<pkcs11::DigestAngara>();
}

bool MSKeyKAngara::verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                              const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode)
{
    bs::Logger log("MSKeyKAngara::verifySign");
    // On this token's own slot: slot 0 may hold no token at all.
    return verifyOnToken(*this, pkcs11::SessionMode::Rescan, data, signature, publicKey, signAlgorithm,
                         paramsOid, kalvaMode);
}

void MSKeyKAngara::verifyPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                                  std::wstring_view password)
{
    bs::Logger log("MSKeyKAngara::verifyPassword");
    const CK_OBJECT_HANDLE privateKey = privateKeyHandle(session, key);
    std::string systemText = encoding::utf16_to_sys(password);
    const bool cyrillic = bs::isContainCyrillic(systemText);
    bs::secureZero(&systemText);
    const pkcs11::Helper& helper = session.helper();
    try {
        // A Cyrillic password may have been set in Windows-1251 by older
        // software: the UTF-8 attempt then does not count, the second does.
        helper.verifyKeyPassword(privateKey, hashOf(utf8Bytes(password)), !cyrillic);
    } catch (const InvalidPassword&) {
        if (!cyrillic) {
            throw;
        }
        helper.verifyKeyPassword(privateKey, hashOf(cp1251Bytes(password)), true);
    }
}

// ---- CryptoTokenEP2 ----

CryptoTokenEP2::CryptoTokenEP2(std::string_view readerName)
    : Pkcs11Token(readerName, "jacarta_2", modelChipType("jacarta_2"), 303, pkcs11::pkcs11jcPKCS11())
{
    bs::Logger log("CryptoTokenEP2::CryptoTokenEP2()");
    log.info(std::string(readerName));
    pkcs11::loadJaCartaCompanion();

    // The JaCarta token in this device's reader; when no slot description
    // names the reader, the first JaCarta token.
    const auto module = Pkcs11::instance(modulePath(), true);
    std::optional<CK_TOKEN_INFO> found;
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        const std::string description = fieldText(module->slotInfo(slot).slotDescription);
        log.info("slot: " + std::to_string(slot));
        log.info("slotDescription: " + description);
        const CK_TOKEN_INFO info = module->tokenInfo(slot);
        if (!fieldText(info.model).starts_with(JACARTA_MODEL)) {
            continue;
        }
        const bool inThisReader = description.find(readerName) != std::string::npos;
        if (!found || inThisReader) {
            found = info;
        }
        if (inThisReader) {
            break;
        }
    }
    if (!found) {
        bs::logAndThrow(log, DeviceNotFound());
    }
    setId(pkcs11::tokenSerial(*found));
    setHasPinCode((found->flags & CKF_USER_PIN_INITIALIZED) != 0);
    setIsUserPinBlocked((found->flags & CKF_USER_PIN_LOCKED) != 0);
    setIsAdminPinBlocked((found->flags & CKF_SO_PIN_LOCKED) != 0);
}

bytes CryptoTokenEP2::getChipData()
{
    bs::Logger log("CryptoTokenEP2::getChipData");
    SCardProvider reader(name());
    try {
        return reader.executeCommand(apdu::Command(0x80, 0x38, 0x20, 0x00), false).getData();
    } catch (const apdu::CardNotFormatted& error) {
        log.error(error.what());
        throw DeviceError(error.code(), error.what());
    }
}

int CryptoTokenEP2::pinTries()
{
    bs::Logger log("CryptoTokenEP2::pinTries");
    // The chip data cannot always be read (a card not formatted, the reader
    // gone, the vendor module holding the card): the tries are then unknown,
    // so a wrong PIN is still reported as one.
    bytes chipData;
    try {
        chipData = getChipData();
    } catch (const std::exception& error) {
        log.error(error.what());
        return UNKNOWN_PIN_TRIES;
    }
    if (chipData.size() < 14) {
        return UNKNOWN_PIN_TRIES;
    }
    return std::max(0, chipData[12] - chipData[13]);
}

bytes CryptoTokenEP2::makePasswordHash(std::wstring_view text)
{
    return utf8Bytes(text);
}

std::map<std::uint8_t, std::string_view> CryptoTokenEP2::getGost3410AlgParams()
{
    return {{0x20, "1.2.643.2.2.35.1"}};
}

CK_MECHANISM_TYPE CryptoTokenEP2::signAlgorithm(const AlgorithmId& algorithm)
{
    return signMechanism(algorithm, {.gost512 = false, .rsa = false}, "CryptoTokenEP2::signAlgorithm");
}

std::shared_ptr<DigestEngine> CryptoTokenEP2::digestEngine()
{
    return digestOnToken(*this);
}

bool CryptoTokenEP2::verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode)
{
    bs::Logger log("CryptoTokenEP2::verifySign");
    if (!crypto::isSignAlgorithmSupported(cryptoType(), {signAlgorithm, paramsOid})) {
        log.error("Unsupported algorithm");
        throw UnsupportedAlgorithm(signAlgorithm.name());
    }
    const std::vector<CK_ATTRIBUTE> extra{pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE),
                                          pkcs11::attribute(CKA_PRIVATE, pkcs11::FALSE_VALUE)};
    return verifyOnToken(*this, pkcs11::SessionMode::Admin, data, signature, publicKey, signAlgorithm,
                         paramsOid, kalvaMode, extra);
}
