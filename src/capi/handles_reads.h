// What the owners of the CSP's handles (handles_*.cpp) share: the refusal of
// an answer that cannot be right and the two-call reads of the CSP's
// variable-length outputs. Not for other callers.
#pragma once

#include <cstdint>
#include <optional>

#include "asn1/bytes.h"
#include "capi/capi_types.h"
#include "capi/errors.h"
#include "capi/handles.h"
#include "capi/wrapper.h"

namespace capi::detail
{

// A CSP answer that cannot be right (a length beyond the buffer given, a
// blob of the wrong form).
[[noreturn]] void refuseAnswer(std::uint32_t value, const char* catalogueCode);

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

} // namespace capi::detail
