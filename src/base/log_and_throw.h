// A refusal logged with its text before it is thrown, in one step.
#pragma once

#include "base/logger.h"

namespace bs
{

// Logs `error`'s text at error level under `log`, then throws it.
template <class Error> [[noreturn]] void logAndThrow(const Logger& log, Error error)
{
    log.error(error.what());
    throw error;
}

} // namespace bs
