// The library's load hook: the log is switched on here, once, from the Java
// system properties or the environment (base/log_sink.h).
#include <jni.h>

#include <optional>
#include <string>

#include "base/log_sink.h"
#include "jni/java_conv.h"
#include "jni/local_ref.h"

namespace
{

// System.getProperty(name); nullopt when it is unset or cannot be read (a
// refusing security manager: the exception is cleared).
std::optional<std::string> systemProperty(JNIEnv* env, const char* name)
{
    const jni::LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
    if (!system) {
        env->ExceptionClear();
        return std::nullopt;
    }
    const jmethodID getProperty =
        env->GetStaticMethodID(system.get(), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    const jni::LocalRef<jstring> key(env, env->NewStringUTF(name));
    if (getProperty == nullptr || !key) {
        env->ExceptionClear();
        return std::nullopt;
    }
    const jni::LocalRef<jstring> value(
        env, static_cast<jstring>(env->CallStaticObjectMethod(system.get(), getProperty, key.get())));
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return std::nullopt;
    }
    if (!value) {
        return std::nullopt;
    }
    return conv::to_string(env, value.get());
}

} // namespace

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*)
{
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) != JNI_OK || env == nullptr) {
        return JNI_VERSION_1_8;
    }
    try {
        bs::log_sink::configure(bs::resolveLogSettings(
            systemProperty(env, bs::LOG_PROPERTY), systemProperty(env, bs::LOG_LEVEL_PROPERTY),
            bs::environmentValue(bs::LOG_VARIABLE), bs::environmentValue(bs::LOG_LEVEL_VARIABLE)));
    } catch (...) {
        // The library works without its log.
        env->ExceptionClear();
    }
    return JNI_VERSION_1_8;
}
