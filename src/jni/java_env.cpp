#include "jni/java_env.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "base/encoding.h"
#include "base/error.h"
#include "jni/entity_class.h"
#include "jni/error_kinds.h"
#include "jni/local_ref.h"

namespace jni
{

namespace
{

// A Java string of the UTF-16 form of the text: a message is standard UTF-8
// (it may carry outside data), which NewStringUTF would read as the JVM's
// modified UTF-8 and garble. Null when a JNI call failed (its own exception
// is then pending) or the text is too long for Java.
LocalRef<jstring> javaText(JNIEnv* env, std::string_view text)
{
    const std::u16string units = encoding::utf8_to_utf16_units(text);
    if (units.size() > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
        return {};
    }
    return LocalRef<jstring>(
        env, env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size())));
}

// Throws the exception `cls` builds with `constructor` from the arguments;
// false when a JNI call failed.
template <class... Args> bool throwNew(JNIEnv* env, jclass cls, jmethodID constructor, Args... args)
{
    LocalRef<jobject> error(env, env->NewObject(cls, constructor, args...));
    if (!error) {
        return false;
    }
    return env->Throw(static_cast<jthrowable>(error.get())) == JNI_OK;
}

// What Java is told of a failure.
struct Facts {
    const char* message = "Unknown error";
    const char* code = ormid_signer::INTERNAL_ERROR_CODE;
    std::int32_t triesLeft = -1;
    std::int64_t vendorCode = -1;
    const std::optional<std::string>* alias = nullptr;
    const std::optional<std::string>* serial = nullptr;
};

Facts factsOf(const std::exception* error) noexcept
{
    Facts facts;
    if (error == nullptr) {
        return facts;
    }
    facts.message = error->what();
    if (const auto* failure = dynamic_cast<const bs::Failure*>(error)) {
        if (*failure->errorCode() != '\0') {
            facts.code = failure->errorCode();
        }
        facts.triesLeft = failure->triesLeft();
        facts.vendorCode = failure->vendorCode();
        facts.alias = &failure->failedAlias();
        facts.serial = &failure->failedSerial();
    }
    return facts;
}

// Null for no value; false when the string could not be made.
bool optionalText(JNIEnv* env, const std::optional<std::string>* value, LocalRef<jstring>& out)
{
    if (value == nullptr || !value->has_value()) {
        return true;
    }
    out = javaText(env, **value);
    return static_cast<bool>(out);
}

bool throwSignerException(JNIEnv* env, const Facts& facts)
{
    jclass cls = nullptr;
    jmethodID constructor = nullptr;
    try {
        cls = entities::SIGNER_EXCEPTION.cls(env);
        constructor = entities::SIGNER_EXCEPTION.constructor(env);
    } catch (const std::exception&) {
        env->ExceptionClear();
        return false; // an older jar without the class
    }
    LocalRef<jstring> message = javaText(env, facts.message);
    LocalRef<jstring> code(env, env->NewStringUTF(facts.code));
    LocalRef<jstring> alias;
    LocalRef<jstring> serial;
    if (!message || !code || !optionalText(env, facts.alias, alias) ||
        !optionalText(env, facts.serial, serial)) {
        return false;
    }
    return throwNew(env, cls, constructor, message.get(), code.get(), static_cast<jint>(facts.triesLeft),
                    static_cast<jlong>(facts.vendorCode), alias.get(), serial.get());
}

bool throwRuntimeException(JNIEnv* env, const char* message)
{
    LocalRef<jclass> cls(env, env->FindClass("java/lang/RuntimeException"));
    if (!cls) {
        return true; // NoClassDefFoundError stays pending
    }
    jmethodID constructor = env->GetMethodID(cls.get(), "<init>", "(Ljava/lang/String;)V");
    LocalRef<jstring> text = constructor != nullptr ? javaText(env, message) : LocalRef<jstring>();
    if (text && throwNew(env, cls.get(), constructor, text.get())) {
        return true;
    }
    // Out of memory on either side: the message goes as it stands.
    env->ExceptionClear();
    return env->ThrowNew(cls.get(), message) == JNI_OK;
}

} // namespace

void throwFailure(JNIEnv* env, const std::exception* error) noexcept
{
    env->ExceptionClear();
    const Facts facts = factsOf(error);
    try {
        if (throwSignerException(env, facts)) {
            return;
        }
        env->ExceptionClear();
        throwRuntimeException(env, facts.message);
    } catch (const std::exception&) {
        // Out of memory on the native side: the text goes as it stands.
        env->ExceptionClear();
        LocalRef<jclass> cls(env, env->FindClass("java/lang/RuntimeException"));
        if (cls) {
            env->ThrowNew(cls.get(), facts.message);
        }
    }
}

} // namespace jni
