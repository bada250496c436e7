// Conversions between Java values and the library's internal values. Always
// called on the calling thread's JNIEnv; every returned reference is a new
// local reference owned by the caller.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "asn1/asn1_time.h"
#include "asn1/bytes.h"
#include "cryptoprovider/core/entities.h"
#include "jni/local_ref.h"
#include "x509/x509.h"

namespace detector
{
struct OsCommonInfo;
}

namespace conv
{

// The string's UTF-16 units, each widened to one character (surrogates are
// not combined); null gives "".
std::wstring to_wstring(JNIEnv* env, jstring text);
// UTF-8 of to_wstring (a surrogate pair is one four-byte character); null
// gives "". A lone surrogate throws bs::InvalidUnicodeText.
std::string to_string(JNIEnv* env, jstring text);
// A new Java string with the text of the UTF-8 input (ill-formed bytes become U+FFFD).
jni::LocalRef<jstring> to_jstring(JNIEnv* env, const std::string& text);

bytes jbyteArray_to_BinaryData(JNIEnv* env, jbyteArray array);
// The array's bytes read on demand, without a copy of the whole: usable only
// on the calling thread during the native call (std::logic_error with
// "BS-006002" on another thread, or if the JVM refuses a read). null gives
// an empty content.
std::shared_ptr<const ContentSource> jbyteArray_to_ContentSource(JNIEnv* env, jbyteArray array);
jni::LocalRef<jbyteArray> binaryData_to_jbyteArray(JNIEnv* env, const bytes& data);
jni::LocalRef<jobjectArray> binaryArray_to_jobjectArray(JNIEnv* env, const std::vector<bytes>& items);

std::vector<std::string> jobjectArray_to_stringsVector(JNIEnv* env, jobjectArray array);
jni::LocalRef<jobjectArray> stringsVector_to_jobjectArray(JNIEnv* env, const std::vector<std::string>& items);

jni::LocalRef<jobject> keyStoreInfo_to_jobject(JNIEnv* env, const KeyStoreInfo& info);
jni::LocalRef<jobject> cryptoTypeInfo_to_jobject(JNIEnv* env, const CryptoTypeInfo& info);
jni::LocalRef<jobject> keyInfo_to_jobject(JNIEnv* env, const KeyInfo& info);
jni::LocalRef<jobjectArray> keysList_to_jobjectArray(JNIEnv* env, const std::vector<KeyInfo>& keys);
// currentCharNum = second, requestedChar = first.
jni::LocalRef<jobject> keyPressResult_to_jobject(JNIEnv* env,
                                                 const std::pair<std::int32_t, std::int32_t>& result);
jni::LocalRef<jobject> osInfo_to_jobject(JNIEnv* env, const detector::OsCommonInfo& info);
jni::LocalRef<jobject> period_to_jobject(JNIEnv* env, const ValidityPeriod& period);
jni::LocalRef<jobject> certificateProperties_to_jobject(JNIEnv* env, const X509& certificate);
jni::LocalRef<jobject> certificate_to_jobject(JNIEnv* env, const X509& certificate);
// A certificate that cannot be converted (its fields cannot be read) is left
// out, with a line in the log; the others are listed in order.
jni::LocalRef<jobjectArray> certificates_to_jobjectArray(JNIEnv* env, const std::vector<X509>& certificates);

Pkcs9Attribute jobject_to_pkcs9(JNIEnv* env, jobject attribute);
std::vector<Pkcs9Attribute> jobjectArray_to_pkcs9Vector(JNIEnv* env, jobjectArray attributes);
// The content of an item to be digested is a source over the Java array
// (see jbyteArray_to_ContentSource); a ready digest is copied.
DataForSign jobject_to_signData(JNIEnv* env, jobject signData, bool kalvaMode);
std::vector<DataForSign> jobjectArray_to_signData(JNIEnv* env, jobjectArray signData, bool kalvaMode);

} // namespace conv
