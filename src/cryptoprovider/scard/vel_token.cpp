#include "cryptoprovider/scard/vel_token.h"

#include <algorithm>

#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pcsc/wipe.h"
#include "cryptoprovider/scard/vel_session.h"

namespace
{

constexpr std::string_view CRYPTO_TYPE = "ovt";
constexpr std::string_view CHIP_TYPE = "VEL_TOKEN";
constexpr PACKAGE VEL_TOKEN_PACKAGE = 6;

// The cached PIN for one use, wiped when it goes out of scope.
struct PinInUse {
    std::wstring pin;
    ~PinInUse() { bs::secureZero(&pin); }
};

[[noreturn]] void notImplemented(const char* operation)
{
    bs::Logger log(operation);
    bs::logAndThrow(log, FunctionNotImplemented());
}

} // namespace

VelToken::VelToken(std::string_view reader)
    : HardwareDevice(reader, CRYPTO_TYPE, CHIP_TYPE, VEL_TOKEN_PACKAGE)
{
    const bytes info = veltoken::readDeviceInformation(reader);
    setId(veltoken::serialText(veltoken::serialFromInfo(info)));
    const bool onDefaultPin = veltoken::defaultPinFromInfo(info);
    setHasPinCode(!onDefaultPin);
    setIsUserPinDefault(onDefaultPin);
}

std::string VelToken::serial() const
{
    return veltoken::serialText(serialData(true));
}

bytes VelToken::serialData(bool asStored) const
{
    bytes serial = veltoken::serialFromInfo(veltoken::readDeviceInformation(name()));
    if (!asStored) {
        std::reverse(serial.begin(), serial.end());
    }
    return serial;
}

template <class Operation> auto VelToken::markingBlock(Operation&& operation)
{
    try {
        return operation();
    } catch (const KeyBlocked&) {
        setIsUserPinBlocked(true);
        throw;
    } catch (const PinBlocked&) {
        setIsUserPinBlocked(true);
        throw;
    }
}

void VelToken::setPin(std::wstring_view pin)
{
    bs::Logger log("VelToken::setPin");
    deleteCachedPin();
    markingBlock([&] { const VelTokenSession session(name(), pin); });
    setCachedPin(pin);
}

void VelToken::changePin(std::wstring_view newPin)
{
    bs::Logger log("VelToken::changePin");
    markingBlock([&] {
        PinInUse current{getCachedPin()};
        VelTokenSession session(name(), current.pin);
        bytes data;
        const pcsc::WipeOnExit wipeData(data);
        veltoken::appendSecretTlv(data, 0x01, veltoken::getPasswordData(current.pin));
        veltoken::appendSecretTlv(data, 0x02, veltoken::getPasswordData(newPin));
        apdu::Command change(0x00, 0x24, 0x01, 0x01, data);
        veltoken::executeSecret(session.provider(), change);
        setCachedPin(newPin);
        setHasPinCode(true);
    });
}

bytes VelToken::signByDeviceKey(const pkcs9::Attributes& attributes)
{
    bs::Logger log("VelToken::signByDeviceKey");
    const bytes encoding = attributes.derEncoding();
    bytes signature = markingBlock([&] {
        PinInUse pin{getCachedPin()};
        VelTokenSession session(name(), pin.pin);
        bytes data;
        const pcsc::WipeOnExit wipeData(data);
        veltoken::appendSecretTlv(data, 0x82, session.token());
        veltoken::appendToSecret(data, apdu::Tlv(0x01, encoding).data());
        apdu::Command command(0x00, 0x2A, 0x9E, 0x80, data, 0x80);
        return veltoken::executeSecret(session.provider(), command).getData();
    });
    if (signature.empty()) {
        bs::logAndThrow(log, DeviceError(0, ""));
    }
    if (signature.size() != veltoken::SIGNATURE_SIZE) {
        bs::logAndThrow(log, DeviceError(0, cp::localization.get("CP-008027") +
                                                std::string(": a confirmation signature of ") +
                                                std::to_string(signature.size()) + " bytes"));
    }
    return signature;
}

std::wstring VelToken::defaultUserPin() const
{
    return veltoken::defaultUserPin();
}

void VelToken::connectReader()
{
    const SCardProvider reader(name());
}

// ---- what the device cannot do ----

