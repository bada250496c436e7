// Exports of com.ormid.signer.Signer.
#include <jni.h>

#include <mutex>
#include <string>

#include "jni/errors.h"
#include "jni/frame.h"
#include "jni/java_conv.h"
#include "jni/library_folder.h"
#include "jni/sessions.h"

namespace
{
constexpr const char* VERSION = "1.9";
}

extern "C" {

JNIEXPORT jstring JNICALL Java_com_ormid_signer_Signer_getVersion(JNIEnv* env, jclass)
{
    return jni::guarded(env, [&] { return conv::to_jstring(env, VERSION).release(); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Signer_setLanguage(JNIEnv* env, jclass, jint language)
{
    jni::guarded(env, [&] { ormid_signer::setLanguageEverywhere(static_cast<Language>(language)); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Signer_setLoadLibraryFolder(JNIEnv* env, jclass, jstring path)
{
    jni::guarded(env, [&] {
        // The module location setters log the path themselves.
        jni::setLibraryFolder(conv::to_string(env, path));
    });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_Signer_openSession(JNIEnv* env, jclass, jboolean kalvaMode)
{
    return jni::guarded(
        env, [&] { return conv::to_jstring(env, m_sessions.open(kalvaMode == JNI_TRUE)).release(); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Signer_closeSession(JNIEnv* env, jclass, jstring id)
{
    jni::guarded(env, [&] { m_sessions.close(conv::to_string(env, id)); });
}

} // extern "C"
