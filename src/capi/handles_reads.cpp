// The shared reads of the CSP handle owners, and bufferLength.
#include "capi/handles_reads.h"

#include <limits>
#include <stdexcept>

#include "base/log_and_throw.h"
#include "base/logger.h"

namespace capi
{

namespace detail
{

[[noreturn]] void refuseAnswer(std::uint32_t value, const char* catalogueCode)
{
    bs::logAndThrow(bs::Logger("capi::handles"), Error::fromCatalogue(value, catalogueCode));
}

} // namespace detail

DWORD bufferLength(std::size_t size)
{
    if (size > std::numeric_limits<DWORD>::max())
        throw std::invalid_argument("Data too long for the CSP");
    return static_cast<DWORD>(size);
}

} // namespace capi