void VelToken::setKeyPassword(const std::shared_ptr<KeyRecord>&, std::wstring_view)
{
    notImplemented("VelToken::setKeyPassword");
}

std::shared_ptr<KeyRecord> VelToken::createNewKey(std::string_view, std::uint16_t, const AlgorithmId&,
                                                  std::string_view, std::string_view, std::wstring_view)
{
    notImplemented("VelToken::createNewKey");
}

void VelToken::setKeyExternalId(const std::shared_ptr<KeyRecord>&, std::uint64_t)
{
    notImplemented("VelToken::setKeyExternalId");
}

void VelToken::changeKeyAlias(const std::shared_ptr<KeyRecord>&, std::string_view)
{
    notImplemented("VelToken::changeKeyAlias");
}

void VelToken::changeKeyPass(const std::shared_ptr<KeyRecord>&, std::wstring_view)
{
    notImplemented("VelToken::changeKeyPass");
}

void VelToken::deleteKey(const std::shared_ptr<KeyRecord>&)
{
    notImplemented("VelToken::deleteKey");
}

std::shared_ptr<DigestEngine> VelToken::digestEngine()
{
    notImplemented("VelToken::digestEngine");
}

std::vector<bytes> VelToken::sign(const std::shared_ptr<KeyRecord>&, const std::vector<bytes>&, bool)
{
    notImplemented("VelToken::sign");
}

std::vector<Pkcs7> VelToken::cmsSign(const std::shared_ptr<KeyRecord>&, const std::vector<pkcs9::Attributes>&,
                                     bool)
{
    notImplemented("VelToken::cmsSign");
}

bytes VelToken::createPkcs10(const std::shared_ptr<KeyRecord>&, const SubjectDN&, Extensions&, bool,
                             const AlgorithmId&)
{
    notImplemented("VelToken::createPkcs10");
}

bytes VelToken::pkcs10Sign(const std::shared_ptr<KeyRecord>&, const bytes&, bool, const AlgorithmId&)
{
    notImplemented("VelToken::pkcs10Sign");
}

bytes VelToken::getPublicKey(const std::shared_ptr<KeyRecord>&)
{
    notImplemented("VelToken::getPublicKey");
}

std::vector<X509> VelToken::certificateList(CertType)
{
    notImplemented("VelToken::certificateList");
}

bytes VelToken::importUserCertificate(const std::shared_ptr<KeyRecord>&, const bytes&)
{
    notImplemented("VelToken::importUserCertificate");
}

void VelToken::deleteUserCertificate(const std::shared_ptr<KeyRecord>&)
{
    notImplemented("VelToken::deleteUserCertificate");
}

bytes VelToken::importCertificate(const bytes&, CertType)
{
    notImplemented("VelToken::importCertificate");
}

void VelToken::deleteCertificate(const bytes&, CertType)
{
    notImplemented("VelToken::deleteCertificate");
}

std::shared_ptr<KeyRecord> VelToken::findKeyByCertificate(const bytes&, bool)
{
    notImplemented("VelToken::findKeyByCertificate");
}

X509 VelToken::findCertificateByKey(const std::shared_ptr<KeyRecord>&)
{
    notImplemented("VelToken::findCertificateByKey");
}

void VelToken::updateKeysInfo()
{
    notImplemented("VelToken::updateKeysInfo");
}

bool VelToken::verifySign(const bytes&, const bytes&, const bytes&, const AlgorithmId&, std::string_view,
                          bool)
{
    notImplemented("VelToken::verifySign");
}

// ---- recognition ----

std::shared_ptr<KeyStore> getVelToken(std::string_view reader, const std::vector<unsigned char>& atr)
{
    bs::Logger log("getVelToken");
    const unsigned char state = atr.size() > veltoken::ATR_STATE_INDEX ? atr[veltoken::ATR_STATE_INDEX] : 0;
    switch (state) {
    case veltoken::STATE_PIN_BLOCKED:
        bs::logAndThrow(log, PinBlocked());
    case veltoken::STATE_NOT_INITIALIZED:
        bs::logAndThrow(log, DeviceNotInitialized());
    case veltoken::STATE_WAITING_ACTIVATION:
        veltoken::activate(reader);
        bs::logAndThrow(log, NeedReconnectVelToken());
    default:
        return std::make_shared<VelToken>(reader);
    }
}

void setVelTokenPkcs11Path(std::string_view) {}
