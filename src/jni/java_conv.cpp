#include "jni/java_conv.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <thread>

#include "base/encoding.h"
#include "base/logger.h"
#include "jni/entity_class.h"
#include "jni/errors.h"
#include "jni/host_info.h"
#include "jni/java_env.h"

namespace conv
{

using jni::checkPending;
using jni::LocalRef;
namespace entities = jni::entities;

namespace
{

jsize checkedSize(std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
        throw std::length_error("Java array size limit exceeded");
    }
    return static_cast<jsize>(size);
}

void setString(JNIEnv* env, jobject object, jfieldID field, const std::string& value)
{
    LocalRef<jstring> text = to_jstring(env, value);
    env->SetObjectField(object, field, text.get());
}

void setBytes(JNIEnv* env, jobject object, jfieldID field, const bytes& value)
{
    LocalRef<jbyteArray> array = binaryData_to_jbyteArray(env, value);
    env->SetObjectField(object, field, array.get());
}

template <class Item, class Convert>
LocalRef<jobjectArray> objectArray(JNIEnv* env, jclass elementClass, const std::vector<Item>& items,
                                   Convert convert)
{
    LocalRef<jobjectArray> array(env, env->NewObjectArray(checkedSize(items.size()), elementClass, nullptr));
    checkPending(env);
    for (std::size_t i = 0; i < items.size(); ++i) {
        auto element = convert(env, items[i]);
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(i), element.get());
        checkPending(env);
    }
    return array;
}

// The characters of a Java string taken with GetStringChars, handed back
// when the owner goes.
class StringChars
{
  public:
    StringChars(JNIEnv* env, jstring text, const jchar* chars) noexcept
        : m_env(env), m_text(text), m_chars(chars)
    {
    }
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;
    ~StringChars() { m_env->ReleaseStringChars(m_text, m_chars); }

  private:
    JNIEnv* m_env;
    jstring m_text;
    const jchar* m_chars;
};

LocalRef<jobject> arrayElement(JNIEnv* env, jobjectArray array, jsize index)
{
    LocalRef<jobject> element(env, env->GetObjectArrayElement(array, index));
    checkPending(env);
    return element;
}

// A global reference to a Java array, deleted when the owner goes (on the
// thread that made it). A global one: a group of documents would otherwise
// hold more local references than a native frame is given.
class GlobalArray
{
  public:
    GlobalArray(JNIEnv* env, jbyteArray array)
        : m_env(env), m_array(static_cast<jbyteArray>(env->NewGlobalRef(array)))
    {
        if (m_array == nullptr) {
            checkPending(env);
            throw std::bad_alloc();
        }
    }
    GlobalArray(const GlobalArray&) = delete;
    GlobalArray& operator=(const GlobalArray&) = delete;
    ~GlobalArray() { m_env->DeleteGlobalRef(m_array); }

    jbyteArray get() const noexcept { return m_array; }

  private:
    JNIEnv* m_env;
    jbyteArray m_array;
};

} // namespace

std::wstring to_wstring(JNIEnv* env, jstring text)
{
    if (text == nullptr) {
        return {};
    }
    const jsize length = env->GetStringLength(text);
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (chars == nullptr) {
        checkPending(env);
        throw std::bad_alloc();
    }
    // Released on every path, also when the copy below runs out of memory.
    const StringChars held(env, text, chars);
    return std::wstring(chars, chars + length);
}

std::string to_string(JNIEnv* env, jstring text)
{
    return encoding::utf16_to_utf8(to_wstring(env, text));
}

LocalRef<jstring> to_jstring(JNIEnv* env, const std::string& text)
{
    // Java's own UTF-8 reader accepts only its modified form; going through
    // UTF-16 keeps any input (even ill-formed bytes) from reaching it.
    const std::u16string units = encoding::utf8_to_utf16_units(text);
    LocalRef<jstring> result(
        env, env->NewString(reinterpret_cast<const jchar*>(units.data()), checkedSize(units.size())));
    checkPending(env);
    return result;
}

bytes jbyteArray_to_BinaryData(JNIEnv* env, jbyteArray array)
{
    if (array == nullptr) {
        return {};
    }
    const jsize length = env->GetArrayLength(array);
    bytes result(static_cast<std::size_t>(length), 0);
    if (length > 0) {
        env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(result.data()));
        checkPending(env);
    }
    return result;
}

