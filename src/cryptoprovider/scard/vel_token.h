// The confirmation token as a key store: one device key that signs
// confirmation data after a PIN check. Apart from PIN handling and the
// confirmation signature, every key-store operation is FunctionNotImplemented
// and leaves the device alone.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/scard/vel_device.h"

class VelToken : public HardwareDevice
{
  public:
    // Reads the device information of the card in `reader` (its own
    // connection and transaction): the store id is the serial text; a device
    // still on its default user PIN has no PIN of its own yet. UnknownDevice
    // for a device without a serial; PC/SC failures and status words throw.
    explicit VelToken(std::string_view reader);

    KeyStoreType type() const override { return KeyStoreType::VelToken; }

    // The serial text ("01-23-45-67", or "--------" for a number beyond 8
    // digits), read from the device.
    std::string serial() const;
    // The 4 serial bytes as the device stores them, or reversed (the signer
    // serial of a confirmation) when `asStored` is false. UnknownDevice when
    // the device reports fewer.
    bytes serialData(bool asStored) const;

    // Checks `pin` on the device in a session of its own and caches it.
    // InvalidPassword with the device's tries, KeyBlocked when none are left
    // (the store then shows its user PIN blocked).
    void setPin(std::wstring_view pin) override;
    // Changes the user PIN from the cached one (the default PIN while the
    // device still has it) to `newPin` and caches the new one; the store then
    // has a PIN of its own.
    void changePin(std::wstring_view newPin) override;
    // The confirmation signature (s‖r, 128 bytes) over the DER of
    // `attributes`, made by the device key after a PIN check with the cached
    // PIN (PinRequired without one). A device answer of another size is a
    // DeviceError.
    bytes signByDeviceKey(const pkcs9::Attributes& attributes);
    // veltoken::defaultUserPin().
    std::wstring defaultUserPin() const override;

    // Unsupported by the device: FunctionNotImplemented, no exchange.
    void setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password) override;
    std::shared_ptr<KeyRecord> createNewKey(std::string_view alias, std::uint16_t systemId,
                                            const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
                                            std::string_view text, std::wstring_view password) override;
    void setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t externalId) override;
    void changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias) override;
    void changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword) override;
    void deleteKey(const std::shared_ptr<KeyRecord>& key) override;
    std::shared_ptr<DigestEngine> digestEngine() override;
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                            bool kalvaMode) override;
    std::vector<Pkcs7> cmsSign(const std::shared_ptr<KeyRecord>& key,
                               const std::vector<pkcs9::Attributes>& attributesList, bool kalvaMode) override;
    bytes createPkcs10(const std::shared_ptr<KeyRecord>& key, const SubjectDN& subject,
                       Extensions& extensions, bool der, const AlgorithmId& rsaDigest) override;
    bytes pkcs10Sign(const std::shared_ptr<KeyRecord>& key, const bytes& requestInfo, bool der,
                     const AlgorithmId& rsaDigest) override;
    bytes getPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    std::vector<X509> certificateList(CertType type) override;
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der) override;
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>& key) override;
    bytes importCertificate(const bytes& der, CertType type) override;
    void deleteCertificate(const bytes& id, CertType type) override;
    std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes& certificateId, bool useList) override;
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) override;
    void updateKeysInfo() override;
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;

  protected:
    // Connects to the reader and lets it go; no command is sent.
    void connectReader() override;

  private:
    // Runs `operation` and, when the device reports the key blocked, marks
    // the store's user PIN blocked before the error goes on.
    template <class Operation> auto markingBlock(Operation&& operation);
};

// The confirmation token in `reader`, by the life-cycle byte of its ATR:
// PinBlocked (4), DeviceNotInitialized (3), or for a device waiting for
// activation (6) the activation, then NeedReconnectVelToken; otherwise the
// store.
std::shared_ptr<KeyStore> getVelToken(std::string_view reader, const std::vector<unsigned char>& atr);

// Accepted like the other token makes' module paths and ignored: the
// confirmation token is reached through PC/SC only.
void setVelTokenPkcs11Path(std::string_view path);
