// Every refusal of the provider is logged with its text before it is thrown.
#pragma once

#include "base/logger.h"

namespace provider
{

// Logs `error`'s text at error level under `log`, then throws it.
template <class Error> [[noreturn]] void logAndThrow(const bs::Logger& log, Error error)
{
    log.error(error.what());
    throw error;
}

} // namespace provider
