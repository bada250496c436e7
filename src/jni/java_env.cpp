#include "jni/java_env.h"

namespace jni
{

void throwRuntimeException(JNIEnv* env, const char* message) noexcept
{
    env->ExceptionClear();
    jclass cls = env->FindClass("java/lang/RuntimeException");
    if (cls == nullptr) {
        return; // NoClassDefFoundError stays pending
    }
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

} // namespace jni