std::shared_ptr<const ContentSource> jbyteArray_to_ContentSource(JNIEnv* env, jbyteArray array)
{
    const jsize length = array == nullptr ? 0 : env->GetArrayLength(array);
    auto held = array == nullptr ? nullptr : std::make_shared<const GlobalArray>(env, array);
    const std::thread::id owner = std::this_thread::get_id();
    auto reader = [env, held, owner](std::size_t offset, std::span<std::uint8_t> into) {
        // The JNIEnv belongs to the calling thread.
        if (std::this_thread::get_id() != owner) {
            throw bs::standardError<std::logic_error>(ormid_signer::localization, "BS-006002");
        }
        env->GetByteArrayRegion(held->get(), static_cast<jsize>(offset), static_cast<jsize>(into.size()),
                                reinterpret_cast<jbyte*>(into.data()));
        if (env->ExceptionCheck()) {
            // Not for a range within the array; the call goes on in native
            // code, so the Java exception becomes a catalogue error.
            env->ExceptionClear();
            throw bs::standardError<std::logic_error>(ormid_signer::localization, "BS-006002");
        }
    };
    return std::make_shared<const ContentSource>(static_cast<std::size_t>(length), std::move(reader));
}

LocalRef<jbyteArray> binaryData_to_jbyteArray(JNIEnv* env, const bytes& data)
{
    const jsize length = checkedSize(data.size());
    LocalRef<jbyteArray> array(env, env->NewByteArray(length));
    checkPending(env);
    if (length > 0) {
        env->SetByteArrayRegion(array.get(), 0, length, reinterpret_cast<const jbyte*>(data.data()));
        checkPending(env);
    }
    return array;
}

LocalRef<jobjectArray> binaryArray_to_jobjectArray(JNIEnv* env, const std::vector<bytes>& items)
{
    LocalRef<jclass> byteArrayClass(env, env->FindClass("[B"));
    checkPending(env);
    return objectArray(env, byteArrayClass.get(), items, binaryData_to_jbyteArray);
}

std::vector<std::string> jobjectArray_to_stringsVector(JNIEnv* env, jobjectArray array)
{
    std::vector<std::string> result;
    if (array == nullptr) {
        return result;
    }
    const jsize length = env->GetArrayLength(array);
    result.reserve(static_cast<std::size_t>(length));
    for (jsize i = 0; i < length; ++i) {
        LocalRef<jobject> element = arrayElement(env, array, i);
        result.push_back(to_string(env, static_cast<jstring>(element.get())));
    }
    return result;
}

LocalRef<jobjectArray> stringsVector_to_jobjectArray(JNIEnv* env, const std::vector<std::string>& items)
{
    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    checkPending(env);
    return objectArray(env, stringClass.get(), items, to_jstring);
}

LocalRef<jobject> keyStoreInfo_to_jobject(JNIEnv* env, const KeyStoreInfo& info)
{
    auto& cls = entities::KEYSTORE_INFO;
    LocalRef<jobject> object = cls.newObject(env);
    env->SetIntField(object.get(), cls.field(env, "type"), info.type);
    setString(env, object.get(), cls.field(env, "id"), info.id);
    setString(env, object.get(), cls.field(env, "cryptoType"), info.cryptoType);
    setString(env, object.get(), cls.field(env, "cryptoName"), info.cryptoName);
    setString(env, object.get(), cls.field(env, "chipType"), info.chipType);
    setString(env, object.get(), cls.field(env, "shortName"), info.shortName);
    env->SetBooleanField(object.get(), cls.field(env, "isAdminPinLocked"), info.adminPinLocked);
    env->SetBooleanField(object.get(), cls.field(env, "isUserPinLocked"), info.userPinLocked);
    env->SetBooleanField(object.get(), cls.field(env, "loginRequired"), info.loginRequired);
    env->SetBooleanField(object.get(), cls.field(env, "isUserPinDefault"), !info.userPinChanged);
    return object;
}

LocalRef<jobject> cryptoTypeInfo_to_jobject(JNIEnv* env, const CryptoTypeInfo& info)
{
    auto& cls = entities::CRYPTO_TYPE_INFO;
    LocalRef<jobject> object = cls.newObject(env);
    setString(env, object.get(), cls.field(env, "fullName"), info.fullName);
    setString(env, object.get(), cls.field(env, "shortName"), info.shortName);
    setString(env, object.get(), cls.field(env, "chipType"), info.chipType);
    return object;
}

