// Exports of com.ormid.signer.Session (key stores, keys, signing,
// verification and certificates).
#include <jni.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/strings.h"
#include "capi/crypto_pro_container.h"
#include "capi/functions.h"
#include "cryptoprovider/core/errors.h"
#include "jni/enum_conv.h"
#include "jni/errors.h"
#include "jni/keystore_selection.h"
#include "jni/random_generator.h"
#include "jni/secret.h"
#include "jni/session_call.h"
#include "jni/verify_route.h"

namespace
{

using jni::LocalRef;
using jni::SecretText;
using jni::withSession;

// An unsigned 64-bit decimal number. std::stoull alone would take "12ab" as
// 12 and "-1" as the largest value, so anything but digits is refused with
// the same std::invalid_argument it throws for text without a number.
std::uint64_t parseExternalId(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("stoull");
    }
    return std::stoull(text, nullptr, 10); // std::out_of_range above 2^64 - 1
}

// A kind of key store to list; unknown kinds have no listing.
KeyStoreType keyStoreTypeToList(jint type)
{
    const auto known = conv::to_keyStoreType(type);
    if (!known) {
        throw FunctionNotImplemented();
    }
    return *known;
}

// The result a provider call made for its one input, as a Java byte array; a
// call that made none failed inside.
template <class Results> jbyteArray singleResult(JNIEnv* env, const Results& results)
{
    if (results.empty()) {
        throw bs::standardError<std::logic_error>(ormid_signer::localization, "BS-006002");
    }
    return conv::binaryData_to_jbyteArray(env, results.front()).release();
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_setKalvaMode(JNIEnv* env, jclass, jstring s, jboolean on)
{
    withSession(env, s, [&](Session& session, ICryptoProvider&) { session.kalvaMode = (on == JNI_TRUE); });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_getAvailableCrypto(JNIEnv* env, jclass,
                                                                                jstring s,
                                                                                jobjectArray filter)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const auto result = provider.availableCrypto(conv::jobjectArray_to_stringsVector(env, filter));
        return conv::stringsVector_to_jobjectArray(env, result).release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_getAvailableCspReaders(JNIEnv* env, jclass,
                                                                                    jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider&) {
        // Like the container list and the version: "not installed" rather
        // than a library that did not load.
        CryptoProContainer::checkInstalled();
        return conv::stringsVector_to_jobjectArray(env, capi::availableReaders()).release();
    });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_Session_getCryptoTypeVersion(JNIEnv* env, jclass, jstring s,
                                                                             jstring cryptoType)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::to_jstring(env, provider.cryptoTypeVersion(conv::to_string(env, cryptoType))).release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_getCryptoTypeInfo(JNIEnv* env, jclass, jstring s,
                                                                          jstring cryptoType)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::cryptoTypeInfo_to_jobject(env,
                                               provider.getCryptoTypeInfo(conv::to_string(env, cryptoType)))
            .release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_getKeyStoreList(JNIEnv* env, jclass, jstring s,
                                                                             jint type)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::stringsVector_to_jobjectArray(env, provider.keyStoreList(keyStoreTypeToList(type)))
            .release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_setKeystore(JNIEnv* env, jclass, jstring s, jint type,
                                                                    jstring keyStoreId, jboolean createNew)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        jni::selectKeyStore(provider, type, conv::to_string(env, keyStoreId), createNew == JNI_TRUE);
        return conv::keyStoreInfo_to_jobject(env, provider.getKeyStoreInfo()).release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_getKeystoreInfo(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::keyStoreInfo_to_jobject(env, provider.getKeyStoreInfo()).release();
    });
}

