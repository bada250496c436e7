#include "capi/handles.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "asn1/tlv.h"
#include "base/encoding.h"
#include "base/errors.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "base/strings.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "capi/wrapper.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"

namespace capi
{

namespace
{

// A CSP answer that cannot be right (a length beyond the buffer given, a
// blob of the wrong form).
[[noreturn]] void refuseAnswer(std::uint32_t value, const char* catalogueCode)
{
    bs::logAndThrow(bs::Logger("capi::handles"), Error::fromCatalogue(value, catalogueCode));
}

// The two-call pattern of the CSP's variable-length outputs: `call(buffer,
// &length)` first without buffer for the size, then with a buffer of that
// size. A CSP that asks for more the second time (ERROR_MORE_DATA) is given
// it a few times; a length beyond the buffer is never believed, one beyond
// `maxSize` never allocated. Nothing
// when either call fails with `end` (the end of an enumeration).
template <class Call>
std::optional<bytes> readSizedUntil(const Wrapper& wrapper, Call call, std::optional<DWORD> end,
                                    DWORD maxSize = MAX_READ_SIZE)
{
    DWORD size = 0;
    if (!call(nullptr, &size)) {
        const DWORD error = wrapper.GetLastError();
        if (error == end)
            return std::nullopt;
        handleError(error);
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (size > maxSize)
            refuseAnswer(NTE_FAIL, "CAPI-000017");
        bytes out(size);
        DWORD length = size;
        if (call(out.empty() ? nullptr : out.data(), &length)) {
            if (length > out.size())
                refuseAnswer(NTE_FAIL, "CAPI-000017");
            out.resize(length);
            return out;
        }
        const DWORD error = wrapper.GetLastError();
        if (error == end)
            return std::nullopt;
        if (error != ERROR_MORE_DATA || length <= size)
            handleError(error);
        size = length;
    }
    refuseAnswer(NTE_FAIL, "CAPI-000017");
}

template <class Call> bytes readSized(const Wrapper& wrapper, Call call)
{
    return *readSizedUntil(wrapper, call, std::nullopt);
}

std::string textUpToNul(const bytes& value)
{
    const auto end = std::find(value.begin(), value.end(), 0);
    return std::string(value.begin(), end);
}

// A container name as the CSP's CP1251 bytes. A character without a CP1251
// byte would reach the CSP as "?" and name another container, bytes that are
// not UTF-8 do not come back the same, and a NUL would cut the name short:
// InvalidKeyAlias.
std::string containerNameCp1251(std::string_view utf8)
{
    std::string text = encoding::utf8_to_cp1251(utf8);
    if (utf8.find('\0') != std::string_view::npos || encoding::cp1251_to_utf8(text) != utf8)
        bs::logAndThrow(bs::Logger("capi::handles"), InvalidKeyAlias());
    return text;
}

// The password as the CSP's NUL-terminated CP1251 bytes; every copy made on
// the way is wiped. A character without a CP1251 byte would weaken the
// password to "?": InvalidPinCharacter.
bytes passwordBytes(std::wstring_view password)
{
    std::string text = encoding::utf16_to_cp1251(password);
    std::wstring back = encoding::cp1251_to_utf16(text);
    const bool exact = back == password;
    bs::secureZero(&back);
    if (!exact) {
        bs::secureZero(&text);
        bs::logAndThrow(bs::Logger("capi::handles"), InvalidPinCharacter());
    }
    // Sized once with room for the NUL: growing it would leave a copy behind.
    bytes pin(text.size() + 1, 0);
    std::copy(text.begin(), text.end(), pin.begin());
    bs::secureZero(&text);
    return pin;
}

DWORD readDword(const bytes& data, std::size_t offset)
{
    return static_cast<DWORD>(data[offset]) | static_cast<DWORD>(data[offset + 1]) << 8 |
           static_cast<DWORD>(data[offset + 2]) << 16 | static_cast<DWORD>(data[offset + 3]) << 24;
}

} // namespace

DWORD bufferLength(std::size_t size)
{
    if (size > std::numeric_limits<DWORD>::max())
        throw std::invalid_argument("Data too long for the CSP");
    return static_cast<DWORD>(size);
}

// ---- Provider ---------------------------------------------------------------

std::string containerMedium(std::string_view container)
{
    const std::vector<std::string> parts = bs::splitVector(container, '\\', false, false);
    return parts.size() >= 3 ? parts[1] : std::string(container);
}

Provider::Provider(std::string_view container, PROV_TYPE provType, unsigned int flags)
    : m_wrapper(Wrapper::instance()), m_provType(provType)
{
    const bs::Logger log("capi::Provider");
    log.info("CryptAcquireContextA " + std::string(container));
    const std::string name = containerNameCp1251(container);
    HCRYPTPROV handle = 0;
    if (!m_wrapper->CryptAcquireContextA(&handle, container.empty() ? nullptr : name.c_str(), nullptr,
                                         provType, flags)) {
        const DWORD error = m_wrapper->GetLastError();
        if ((flags & CRYPT_NEWKEYSET) != 0 &&
            (error == NTE_BAD_KEYSET_PARAM || error == NTE_KEYSET_ENTRY_BAD)) {
            // The medium the new container names is not there.
            bs::logAndThrow(log,
                            Error(error, bs::message(localization, "CAPI-000023", containerMedium(container)),
                                  "CAPI-000023"));
        }
        handleError(error);
    }
    // Deleting a container hands back no context.
    if ((flags & CRYPT_DELETEKEYSET) == 0)
        m_handle = handle;
}

Provider::~Provider()
{
    close();
}

Provider::Provider(Provider&& other) noexcept
    : m_wrapper(std::move(other.m_wrapper)), m_handle(std::exchange(other.m_handle, 0)),
      m_provType(other.m_provType)
{
}

Provider& Provider::operator=(Provider&& other) noexcept
{
    if (this != &other) {
        close();
        m_wrapper = std::move(other.m_wrapper);
        m_handle = std::exchange(other.m_handle, 0);
        m_provType = other.m_provType;
    }
    return *this;
}

void Provider::close() noexcept
{
    if (m_handle != 0)
        m_wrapper->CryptReleaseContext(std::exchange(m_handle, 0), 0);
}

Provider Provider::verifyContext(PROV_TYPE provType)
{
    return Provider({}, provType, CRYPT_VERIFYCONTEXT);
}

void Provider::deleteContainer(std::string_view container, PROV_TYPE provType)
{
    Provider(container, provType, CRYPT_DELETEKEYSET);
}

void Provider::discardContainer(std::string_view container, PROV_TYPE provType) noexcept
{
    try {
        deleteContainer(container, provType);
    } catch (const std::exception& e) {
        bs::Logger("capi::Provider::discardContainer")
            .warning(std::string("the new container stays: ") + e.what());
    }
}

bytes Provider::param(unsigned int id, unsigned int flags) const
{
    return readSized(*m_wrapper, [&](BYTE* data, DWORD* length) {
        return m_wrapper->CryptGetProvParam(m_handle, id, data, length, flags);
    });
}

std::string Provider::stringParam(unsigned int id, unsigned int flags) const
{
    return textUpToNul(param(id, flags));
}

void Provider::enumerate(unsigned int id, unsigned int flags, const std::function<void(std::string)>& take,
                         std::size_t limit) const
{
    unsigned int step = CRYPT_FIRST;
    for (std::size_t count = 0;; ++count) {
        const std::optional<bytes> value = readSizedUntil(
            *m_wrapper,
            [&](BYTE* data, DWORD* length) {
                return m_wrapper->CryptGetProvParam(m_handle, id, data, length, step | flags);
            },
            ERROR_NO_MORE_ITEMS, MAX_ENUMERATED_NAME);
        if (!value)
            return;
        if (count == limit)
            refuseAnswer(NTE_FAIL, "CAPI-000017");
        take(textUpToNul(*value));
        step = CRYPT_NEXT;
    }
}

void Provider::setParam(unsigned int id, const bytes& data, unsigned int flags) const
{
    if (!m_wrapper->CryptSetProvParam(m_handle, id, data.data(), flags))
        handleError(m_wrapper->GetLastError());
}

void Provider::setStringParam(unsigned int id, std::string_view text, unsigned int flags) const
{
    bytes data(text.begin(), text.end());
    data.push_back(0);
    setParam(id, data, flags);
}

std::string Provider::vendor() const
{
    const std::string name = stringParam(PP_NAME, 0);
    return name.substr(0, name.find(' '));
}

// ---- Key --------------------------------------------------------------------

Key::Key(Provider provider, HCRYPTKEY handle, DWORD keySpec)
    : m_provider(std::move(provider)), m_handle(handle), m_keySpec(keySpec)
{
}

Key::Key(std::string_view container, PROV_TYPE provType) : m_provider(container, provType, 0)
{
    const Wrapper& wrapper = *m_provider.wrapper();
    for (const DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        if (wrapper.CryptGetUserKey(m_provider.get(), keySpec, &m_handle)) {
            m_keySpec = keySpec;
            return;
        }
        const DWORD error = wrapper.GetLastError();
        if (error != NTE_NO_KEY || keySpec == AT_SIGNATURE)
            handleError(error);
    }
}

Key::Key(PROV_TYPE provType, std::string_view alias, const AlgorithmId& algorithm, std::string_view paramsOid,
         std::wstring_view password, unsigned int rsaBits)
    : m_provider(alias, provType, CRYPT_NEWKEYSET)
{
    const bs::Logger log("capi::Key");
    const Wrapper& wrapper = *m_provider.wrapper();
    try {
        if (algorithm.isGost() && !paramsOid.empty())
            m_provider.setStringParam(getOidParamByProviderType(provType), paramsOid, 0);
        if (!password.empty()) {
            bytes pin = passwordBytes(password);
            const BOOL set = wrapper.CryptSetProvParam(m_provider.get(), PP_KEYEXCHANGE_PIN, pin.data(), 0);
            bs::secureZero(&pin);
            if (!set)
                handleError(wrapper.GetLastError());
        }
        log.info("CryptGenKey algorithm=" + algorithm.name());
        const DWORD flags = algorithm.isRsa() ? static_cast<DWORD>(rsaBits) << 16 : 0;
        if (!wrapper.CryptGenKey(m_provider.get(), AT_KEYEXCHANGE, flags, &m_handle))
            handleError(wrapper.GetLastError());
        m_keySpec = AT_KEYEXCHANGE;
    } catch (...) {
        // The half-made container would hold the alias: take it away again.
        m_provider.close();
        Provider::discardContainer(alias, provType);
        throw;
    }
}

Key::Key(PROV_TYPE provType, const bytes& publicKeyBlob)
    : Key(importKey(Provider::verifyContext(provType), publicKeyBlob))
{
}

Key Key::importKey(Provider provider, const bytes& blob)
{
    const Wrapper& wrapper = *provider.wrapper();
    HCRYPTKEY handle = 0;
    if (!wrapper.CryptImportKey(provider.get(), blob.data(), bufferLength(blob.size()), 0, 0, &handle))
        handleError(wrapper.GetLastError());
    return Key(std::move(provider), handle, 0);
}

Key::~Key()
{
    if (m_handle != 0)
        m_provider.wrapper()->CryptDestroyKey(m_handle);
}

Key::Key(Key&& other) noexcept
    : m_provider(std::move(other.m_provider)), m_handle(std::exchange(other.m_handle, 0)),
      m_keySpec(other.m_keySpec)
{
}

Key& Key::operator=(Key&& other) noexcept
{
    if (this != &other) {
        if (m_handle != 0)
            m_provider.wrapper()->CryptDestroyKey(std::exchange(m_handle, 0));
        m_provider = std::move(other.m_provider);
        m_handle = std::exchange(other.m_handle, 0);
        m_keySpec = other.m_keySpec;
    }
    return *this;
}

bytes Key::exportKey(DWORD blobType) const
{
    const Wrapper& wrapper = *m_provider.wrapper();
    return readSized(wrapper, [&](BYTE* data, DWORD* length) {
        return wrapper.CryptExportKey(m_handle, 0, blobType, 0, data, length);
    });
}

bytes Key::publicKey() const
{
    const bytes blob = exportKey(PUBLICKEYBLOB);
    constexpr std::size_t HEADER = 16; // BLOBHEADER, magic, bit length
    if (blob.size() < HEADER || blob[0] != PUBLICKEYBLOB || readDword(blob, 8) != GOST_PUBKEY_MAGIC)
        refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
    const std::size_t keySize = readDword(blob, 12) / 8;
    if (keySize == 0 || blob.size() - HEADER < keySize)
        refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
    // The parameter-set OIDs fill what lies before the key, which takes the
    // last keySize bytes (a key may well start with the OID tag itself).
    const std::size_t keyOffset = blob.size() - keySize;
    std::size_t offset = HEADER;
    while (offset < keyOffset) {
        try {
            const Tlv oid(blob.data() + offset, keyOffset - offset);
            if (oid.tag() != asn1tag::OBJECT_IDENTIFIER)
                refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
            offset += oid.data().size();
        } catch (const Error&) {
            throw;
        } catch (const std::exception&) {
            refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
        }
    }
    return bytes(blob.begin() + static_cast<std::ptrdiff_t>(keyOffset), blob.end());
}

RsaPublicKey Key::rsaPublicKey() const
{
    const bytes blob = exportKey(PUBLICKEYBLOB);
    constexpr std::size_t HEADER = 20; // BLOBHEADER, RSAPUBKEY
    if (blob.size() < HEADER || blob[0] != PUBLICKEYBLOB || readDword(blob, 8) != RSA1_MAGIC)
        refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
    const std::size_t modulusSize = readDword(blob, 12) / 8;
    if (modulusSize == 0 || blob.size() - HEADER < modulusSize)
        refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
    RsaPublicKey key;
    key.exponent = readDword(blob, 16);
    key.modulus.assign(blob.rbegin() + static_cast<std::ptrdiff_t>(blob.size() - HEADER - modulusSize),
                       blob.rend() - static_cast<std::ptrdiff_t>(HEADER));
    return key;
}

AlgorithmId Key::signAlgorithm() const
{
    const DWORD algorithm = dwordParam(KP_ALGID, 0);
    switch (algorithm) {
    case CALG_GOST_R3410_2001:
        return GOST_R_3410_2001_GOST_R_3411_1994;
    case CALG_GOST_R3410_2012_256:
        return GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    case CALG_GOST_R3410_2012_512:
        return GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
    case CALG_RSA_SIGN:
    case CALG_RSA_KEYX:
        return RSA_ENCRYPTION;
    default:
        bs::logAndThrow(bs::Logger("capi::Key::signAlgorithm"),
                        UnsupportedAlgorithm(std::to_string(algorithm)));
    }
}

bytes Key::param(unsigned int id, unsigned int flags) const
{
    const Wrapper& wrapper = *m_provider.wrapper();
    return readSized(wrapper, [&](BYTE* data, DWORD* length) {
        return wrapper.CryptGetKeyParam(m_handle, id, data, length, flags);
    });
}

DWORD Key::dwordParam(unsigned int id, unsigned int flags) const
{
    const bytes value = param(id, flags);
    if (value.size() != sizeof(DWORD))
        refuseAnswer(NTE_BAD_DATA, "CAPI-000008");
    return readDword(value, 0);
}

void Key::setParam(unsigned int id, const bytes& data, unsigned int flags) const
{
    const Wrapper& wrapper = *m_provider.wrapper();
    if (!wrapper.CryptSetKeyParam(m_handle, id, data.data(), flags))
        handleError(wrapper.GetLastError());
}

// ---- Hash -------------------------------------------------------------------

Hash::Hash(HCRYPTPROV provider, const AlgorithmId& digest) : m_wrapper(Wrapper::instance())
{
    const ALG_ID algorithm = getDigestAlgorithmId(digest);
    if (!m_wrapper->CryptCreateHash(provider, algorithm, 0, 0, &m_handle))
        handleError(m_wrapper->GetLastError());
}

Hash::~Hash()
{
    if (m_handle != 0)
        m_wrapper->CryptDestroyHash(m_handle);
}

Hash::Hash(Hash&& other) noexcept
    : m_wrapper(std::move(other.m_wrapper)), m_handle(std::exchange(other.m_handle, 0))
{
}

Hash& Hash::operator=(Hash&& other) noexcept
{
    if (this != &other) {
        if (m_handle != 0)
            m_wrapper->CryptDestroyHash(m_handle);
        m_wrapper = std::move(other.m_wrapper);
        m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
}

void Hash::update(const bytes& data) const
{
    if (data.empty())
        return;
    if (!m_wrapper->CryptHashData(m_handle, data.data(), bufferLength(data.size()), 0))
        handleError(m_wrapper->GetLastError());
}

bytes Hash::doFinal() const
{
    return param(HP_HASHVAL, 0);
}

bytes Hash::param(unsigned int id, unsigned int flags) const
{
    return readSized(*m_wrapper, [&](BYTE* data, DWORD* length) {
        return m_wrapper->CryptGetHashParam(m_handle, id, data, length, flags);
    });
}

void Hash::setParam(unsigned int id, const bytes& data, unsigned int flags) const
{
    if (!m_wrapper->CryptSetHashParam(m_handle, id, data.data(), flags))
        handleError(m_wrapper->GetLastError());
}

bytes Hash::sign(DWORD keySpec) const
{
    return readSized(*m_wrapper, [&](BYTE* data, DWORD* length) {
        return m_wrapper->CryptSignHashA(m_handle, keySpec, nullptr, 0, data, length);
    });
}

void Hash::verify(const bytes& signature, const Key& publicKey) const
{
    if (!m_wrapper->CryptVerifySignatureA(m_handle, signature.data(), bufferLength(signature.size()),
                                          publicKey.get(), nullptr, 0))
        handleError(m_wrapper->GetLastError());
}

// ---- Certificates -----------------------------------------------------------

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
