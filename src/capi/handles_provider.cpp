// The owner of a CSP provider context (capi::Provider) and the medium a
// container name points at.
#include "capi/handles.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/encoding.h"
#include "base/errors.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/strings.h"
#include "capi/errors.h"
#include "capi/handles_reads.h"
#include "capi/wrapper.h"
#include "cryptoprovider/core/errors.h"

namespace capi
{

namespace
{

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

} // namespace

using detail::readSized;
using detail::readSizedUntil;
using detail::refuseAnswer;

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

} // namespace capi