LocalRef<jobject> keyInfo_to_jobject(JNIEnv* env, const KeyInfo& info)
{
    auto& cls = entities::KEY_INFO;
    LocalRef<jobject> object = cls.newObject(env);
    setString(env, object.get(), cls.field(env, "alias"), info.alias);
    setString(env, object.get(), cls.field(env, "id"), std::to_string(info.externalId));
    env->SetIntField(object.get(), cls.field(env, "systemId"), static_cast<jint>(info.systemId));
    setString(env, object.get(), cls.field(env, "signAlgorithmName"), info.signAlgorithmName);
    setString(env, object.get(), cls.field(env, "signAlgorithmOid"), info.signAlgorithmOid);
    setString(env, object.get(), cls.field(env, "algParamsName"), info.algParamsName);
    setString(env, object.get(), cls.field(env, "algParamsOid"), info.algParamsOid);
    setString(env, object.get(), cls.field(env, "digestAlgorithmName"), info.digestAlgorithmName);
    setString(env, object.get(), cls.field(env, "digestAlgorithmOid"), info.digestAlgorithmOid);
    setString(env, object.get(), cls.field(env, "cryptoType"), info.cryptoType);
    setString(env, object.get(), cls.field(env, "cryptoName"), info.cryptoName);
    env->SetBooleanField(object.get(), cls.field(env, "loginRequired"), info.loginRequired);
    env->SetBooleanField(object.get(), cls.field(env, "hasPassword"), info.hasPassword);
    return object;
}

LocalRef<jobjectArray> keysList_to_jobjectArray(JNIEnv* env, const std::vector<KeyInfo>& keys)
{
    return objectArray(env, entities::KEY_INFO.cls(env), keys, keyInfo_to_jobject);
}

LocalRef<jobject> keyPressResult_to_jobject(JNIEnv* env, const std::pair<std::int32_t, std::int32_t>& result)
{
    auto& cls = entities::KEY_PRESS_RESULT;
    LocalRef<jobject> object = cls.newObject(env);
    env->SetIntField(object.get(), cls.field(env, "currentCharNum"), result.second);
    env->SetIntField(object.get(), cls.field(env, "requestedChar"), result.first);
    return object;
}

LocalRef<jobject> osInfo_to_jobject(JNIEnv* env, const detector::OsCommonInfo& info)
{
    auto& cls = entities::OS_INFO;
    LocalRef<jobject> object = cls.newObject(env);
    setString(env, object.get(), cls.field(env, "type"), info.type);
    setString(env, object.get(), cls.field(env, "version"), info.version);
    env->SetBooleanField(object.get(), cls.field(env, "isAdmin"), info.isAdmin);
    return object;
}

LocalRef<jobject> period_to_jobject(JNIEnv* env, const ValidityPeriod& period)
{
    auto& cls = entities::VALIDITY_PERIOD;
    LocalRef<jobject> object = cls.newObject(env);
    setString(env, object.get(), cls.field(env, "notBefore"), period.notBefore.time());
    setString(env, object.get(), cls.field(env, "notAfter"), period.notAfter.time());
    return object;
}

LocalRef<jobject> certificateProperties_to_jobject(JNIEnv* env, const X509& certificate)
{
    auto& cls = entities::CERTIFICATE_PROPERTIES;
    LocalRef<jobject> object = cls.newObject(env);
    setString(env, object.get(), cls.field(env, "subject"), certificate.subjectName());
    setString(env, object.get(), cls.field(env, "issuer"), certificate.issuerName());
    setBytes(env, object.get(), cls.field(env, "serialNumber"), certificate.serial());
    const bytes version = certificate.version();
    env->SetIntField(object.get(), cls.field(env, "version"),
                     version.empty() ? 0 : static_cast<jint>(version[0]));
    {
        LocalRef<jobject> period = period_to_jobject(env, certificate.validityPeriod());
        env->SetObjectField(object.get(), cls.field(env, "period"), period.get());
    }
    setBytes(env, object.get(), cls.field(env, "thumbprint"), certificate.signature());
    const AlgorithmId algorithm = certificate.signAlgorithm();
    setString(env, object.get(), cls.field(env, "algName"), algorithm.name());
    setString(env, object.get(), cls.field(env, "algOid"), algorithm.oid().toString());
    setString(env, object.get(), cls.field(env, "paramsName"), certificate.gost3410ParamsName());
    setString(env, object.get(), cls.field(env, "paramsOid"), certificate.gost3410ParamsOid());
    // Only GOST keys are passed on; RSA and foreign keys leave the field empty.
    setBytes(env, object.get(), cls.field(env, "publicKey"),
             algorithm.isGost() ? certificate.gostPublicKey(Endian::Big) : bytes{});
    return object;
}

LocalRef<jobject> certificate_to_jobject(JNIEnv* env, const X509& certificate)
{
    auto& cls = entities::CERT_INFO;
    LocalRef<jobject> object = cls.newObject(env);
    setBytes(env, object.get(), cls.field(env, "id"), certificate.id());
    setBytes(env, object.get(), cls.field(env, "x509"), certificate.data());
    LocalRef<jobject> properties = certificateProperties_to_jobject(env, certificate);
    env->SetObjectField(object.get(), cls.field(env, "properties"), properties.get());
    return object;
}

