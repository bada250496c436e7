// The owners of a certificate context and of a certificate store of the
// current user (capi::CertContext, capi::CertStore).
#include "capi/handles.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/tlv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "capi/errors.h"
#include "capi/handles_reads.h"
#include "capi/wrapper.h"

namespace capi
{

using detail::refuseAnswer;

CertContext::CertContext(const bytes& der) : m_wrapper(Wrapper::instance())
{
    if (der.empty())
        bs::logAndThrow(bs::Logger("capi::CertContext"), std::invalid_argument("Certificate is empty"));
    m_context = m_wrapper->CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                        bufferLength(der.size()));
    if (m_context == nullptr)
        handleError(m_wrapper->GetLastError());
}

CertContext::CertContext(PCCERT_CONTEXT context) : m_wrapper(Wrapper::instance()), m_context(context)
{
    if (m_context == nullptr)
        throw std::invalid_argument("No certificate context");
}

CertContext::~CertContext()
{
    if (m_context != nullptr)
        m_wrapper->CertFreeCertificateContext(m_context);
}

CertContext::CertContext(CertContext&& other) noexcept
    : m_wrapper(std::move(other.m_wrapper)), m_context(std::exchange(other.m_context, nullptr))
{
}

CertContext& CertContext::operator=(CertContext&& other) noexcept
{
    if (this != &other) {
        if (m_context != nullptr)
            m_wrapper->CertFreeCertificateContext(m_context);
        m_wrapper = std::move(other.m_wrapper);
        m_context = std::exchange(other.m_context, nullptr);
    }
    return *this;
}

bytes CertContext::encoded() const
{
    if (m_context->pbCertEncoded == nullptr)
        return {};
    return bytes(m_context->pbCertEncoded, m_context->pbCertEncoded + m_context->cbCertEncoded);
}

std::vector<bytes> CertContext::enumCertificatesInStore(const CertStore& store)
{
    const std::shared_ptr<Wrapper> wrapper = Wrapper::instance();
    std::vector<bytes> certificates;
    // Each call frees the context it is given; the one held last is ours.
    PCCERT_CONTEXT previous = nullptr;
    while (PCCERT_CONTEXT next = wrapper->CertEnumCertificatesInStore(store.get(), previous)) {
        CertContext owned(next);
        if (certificates.size() == MAX_ENUMERATED_ITEMS)
            refuseAnswer(NTE_FAIL, "CAPI-000017");
        certificates.push_back(owned.encoded());
        previous = std::exchange(owned.m_context, nullptr);
    }
    const DWORD error = wrapper->GetLastError();
    if (error != CRYPT_E_NOT_FOUND && error != ERROR_NO_MORE_ITEMS)
        handleError(error);
    return certificates;
}

CertStore::CertStore(std::wstring_view name) : m_wrapper(Wrapper::instance())
{
    const std::wstring storeName(name);
    m_store = m_wrapper->CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                       storeName.c_str());
    if (m_store == nullptr)
        handleError(m_wrapper->GetLastError());
}

CertStore::~CertStore()
{
    if (m_store != nullptr)
        m_wrapper->CertCloseStore(m_store, 0);
}

CertStore::CertStore(CertStore&& other) noexcept
    : m_wrapper(std::move(other.m_wrapper)), m_store(std::exchange(other.m_store, nullptr))
{
}

CertStore& CertStore::operator=(CertStore&& other) noexcept
{
    if (this != &other) {
        if (m_store != nullptr)
            m_wrapper->CertCloseStore(m_store, 0);
        m_wrapper = std::move(other.m_wrapper);
        m_store = std::exchange(other.m_store, nullptr);
    }
    return *this;
}

bytes CertStore::findCertificate(const bytes& subjectPublicKeyInfo) const
{
    // SEQUENCE { AlgorithmIdentifier SEQUENCE { OID, parameters? }, BIT STRING }
    const std::vector<bytes> parts = der::getSequense(subjectPublicKeyInfo);
    if (parts.size() != 2)
        throw Asn1DecodingError();
    const std::vector<bytes> algorithm = der::getSequense(parts[0]);
    if (algorithm.empty() || algorithm.size() > 2)
        throw Asn1DecodingError();
    std::string oid = der::getObjectIdentifier(algorithm[0]).toString();
    bytes parameters = algorithm.size() == 2 ? algorithm[1] : bytes();
    const Tlv bitString(parts[1]);
    if (bitString.tag() != asn1tag::BIT_STRING || bitString.valueRef().empty())
        throw Asn1DecodingError();
    bytes key(bitString.valueRef().begin() + 1, bitString.valueRef().end());

    CERT_PUBLIC_KEY_INFO info{};
    info.Algorithm.pszObjId = oid.data();
    info.Algorithm.Parameters.cbData = bufferLength(parameters.size());
    info.Algorithm.Parameters.pbData = parameters.data();
    info.PublicKey.cbData = bufferLength(key.size());
    info.PublicKey.pbData = key.data();
    info.PublicKey.cUnusedBits = bitString.valueRef()[0];
    PCCERT_CONTEXT found = m_wrapper->CertFindCertificateInStore(
        m_store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY, &info, nullptr);
    if (found == nullptr) {
        const DWORD error = m_wrapper->GetLastError();
        if (error == CRYPT_E_NOT_FOUND)
            return {};
        handleError(error);
    }
    return CertContext(found).encoded();
}

void CertStore::addCertificate(const CertContext& certificate) const
{
    if (!m_wrapper->CertAddCertificateContextToStore(m_store, certificate.get(),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        handleError(m_wrapper->GetLastError());
}

} // namespace capi
