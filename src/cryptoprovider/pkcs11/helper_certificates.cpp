// Certificates of the PKCS#11 helper: listing, storing, finding and
// removing certificate objects, and the private key of a certificate.
#include "cryptoprovider/pkcs11/helper.h"

#include <optional>

#include "base/conv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "x509/errors.h"
#include "x509/pem.h"

namespace pkcs11
{

namespace
{

// Whether a failed first attempt to store a certificate is the import's own
// error: the device (or the module, beyond recovery: CKR_GENERAL_ERROR), the
// session, the token's presence, the login or memory failed, which storing it
// without a category would not mend. Any other failure may be the token
// refusing the category, in whatever words.
bool keepsImportError(std::uint32_t rv)
{
    switch (rv) {
    case CKR_HOST_MEMORY:
    case CKR_GENERAL_ERROR:
    case CKR_DEVICE_ERROR:
    case CKR_DEVICE_MEMORY:
    case CKR_DEVICE_REMOVED:
    case CKR_SESSION_CLOSED:
    case CKR_SESSION_COUNT:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_PARALLEL_NOT_SUPPORTED:
    case CKR_SESSION_READ_ONLY:
    case CKR_SESSION_EXISTS:
    case CKR_SESSION_READ_ONLY_EXISTS:
    case CKR_SESSION_READ_WRITE_SO_EXISTS:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_TOKEN_NOT_RECOGNIZED:
    case CKR_PIN_INCORRECT:
    case CKR_PIN_EXPIRED:
    case CKR_USER_ALREADY_LOGGED_IN:
    case CKR_USER_NOT_LOGGED_IN:
    case CKR_USER_PIN_NOT_INITIALIZED:
    case CKR_USER_TYPE_INVALID:
    case CKR_USER_ANOTHER_ALREADY_LOGGED_IN:
    case CKR_USER_TOO_MANY_TYPES:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void certificateNotFound(const bs::Logger& log)
{
    bs::logAndThrow(log, CertificateNotFound());
}

// A certificate object's value as a parsed certificate; nullopt when it
// cannot be read or is no certificate.
std::optional<X509> readCertificate(const Pkcs11& module, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                    bool withId)
{
    try {
        const bytes id = withId ? module.getAttribute(session, object, CKA_ID) : X509::DEFAULT_CERT_ID;
        X509 certificate(id, module.getAttribute(session, object, CKA_VALUE));
        certificate.subject(); // parses the certificate body
        return certificate;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Every certificate object on the token that reads and parses.
std::vector<X509> tokenCertificates(const Helper& helper)
{
    const std::vector<CK_OBJECT_HANDLE> found = helper.findObjects({
        attribute(CKA_TOKEN, TRUE_VALUE),
        attribute(CKA_CLASS, CERTIFICATE_VALUE),
    });
    std::vector<X509> certificates;
    for (CK_OBJECT_HANDLE object : found) {
        if (std::optional<X509> certificate = readCertificate(*helper.get(), helper.session(), object, false))
            certificates.push_back(std::move(*certificate));
    }
    return certificates;
}

} // namespace

CK_OBJECT_HANDLE Helper::findPrivateKey(const bytes& issuer, const bytes& serial) const
{
    bs::Logger log("pkcs11::Helper::findPrivateKey");
    for (const X509& certificate : tokenCertificates(*this)) {
        if (certificate.serial() == serial && certificate.issuer() == issuer)
            return findPrivateKey(certificate.publicKey(Endian::Big));
    }
    log.error("KeyNotFound");
    throw KeyNotFound();
}

std::vector<X509> Helper::certificateList(CertType type) const
{
    bs::Logger log("pkcs11::Helper::certificateList");
    const bytes category = ulongValue(type);
    const std::vector<CK_OBJECT_HANDLE> found = findObjects({
        attribute(CKA_TOKEN, TRUE_VALUE),
        attribute(CKA_CLASS, CERTIFICATE_VALUE),
        attribute(CKA_CERTIFICATE_CATEGORY, category),
    });
    std::vector<X509> certificates;
    for (CK_OBJECT_HANDLE object : found) {
        if (std::optional<X509> certificate = readCertificate(module(), session(), object, true))
            certificates.push_back(std::move(*certificate));
    }
    return certificates;
}

CK_OBJECT_HANDLE Helper::importCertificate(const bytes& id, std::string_view label, const bytes& der,
                                           CertType type, bool onToken) const
{
    bs::Logger log("pkcs11::Helper::importCertificate");
    const X509 certificate(id, der);
    const bytes serial = certificate.serial();
    const bytes subject = certificate.subject(); // throws for a damaged certificate
    const bytes& token = onToken ? TRUE_VALUE : FALSE_VALUE;
    for (CK_OBJECT_HANDLE old : findObjects({
             attribute(CKA_TOKEN, token),
             attribute(CKA_ID, id),
             attribute(CKA_CLASS, CERTIFICATE_VALUE),
         }))
        deleteObject(old);

    const bytes labelValue(label.begin(), label.end());
    const bytes x509Type = ulongValue(CKC_X_509);
    const bytes category = ulongValue(type);
    std::vector<CK_ATTRIBUTE> pattern{
        attribute(CKA_TOKEN, token),
        attribute(CKA_ID, id),
        attribute(CKA_CLASS, CERTIFICATE_VALUE),
        attribute(CKA_SERIAL_NUMBER, serial),
        attribute(CKA_SUBJECT, subject),
        attribute(CKA_PRIVATE, TRUE_VALUE),
        attribute(CKA_LABEL, labelValue),
        attribute(CKA_VALUE, der),
        attribute(CKA_CERTIFICATE_TYPE, x509Type),
        attribute(CKA_CERTIFICATE_CATEGORY, category),
    };
    // Some tokens know no certificate categories and refuse the template,
    // each with its own return value: the certificate is stored without one.
    // The failures keepsImportError names stay the import's, as do those
    // mapped to their own classes (a blocked PIN, a token not present, a
    // device out of order, a PIN of the wrong length).
    try {
        return createObject(pattern);
    } catch (const Exception& error) {
        if (keepsImportError(error.code()))
            throw;
        log.warning(error.name());
    } catch (const FunctionNotImplemented& error) {
        log.warning(error.what());
    } catch (const FunctionCanceled& error) {
        log.warning(error.what());
    }
    pattern.pop_back();
    return createObject(pattern);
}

std::vector<CK_OBJECT_HANDLE> Helper::importCertificateChain(const std::vector<bytes>& certificates,
                                                             CertType type) const
{
    std::vector<CK_OBJECT_HANDLE> handles;
    for (const bytes& item : certificates) {
        const bytes der = cert::isPemFormat(item) ? conv::pem_to_x509(item) : item;
        const X509 certificate(der);
        handles.push_back(
            importCertificate(certificate.serial(), certificate.subjectName(), der, type, false));
    }
    return handles;
}

CK_OBJECT_HANDLE Helper::findCertificate(const bytes& id, CertType type) const
{
    bs::Logger log("pkcs11::Helper::findCertificate");
    const bytes category = ulongValue(type);
    const std::vector<CK_OBJECT_HANDLE> found = findObjects({
        attribute(CKA_TOKEN, TRUE_VALUE),
        attribute(CKA_ID, id),
        attribute(CKA_CLASS, CERTIFICATE_VALUE),
        attribute(CKA_CERTIFICATE_CATEGORY, category),
    });
    if (found.empty())
        certificateNotFound(log);
    return found.front();
}

void Helper::deleteCertificate(const bytes& id, CertType type) const
{
    deleteObject(findCertificate(id, type));
}

bytes Helper::findCertificateByPublicKey(const bytes& publicKey) const
{
    bs::Logger log("pkcs11::Helper::findCertificateByPublicKey");
    for (const X509& certificate : tokenCertificates(*this)) {
        try {
            const PublicKey key = certificate.publicKey(Endian::Big);
            if (key.isGost() && key.gostKey() == publicKey)
                return certificate.data();
        } catch (const std::exception&) {
            // a certificate of an algorithm we do not read
        }
    }
    certificateNotFound(log);
}
} // namespace pkcs11
