// Checks around JNI calls that can raise a Java exception.
#pragma once

#include <jni.h>

#include <exception>

namespace jni
{

// A Java exception (OutOfMemoryError, ArrayIndexOutOfBoundsException, ...) is
// pending on the calling thread. The common frame leaves it in place, so Java
// sees the original exception.
class PendingJavaException : public std::exception
{
  public:
    const char* what() const noexcept override { return "Java exception pending"; }
};

// Throws PendingJavaException when the last JNI call raised an exception.
inline void checkPending(JNIEnv* env)
{
    if (env->ExceptionCheck()) {
        throw PendingJavaException();
    }
}

// Clears whatever is pending and raises com.ormid.signer.SignerException
// with error's what(), its catalogue code and data (bs::Failure; a failure
// without a catalogue entry carries the internal-error code); null `error`
// stands for a foreign exception ("Unknown error"). Without that class (an
// older jar) java.lang.RuntimeException with the same text is raised.
void throwFailure(JNIEnv* env, const std::exception* error) noexcept;

} // namespace jni
