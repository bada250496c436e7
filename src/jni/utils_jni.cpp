// Exports of com.ormid.signer.Utils.
#include <jni.h>

#include <stdexcept>

#include "base/random.h"
#include "jni/errors.h"
#include "jni/frame.h"
#include "jni/java_conv.h"

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_com_ormid_signer_Utils_getRandomBytes(JNIEnv* env, jclass, jint count)
{
    return jni::guarded(env, [&] {
        if (count < 0) {
            throw bs::standardError<std::invalid_argument>(ormid_signer::localization, "BS-006003");
        }
        const auto random = bs::getRandomBytes(static_cast<unsigned>(count));
        return conv::binaryData_to_jbyteArray(env, bytes(random.begin(), random.end())).release();
    });
}

} // extern "C"
