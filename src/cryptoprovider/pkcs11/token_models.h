// The token makes served through PKCS#11: Rutoken ECP (and its later models),
// MS_KEY K Angara and JaCarta GOST 2.0. Each model supplies what differs
// between makes: the module, the store id and PIN state, how PINs and
// passwords become bytes, the PIN tries left, the parameter sets and
// signing mechanisms it knows, and its digest and verification engines.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/pkcs11/pkcs11_token.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace pkcs11
{

// The token's serialNumber field as bytes: trimmed, upper-cased, a "0" put
// in front of an odd length, then decoded from hex. std::invalid_argument
// when the field is not hexadecimal.
bytes serialData(const CK_TOKEN_INFO& info);
// The first four serial bytes as a big-endian number in decimal, padded to
// 10 digits ("0000000000" for no serial). A serial of one to three bytes is
// read as the number it spells (right-aligned), so no input is rejected.
std::string rutokenStoreId(const bytes& serial);
// The store id back as the 8 upper-case hex digits the token shows.
std::string rutokenSerialFromStoreId(std::string_view storeId);

} // namespace pkcs11

// Rutoken ECP 2.0; the later models differ only in their crypto type and
// package. The store id is the decimal token serial; PINs and passwords go
// to the token in Windows-1251; RSA keys are supported.
class RuToken2 : public Pkcs11Token
{
  public:
    // Loads the Rutoken module and reads the token shown in the slot whose
    // description holds `readerName`: store id, PIN-blocked flags and
    // whether the user PIN is still the default one. DeviceNotFound when no
    // slot serves the reader; Pkcs11LoadError without the module.
    explicit RuToken2(std::string_view readerName);

    // The store id as 8 upper-case hex digits (the token's own serial form).
    std::string pkcs11Serial() const override;
    // Asks the card in the reader for the user PIN state (00 20 00 02): 16
    // when it answers success, the tries it reports otherwise; PinBlocked
    // when none are left. PC/SC errors propagate.
    int pinTries() override;
    // The text in Windows-1251.
    bytes makePasswordHash(std::wstring_view text) override;
    std::map<std::uint8_t, std::string_view> getGost3410AlgParams() override;
    // 2012-256 → CKM_GOSTR3410, 2012-512 → the 512-bit vendor mechanism,
    // RSA → CKM_RSA_PKCS; anything else UnsupportedAlgorithm.
    CK_MECHANISM_TYPE signAlgorithm(const AlgorithmId& algorithm) override;
    // The Angara module's digest engine when it can be created, else the
    // token itself (a public session on this token's slot).
    std::shared_ptr<DigestEngine> digestEngine() override;
    // Hashes `data` with this store's engine and has the token verify in a
    // public session; `paramsOid` is the public key's parameter set.
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;

    // bits: a multiple of 256 from 512 to 4096, else std::invalid_argument
    // "Некорректные параметры модуля для RSA". Finished as a GOST key is
    // (password, record, listing); a failure removes the pair again.
    std::shared_ptr<KeyRecord> createNewRsaKey(std::string_view alias, std::uint16_t systemId,
                                               std::wstring_view password, std::uint16_t bits) override;
    // Modulus and exponent of the key's public object (cached password needed).
    RsaPublicKey getRsaPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    // PKCS#1 v1.5 signatures: each item hashed with the digest algorithm of
    // its position and signed as a DigestInfo. std::out_of_range when an
    // item has no digest algorithm.
    std::vector<bytes> rsaSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                               const std::vector<AlgorithmId>& digestAlgorithms) override;
    bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                       const AlgorithmId& digestAlgorithm) override;

  protected:
    RuToken2(std::string_view readerName, std::string_view cryptoType, PACKAGE package);
};

// Rutoken ECP 2.0 2100: "rutoken_2100", package 402.
class RuToken2100 : public RuToken2
{
  public:
    explicit RuToken2100(std::string_view readerName);
};

// Rutoken ECP 2.0 3000: "rutoken_3000", package 403.
class RuToken3000 : public RuToken2
{
  public:
    explicit RuToken3000(std::string_view readerName);
};

// Rutoken ECP 3.0: "rutoken_3", chip RUTOKEN_ECP_3, package 501.
class RuToken3 : public RuToken2
{
  public:
    explicit RuToken3(std::string_view readerName);
};

// Rutoken ECP 3.0 3220: "rutoken_3220", chip RUTOKEN_ECP_3, package 502.
class RuToken3220 : public RuToken2
{
  public:
    explicit RuToken3220(std::string_view readerName);
};

// MS_KEY K Angara: the store id is the token's serialNumber text; PINs and
// passwords go to the token in UTF-8; the PIN tries left are in the token
// flags.
class MSKeyKAngara : public Pkcs11Token
{
  public:
    // Loads the Angara module and reads the token of the slot serving
    // `readerName` (DeviceNotFound when none does).
    explicit MSKeyKAngara(std::string_view readerName);

    std::string pkcs11Serial() const override;
    // Bits 12 to 15 of the token flags.
    int pinTries() override;
    // The text in UTF-8.
    bytes makePasswordHash(std::wstring_view text) override;
    std::map<std::uint8_t, std::string_view> getGost3410AlgParams() override;
    // 2012-256 and 2012-512; anything else UnsupportedAlgorithm.
    CK_MECHANISM_TYPE signAlgorithm(const AlgorithmId& algorithm) override;
    // The make's own default user PIN (8 digits, never shown to users).
    std::wstring defaultUserPin() const override;
    // DigestAngara.
    std::shared_ptr<DigestEngine> digestEngine() override;
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;
    // A password with Cyrillic letters is accepted in UTF-8 and in
    // Windows-1251 (keys set up by older software), counting one failure
    // per wrong attempt; InvalidPassword with the tries left, KeyBlocked.
    void verifyPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                        std::wstring_view password) override;

  private:
    std::string m_serial;
};

// JaCarta GOST 2.0 (Cryptotoken 2): GOST R 34.10-2012 256-bit keys on
// parameter set A only; PIN tries come from the card's chip data.
class CryptoTokenEP2 : public Pkcs11Token
{
  public:
    // Loads the JaCarta module and its companion library and takes the
    // first token whose model begins with "JaCarta GOST 2.0" (DeviceNotFound
    // when there is none).
    explicit CryptoTokenEP2(std::string_view readerName);

    // Tries left from the chip data (data[12] − data[13], 0 when none are
    // left); 16 when the chip data cannot be read or is shorter than 14
    // bytes.
    int pinTries() override;
    // The text in UTF-8.
    bytes makePasswordHash(std::wstring_view text) override;
    std::map<std::uint8_t, std::string_view> getGost3410AlgParams() override;
    // 2012-256 only; anything else UnsupportedAlgorithm.
    CK_MECHANISM_TYPE signAlgorithm(const AlgorithmId& algorithm) override;
    // DigestPkcs11 on this token.
    std::shared_ptr<DigestEngine> digestEngine() override;
    // UnsupportedAlgorithm for an algorithm the make does not sign with;
    // otherwise the token verifies with a temporary public-key object.
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;

    // The card's chip data (80 38 20 00). A card that is not formatted is a
    // DeviceError; PC/SC errors propagate.
    bytes getChipData();
};
