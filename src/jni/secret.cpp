#include "jni/secret.h"

#include <algorithm>

#include "base/secure.h"
#include "jni/java_env.h"

namespace jni
{

namespace
{

// Units read from Java at a time.
constexpr jsize CHUNK = 16;

} // namespace

SecretText::SecretText(JNIEnv* env, jstring text)
{
    if (text == nullptr) {
        return;
    }
    const jsize length = env->GetStringLength(text);
    checkPending(env);
    jchar chunk[CHUNK];
    try {
        // Sized once: the buffer never moves while it fills.
        m_text.resize(static_cast<std::size_t>(std::max<jsize>(length, 0)));
        for (jsize at = 0; at < length; at += CHUNK) {
            const jsize count = std::min(CHUNK, length - at);
            env->GetStringRegion(text, at, count, chunk);
            checkPending(env);
            std::copy(chunk, chunk + count, m_text.begin() + at);
        }
    } catch (...) {
        bs::secureZero(chunk, sizeof chunk);
        bs::secureZero(&m_text);
        throw;
    }
    bs::secureZero(chunk, sizeof chunk);
}

SecretText::~SecretText()
{
    bs::secureZero(&m_text);
}

} // namespace jni