JNIEXPORT jstring JNICALL Java_com_ormid_signer_Session_getKeystoreId(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::to_jstring(env, provider.getKeyStoreId()).release();
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_forgetKeystore(JNIEnv* env, jclass, jstring s)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) { provider.forgetKeyStore(); });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_listKeys(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::keysList_to_jobjectArray(env, provider.getKeys()).release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_setKey(JNIEnv* env, jclass, jstring s, jstring alias)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const std::string name = conv::to_string(env, alias);
        try {
            return conv::keyInfo_to_jobject(env, provider.setKey(name)).release();
        } catch (KeyNotFound& missing) {
            missing.setFailedAlias(name); // the caller learns which alias is unknown
            throw;
        }
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_getKeyInfo(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::keyInfo_to_jobject(env, provider.getKeyInfo()).release();
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_forgetKey(JNIEnv* env, jclass, jstring s)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) { provider.forgetKey(); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_setPin(JNIEnv* env, jclass, jstring s, jstring pin)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const SecretText secret(env, pin);
        provider.setPin(secret.view());
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_changePin(JNIEnv* env, jclass, jstring s, jstring newPin)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const SecretText secret(env, newPin);
        provider.changePin(secret.view());
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_setKeyPassword(JNIEnv* env, jclass, jstring s,
                                                                    jstring password)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const SecretText secret(env, password);
        provider.setKeyPassword(secret.view());
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_changeKeyPassword(JNIEnv* env, jclass, jstring s,
                                                                       jstring newPassword)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const SecretText secret(env, newPassword);
        provider.changeKeyPassword(secret.view());
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_setKeyId(JNIEnv* env, jclass, jstring s,
                                                              jstring externalId)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        provider.setKeyExternalId(parseExternalId(conv::to_string(env, externalId)));
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_changeKeyAlias(JNIEnv* env, jclass, jstring s,
                                                                    jstring newAlias)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        provider.changeKeyAlias(conv::to_string(env, newAlias));
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_deleteKey(JNIEnv* env, jclass, jstring s)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) { provider.deleteKey(); });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_createNewKey(JNIEnv* env, jclass, jstring s,
                                                                  jstring alias, jint systemId,
                                                                  jstring signAlgorithmOid,
                                                                  jstring algParamsOid, jstring password)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const SecretText secret(env, password);
        jni::createNewKey(provider, conv::to_string(env, alias), systemId,
                          conv::to_string(env, signAlgorithmOid), conv::to_string(env, algParamsOid),
                          secret.view());
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_sendKeyPressEvent(JNIEnv* env, jclass, jstring s,
                                                                          jint key)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider&) {
        return conv::keyPressResult_to_jobject(env, jni::sendKeyPressEvent(session.provider, key)).release();
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_getPublicKey(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        return conv::binaryData_to_jbyteArray(env, provider.getPublicKey(session.kalvaMode).gostKey())
            .release();
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_getSubjectPublicKeyInfo(JNIEnv* env, jclass,
                                                                                   jstring s)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::binaryData_to_jbyteArray(env, provider.getSubjectPublicKeyInfo().derEncoding())
            .release();
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_rawSign(JNIEnv* env, jclass, jstring s,
                                                                   jbyteArray data)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        const auto signatures =
            provider.rawSign({conv::jbyteArray_to_BinaryData(env, data)}, session.kalvaMode, {});
        return singleResult(env, signatures);
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_cmsSign(JNIEnv* env, jclass, jstring s,
                                                                   jobject signData)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        const bool kalvaMode = session.kalvaMode;
        // The document is read from the Java array in pieces while it is
        // signed; the request is let go before the result becomes a Java array.
        const auto messages = [&] {
            std::vector<DataForSign> items;
            items.push_back(conv::jobject_to_signData(env, signData, kalvaMode));
            return provider.cmsSign(items, kalvaMode);
        }();
        return singleResult(env, messages);
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_groupCmsSign(JNIEnv* env, jclass, jstring s,
                                                                          jobjectArray signDataArray)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        const bool kalvaMode = session.kalvaMode;
        const auto messages =
            provider.cmsSign(conv::jobjectArray_to_signData(env, signDataArray, kalvaMode), kalvaMode);
        return conv::binaryArray_to_jobjectArray(env, messages).release();
    });
}

JNIEXPORT jboolean JNICALL Java_com_ormid_signer_Session_verifySign(
    JNIEnv* env, jclass, jstring s, jstring cryptoTypeText, jbyteArray signatureArray, jbyteArray dataArray,
    jbyteArray publicKeyArray, jstring signAlgorithmOidText, jstring algParamsOidText)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) -> jboolean {
        const bool valid = jni::verifySign(provider, session.kalvaMode, conv::to_string(env, cryptoTypeText),
                                           conv::jbyteArray_to_BinaryData(env, signatureArray),
                                           conv::jbyteArray_to_BinaryData(env, dataArray),
                                           conv::jbyteArray_to_BinaryData(env, publicKeyArray),
                                           conv::to_string(env, signAlgorithmOidText),
                                           conv::to_string(env, algParamsOidText));
        return valid ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_confirmByOrmidVeltoken(JNIEnv* env, jclass,
                                                                                  jstring s, jbyteArray data,
                                                                                  jstring text)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const Pkcs9Attribute attribute{"1.2.643.2.66.1.2", 12, conv::to_string(env, text)};
        return conv::binaryData_to_jbyteArray(
                   env, provider.confirm(conv::jbyteArray_to_BinaryData(env, data), {attribute}))
            .release();
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_ormid_signer_Session_listCertificates(JNIEnv* env, jclass, jstring s,
                                                                              jint type)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::certificates_to_jobjectArray(env, provider.certificates(conv::to_certType(type)))
            .release();
    });
}

JNIEXPORT jobject JNICALL Java_com_ormid_signer_Session_setKeyByCertificate(JNIEnv* env, jclass, jstring s,
                                                                            jbyteArray certificateId)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        return conv::keyInfo_to_jobject(
                   env, provider.setKeyByCertificate(conv::jbyteArray_to_BinaryData(env, certificateId)))
            .release();
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_importCertificate(JNIEnv* env, jclass, jstring s,
                                                                             jbyteArray certificate,
                                                                             jint type)
{
    return withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        const bytes id = provider.importCertificate(conv::jbyteArray_to_BinaryData(env, certificate),
                                                    conv::to_certType(type));
        return conv::binaryData_to_jbyteArray(env, id).release();
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_deleteCertificate(JNIEnv* env, jclass, jstring s,
                                                                       jbyteArray certificateId, jint type)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        provider.deleteCertificate(conv::jbyteArray_to_BinaryData(env, certificateId),
                                   conv::to_certType(type));
    });
}

} // extern "C"
