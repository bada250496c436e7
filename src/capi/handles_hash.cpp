// The owner of a CSP hash object (capi::Hash).
#include "capi/handles.h"

#include <utility>

#include "capi/errors.h"
#include "capi/functions.h"
#include "capi/handles_reads.h"
#include "capi/wrapper.h"

namespace capi
{

using detail::readSized;

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

} // namespace capi
