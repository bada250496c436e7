// Exports of com.ormid.signer.Session that compute a digest step by step. The
// digest in progress lives in the session's provider (its digest engine).
#include <jni.h>

#include <memory>
#include <string>

#include "cryptoprovider/core/errors.h"
#include "icrypto/endian.h"
#include "jni/digest_steps.h"
#include "jni/session_call.h"
#include "x509/algorithms.h"

namespace
{

using jni::withSession;

// Starts a digest of `digestAlgorithmOid` on the engine of `cryptoType`;
// GOST R 34.11-94 family digests take the parameter set of the session's mode.
void initDigest(ICryptoProvider& provider, bool kalvaMode, const std::string& cryptoType,
                const std::string& digestAlgorithmOid)
{
    const AlgorithmId algorithm = findDigestAlgorithmId(ObjectIdentifier(digestAlgorithmOid));
    const std::string paramSet = isGost2001(algorithm) ? gost3411::paramSet(kalvaMode) : std::string();
    provider.initDigestEngine(cryptoType);
    jni::digestInit(provider.digestEngine(), algorithm, paramSet);
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_initDigest(JNIEnv* env, jclass, jstring s,
                                                                jstring cryptoType,
                                                                jstring digestAlgorithmOid)
{
    withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        initDigest(provider, session.kalvaMode, conv::to_string(env, cryptoType),
                   conv::to_string(env, digestAlgorithmOid));
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_initDigestByCurrentKey(JNIEnv* env, jclass, jstring s)
{
    withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        const KeyInfo key = provider.getKeyInfo();
        initDigest(provider, session.kalvaMode, key.cryptoType, key.digestAlgorithmOid);
    });
}

JNIEXPORT void JNICALL Java_com_ormid_signer_Session_updateDigest(JNIEnv* env, jclass, jstring s,
                                                                  jbyteArray data)
{
    withSession(env, s, [&](Session&, ICryptoProvider& provider) {
        jni::digestUpdate(provider.digestEngine(), conv::jbyteArray_to_BinaryData(env, data));
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Session_finalizeDigest(JNIEnv* env, jclass, jstring s)
{
    return withSession(env, s, [&](Session& session, ICryptoProvider& provider) {
        const Endian endian = session.kalvaMode ? Endian::Little : Endian::Big;
        return conv::binaryData_to_jbyteArray(env, jni::digestFinal(provider.digestEngine(), endian))
            .release();
    });
}

} // extern "C"
