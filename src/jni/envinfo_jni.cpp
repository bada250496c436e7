// Exports of com.ormid.signer.EnvInfo.
#include <jni.h>

#include "base/system.h"
#include "jni/frame.h"
#include "jni/host_info.h"
#include "jni/java_conv.h"

extern "C" {

JNIEXPORT jstring JNICALL Java_com_ormid_signer_EnvInfo_getComputerName(JNIEnv* env, jclass)
{
    return jni::guarded(env, [&] { return conv::to_jstring(env, detector::computerName()).release(); });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_EnvInfo_getUserName(JNIEnv* env, jclass)
{
    return jni::guarded(env, [&] { return conv::to_jstring(env, bs::userName()).release(); });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_EnvInfo_getLocalIp(JNIEnv* env, jclass)
{
    return jni::guarded(env, [&] { return conv::to_jstring(env, detector::localIp()).release(); });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_EnvInfo_getMacAdresses(JNIEnv* env, jclass)
{
    return jni::guarded(env,
                        [&] { return conv::stringsVector_to_jobjectArray(env, detector::macs()).release(); });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_EnvInfo_getOsInfo(JNIEnv* env, jclass)
{
    return jni::guarded(env,
                        [&] { return conv::osInfo_to_jobject(env, detector::getOsCommonInfo()).release(); });
}

} // extern "C"
