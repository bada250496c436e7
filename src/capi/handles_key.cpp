// The owner of a CSP key handle (capi::Key): a container's key pair, a new
// pair in a new container, imported public keys, and the key's values.
#include "capi/handles.h"

#include <algorithm>
#include <utility>

#include "asn1/tlv.h"
#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "capi/handles_reads.h"
#include "capi/wrapper.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"

namespace capi
{

namespace
{

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

using detail::readSized;
using detail::refuseAnswer;

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

} // namespace capi
