// Test-only native methods of com.ormid.signer.test.ConvProbe: each one runs a
// conversion of the Java interface and hands the result back, so the Java
// tests see exactly what the library reads from and writes to Java objects.
#include <jni.h>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/conv.h"
#include "jni/entity_class.h"
#include "jni/frame.h"
#include "jni/java_conv.h"
#include "jni/java_env.h"

namespace
{

std::string flag(bool value)
{
    return value ? "1" : "0";
}

std::string describe(const DataForSign& item)
{
    std::string text = "data=" + conv::bytes_to_hex(item.source ? item.source->materialise() : item.data) +
                       ";attached=" + flag(item.attached) + ";computeDigest=" + flag(item.computeDigest) +
                       ";withCertificates=" + flag(item.withCertificates) +
                       ";signingTime=" + flag(item.addSigningTime) +
                       ";signingCertificate=" + flag(item.addSigningCertificate) +
                       ";contentReference=" + flag(item.addContentReference) +
                       ";existingCms=" + conv::bytes_to_hex(item.existingCms) + ";attributes=[";
    for (const Pkcs9Attribute& attribute : item.signedAttributes) {
        text += attribute.oid + "/" + std::to_string(attribute.tag) + "/" + attribute.value + ";";
    }
    return text + "]";
}

jni::EntityClass MISSING_CLASS("com/ormid/signer/entities/NoSuchEntity", "()V", {});
jni::EntityClass MISSING_FIELD("com/ormid/signer/entities/KeyPressResult", "()V", {{"noSuchField", "I"}});

} // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_ormid_signer_test_ConvProbe_utf8Hex(JNIEnv* env, jclass, jstring text)
{
    return jni::guarded(env, [&] {
        const std::string utf8 = conv::to_string(env, text);
        return conv::to_jstring(
                   env, conv::bytes_to_hex(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size()))
            .release();
    });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_test_ConvProbe_echo(JNIEnv* env, jclass, jstring text)
{
    return jni::guarded(env, [&] { return conv::to_jstring(env, conv::to_string(env, text)).release(); });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_test_ConvProbe_fromUtf8(JNIEnv* env, jclass, jbyteArray utf8)
{
    return jni::guarded(env, [&] {
        const bytes data = conv::jbyteArray_to_BinaryData(env, utf8);
        return conv::to_jstring(env, std::string(data.begin(), data.end())).release();
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_test_ConvProbe_echoBytes(JNIEnv* env, jclass,
                                                                            jbyteArray data)
{
    return jni::guarded(env, [&] {
        return conv::binaryData_to_jbyteArray(env, conv::jbyteArray_to_BinaryData(env, data)).release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_test_ConvProbe_echoStrings(JNIEnv* env, jclass,
                                                                                jobjectArray items)
{
    return jni::guarded(env, [&] {
        return conv::stringsVector_to_jobjectArray(env, conv::jobjectArray_to_stringsVector(env, items))
            .release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_test_ConvProbe_splitBytes(JNIEnv* env, jclass,
                                                                               jbyteArray data, jint parts)
{
    return jni::guarded(env, [&] {
        const bytes all = conv::jbyteArray_to_BinaryData(env, data);
        std::vector<bytes> pieces(static_cast<std::size_t>(parts));
        for (std::size_t i = 0; i < all.size(); ++i) {
            pieces[i % pieces.size()].push_back(all[i]);
        }
        return conv::binaryArray_to_jobjectArray(env, pieces).release();
    });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_test_ConvProbe_describeSignData(JNIEnv* env, jclass,
                                                                                jobject item,
                                                                                jboolean kalvaMode)
{
    return jni::guarded(env, [&] {
        return conv::to_jstring(env, describe(conv::jobject_to_signData(env, item, kalvaMode == JNI_TRUE)))
            .release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_test_ConvProbe_describeSignDataArray(JNIEnv* env, jclass,
                                                                                          jobjectArray items,
                                                                                          jboolean kalvaMode)
{
    return jni::guarded(env, [&] {
        std::vector<std::string> texts;
        for (const DataForSign& item : conv::jobjectArray_to_signData(env, items, kalvaMode == JNI_TRUE)) {
            texts.push_back(describe(item));
        }
        return conv::stringsVector_to_jobjectArray(env, texts).release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_test_ConvProbe_keyList(JNIEnv* env, jclass,
                                                                            jlong externalId, jint systemId,
                                                                            jint count)
{
    return jni::guarded(env, [&] {
        std::vector<KeyInfo> keys;
        for (jint i = 0; i < count; ++i) {
            KeyInfo key;
            key.alias = "ключ " + std::to_string(i);
            key.externalId = static_cast<std::uint64_t>(externalId);
            key.systemId = static_cast<std::uint16_t>(systemId);
            key.signAlgorithmOid = "1.2.643.7.1.1.1.1";
            key.signAlgorithmName = "GOST R 34.10-2012 256";
            key.cryptoType = "rutoken_2";
            key.loginRequired = (i % 2) == 0;
            key.hasPassword = (i % 3) == 0;
            keys.push_back(key);
        }
        return conv::keysList_to_jobjectArray(env, keys).release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_test_ConvProbe_keystoreInfo(JNIEnv* env, jclass, jint type,
                                                                            jboolean userPinChanged)
{
    return jni::guarded(env, [&] {
        KeyStoreInfo info;
        info.type = type;
        info.id = "A1B2";
        info.cryptoType = "angara";
        info.chipType = "MSKEY_K-202";
        info.adminPinLocked = true;
        info.userPinChanged = userPinChanged == JNI_TRUE;
        return conv::keyStoreInfo_to_jobject(env, info).release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_test_ConvProbe_keyPressResult(JNIEnv* env, jclass, jint first,
                                                                              jint second)
{
    return jni::guarded(env, [&] { return conv::keyPressResult_to_jobject(env, {first, second}).release(); });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_test_ConvProbe_certificates(JNIEnv* env, jclass,
                                                                                 jobjectArray ders)
{
    return jni::guarded(env, [&] {
        std::vector<X509> certificates;
        const jsize count = ders == nullptr ? 0 : env->GetArrayLength(ders);
        for (jsize i = 0; i < count; ++i) {
            jni::LocalRef<jobject> der(env, env->GetObjectArrayElement(ders, i));
            certificates.emplace_back(
                bytes{static_cast<std::uint8_t>(i)},
                conv::jbyteArray_to_BinaryData(env, static_cast<jbyteArray>(der.get())));
        }
        return conv::certificates_to_jobjectArray(env, certificates).release();
    });
}

JNIEXPORT jint JNICALL Java_com_ormid_signer_test_ConvProbe_throwForeign(JNIEnv* env, jclass)
{
    return jni::guarded(env, []() -> jint { throw 42; });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_test_ConvProbe_throwStd(JNIEnv* env, jclass, jstring message)
{
    return jni::guarded(env,
                        [&]() -> jobject { throw std::invalid_argument(conv::to_string(env, message)); });
}

// Throws a standard exception whose what() is the given bytes as they stand
// (a message built from outside data need not be well-formed).
JNIEXPORT jobject JNICALL Java_com_ormid_signer_test_ConvProbe_throwStdBytes(JNIEnv* env, jclass,
                                                                             jbyteArray message)
{
    return jni::guarded(env, [&]() -> jobject {
        const bytes text = conv::jbyteArray_to_BinaryData(env, message);
        throw std::runtime_error(std::string(text.begin(), text.end()));
    });
}

// Reads past the end of the array: the JVM's own exception must reach Java.
JNIEXPORT jboolean JNICALL Java_com_ormid_signer_test_ConvProbe_readPastEnd(JNIEnv* env, jclass,
                                                                            jbyteArray data)
{
    return jni::guarded(env, [&]() -> jboolean {
        jbyte buffer[8] = {};
        env->GetByteArrayRegion(data, 0, 8, buffer);
        jni::checkPending(env);
        return JNI_TRUE;
    });
}

// The array's bytes through a content source, read whole on the calling
// thread or on another one (which the source must refuse).
JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_test_ConvProbe_readSource(JNIEnv* env, jclass,
                                                                             jbyteArray data,
                                                                             jboolean otherThread)
{
    return jni::guarded(env, [&] {
        const auto source = conv::jbyteArray_to_ContentSource(env, data);
        bytes content;
        if (otherThread == JNI_TRUE) {
            std::exception_ptr error;
            std::thread([&] {
                try {
                    content = source->materialise();
                } catch (...) {
                    error = std::current_exception();
                }
            }).join();
            if (error) {
                std::rethrow_exception(error);
            }
        } else {
            content = source->materialise();
        }
        return conv::binaryData_to_jbyteArray(env, content).release();
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_test_ConvProbe_useMissingClass(JNIEnv* env, jclass)
{
    jni::guarded(env, [&] { MISSING_CLASS.newObject(env); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_test_ConvProbe_useMissingField(JNIEnv* env, jclass)
{
    jni::guarded(env, [&] { MISSING_FIELD.newObject(env); });
}

} // extern "C"