LocalRef<jobjectArray> certificates_to_jobjectArray(JNIEnv* env, const std::vector<X509>& certificates)
{
    const jclass elementClass = entities::CERT_INFO.cls(env);
    LocalRef<jobjectArray> array(
        env, env->NewObjectArray(checkedSize(certificates.size()), elementClass, nullptr));
    checkPending(env);
    jsize count = 0;
    for (const X509& certificate : certificates) {
        try {
            LocalRef<jobject> element = certificate_to_jobject(env, certificate);
            env->SetObjectArrayElement(array.get(), count, element.get());
            checkPending(env);
            ++count;
        } catch (const jni::PendingJavaException&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            // One certificate the library cannot read leaves the others listed.
            const bs::Logger log("conv::certificates_to_jobjectArray");
            log.error("certificate left out of the list: " + std::string(e.what()));
        }
    }
    if (static_cast<std::size_t>(count) == certificates.size()) {
        return array;
    }
    LocalRef<jobjectArray> listed(env, env->NewObjectArray(count, elementClass, nullptr));
    checkPending(env);
    for (jsize i = 0; i < count; ++i) {
        LocalRef<jobject> element(env, env->GetObjectArrayElement(array.get(), i));
        checkPending(env);
        env->SetObjectArrayElement(listed.get(), i, element.get());
        checkPending(env);
    }
    return listed;
}

Pkcs9Attribute jobject_to_pkcs9(JNIEnv* env, jobject attribute)
{
    Pkcs9Attribute result;
    if (attribute == nullptr) {
        return result;
    }
    auto& cls = entities::PKCS9_ATTRIBUTE;
    LocalRef<jobject> oid(env, env->GetObjectField(attribute, cls.field(env, "oid")));
    result.oid = to_string(env, static_cast<jstring>(oid.get()));
    result.tag = static_cast<std::uint8_t>(env->GetIntField(attribute, cls.field(env, "tag")) & 0xFF);
    LocalRef<jobject> value(env, env->GetObjectField(attribute, cls.field(env, "value")));
    result.value = to_string(env, static_cast<jstring>(value.get()));
    return result;
}

std::vector<Pkcs9Attribute> jobjectArray_to_pkcs9Vector(JNIEnv* env, jobjectArray attributes)
{
    std::vector<Pkcs9Attribute> result;
    if (attributes == nullptr) {
        return result;
    }
    const jsize length = env->GetArrayLength(attributes);
    result.reserve(static_cast<std::size_t>(length));
    for (jsize i = 0; i < length; ++i) {
        LocalRef<jobject> element = arrayElement(env, attributes, i);
        result.push_back(jobject_to_pkcs9(env, element.get()));
    }
    return result;
}

DataForSign jobject_to_signData(JNIEnv* env, jobject signData, bool kalvaMode)
{
    DataForSign result;
    if (signData == nullptr) {
        return result;
    }
    auto& cls = entities::SIGN_DATA;
    LocalRef<jobject> data(env, env->GetObjectField(signData, cls.field(env, "data")));
    result.attached = env->GetBooleanField(signData, cls.field(env, "attached")) == JNI_TRUE;
    result.computeDigest = env->GetBooleanField(signData, cls.field(env, "computeDigest")) == JNI_TRUE;
    // A content (possibly large) is read in pieces while it is signed; a
    // ready digest is small and copied.
    if (result.computeDigest && data) {
        result.source = jbyteArray_to_ContentSource(env, static_cast<jbyteArray>(data.get()));
    } else {
        result.data = jbyteArray_to_BinaryData(env, static_cast<jbyteArray>(data.get()));
    }
    LocalRef<jobject> attributes(env, env->GetObjectField(signData, cls.field(env, "signedAttributes")));
    result.signedAttributes = jobjectArray_to_pkcs9Vector(env, static_cast<jobjectArray>(attributes.get()));
    result.withCertificates = !kalvaMode;
    result.addSigningTime = !kalvaMode;
    result.addSigningCertificate = !kalvaMode;
    result.addContentReference = false;
    return result;
}

std::vector<DataForSign> jobjectArray_to_signData(JNIEnv* env, jobjectArray signData, bool kalvaMode)
{
    std::vector<DataForSign> result;
    if (signData == nullptr) {
        return result;
    }
    const jsize length = env->GetArrayLength(signData);
    result.reserve(static_cast<std::size_t>(length));
    for (jsize i = 0; i < length; ++i) {
        LocalRef<jobject> element = arrayElement(env, signData, i);
        result.push_back(jobject_to_signData(env, element.get(), kalvaMode));
    }
    return result;
}

} // namespace conv
