// A blocking PC/SC call waited for at most a given time. PC/SC offers no
// timeout of its own for a card that stops answering, nor for a connection
// waiting on another one's transaction: the call runs on a thread of its
// own, which the caller leaves behind when the time is up.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include <winscard.h>

namespace pcsc
{

// Runs `call` on a new thread and waits at most `timeout` for it.
// The thread owns `call` and so everything it captured: capture by value
// (shared owners of the handles and buffers the call uses, never a pointer
// to the caller's objects). The thread destroys `call` when it ends, which
// the caller waits for when the call finished in time; when the wait gives
// up, the thread alone lets go of what the call held, once PC/SC returns.
// Returns the call's result, or nothing when the time ran out (whether the
// call finished in time is decided once, under one lock); an exception of
// the call is thrown here. A thread that cannot be started gives
// SCARD_E_NO_MEMORY without running the call.
std::optional<LONG> callWithin(std::chrono::milliseconds timeout, std::function<LONG()> call);

} // namespace pcsc
