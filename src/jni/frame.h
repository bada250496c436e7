// The common frame of every exported function: the body runs inside one
// handler, and no C++ exception ever crosses into the Java virtual machine.
#pragma once

#include <jni.h>

#include <exception>
#include <type_traits>

#include "jni/java_env.h"

namespace jni
{

// Runs `body` and returns its result. On a C++ exception the pending Java
// state is cleared, com.ormid.signer.SignerException is raised with what(),
// the code and the data of the failure (throwFailure), and a null/zero/false
// value of the result type is returned.
template <class Body> auto guarded(JNIEnv* env, Body&& body) noexcept -> decltype(body())
{
    using Result = decltype(body());
    try {
        return body();
    } catch (const PendingJavaException&) {
        // The Java exception raised by a JNI call stays pending as it is.
    } catch (const std::exception& e) {
        throwFailure(env, &e);
    } catch (...) {
        throwFailure(env, nullptr);
    }
    if constexpr (!std::is_void_v<Result>) {
        return Result{};
    }
}

} // namespace jni
