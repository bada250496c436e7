// The common frame of every exported function: the body runs inside one
// handler, and no C++ exception ever crosses into the Java virtual machine.
#pragma once

#include <jni.h>

#include <exception>
#include <type_traits>

#include "jni/java_env.h"

namespace jni
{

// Text given to Java for an exception that does not derive from std::exception.
inline constexpr const char* UNKNOWN_ERROR_TEXT = "Unknown error";

// Runs `body` and returns its result. On a C++ exception the pending Java
// state is cleared, java.lang.RuntimeException is raised with what() and a
// null/zero/false value of the result type is returned.
template <class Body> auto guarded(JNIEnv* env, Body&& body) noexcept -> decltype(body())
{
    using Result = decltype(body());
    try {
        return body();
    } catch (const PendingJavaException&) {
        // The Java exception raised by a JNI call stays pending as it is.
    } catch (const std::exception& e) {
        throwRuntimeException(env, e.what());
    } catch (...) {
        throwRuntimeException(env, UNKNOWN_ERROR_TEXT);
    }
    if constexpr (!std::is_void_v<Result>) {
        return Result{};
    }
}

} // namespace jni
