#include "jni/java_env.h"

#include <exception>
#include <limits>
#include <string>

#include "base/encoding.h"
#include "jni/local_ref.h"

namespace jni
{

namespace
{

// java.lang.RuntimeException(message) made from the UTF-16 form of the text:
// a message is standard UTF-8 (it may carry outside data), which ThrowNew
// would read as the JVM's modified UTF-8 and garble. False when a JNI call
// failed (its own exception is then pending).
bool throwWithUtf16Message(JNIEnv* env, jclass cls, const char* message)
{
    const std::u16string units = encoding::utf8_to_utf16_units(message);
    if (units.size() > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
        return false;
    }
    jmethodID constructor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V");
    if (constructor == nullptr) {
        return false;
    }
    LocalRef<jstring> text(
        env, env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size())));
    if (!text) {
        return false;
    }
    LocalRef<jobject> error(env, env->NewObject(cls, constructor, text.get()));
    if (!error) {
        return false;
    }
    return env->Throw(static_cast<jthrowable>(error.get())) == JNI_OK;
}

} // namespace

void throwRuntimeException(JNIEnv* env, const char* message) noexcept
{
    env->ExceptionClear();
    LocalRef<jclass> cls(env, env->FindClass("java/lang/RuntimeException"));
    if (!cls) {
        return; // NoClassDefFoundError stays pending
    }
    bool thrown = false;
    try {
        thrown = throwWithUtf16Message(env, cls.get(), message);
    } catch (const std::exception&) {
        // Out of memory on the native side: the message goes as it stands.
    }
    if (!thrown && !env->ExceptionCheck()) {
        env->ThrowNew(cls.get(), message);
    }
}

} // namespace jni
