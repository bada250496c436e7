#include "jni/entity_class.h"

#include <stdexcept>

#include "base/localization.h"
#include "jni/java_env.h"

namespace jni
{

namespace
{

[[noreturn]] void cantFind(JNIEnv* env, const std::string& what)
{
    env->ExceptionClear();
    throw std::runtime_error(bs::replace("Can't find %1", what));
}

} // namespace

EntityClass::EntityClass(const char* name, const char* constructorSignature,
                         std::initializer_list<FieldSpec> fields,
                         std::initializer_list<EntityClass*> dependencies)
    : m_name(name), m_constructorSignature(constructorSignature), m_fieldSpecs(fields),
      m_dependencies(dependencies)
{
}

void EntityClass::ensure(JNIEnv* env)
{
    // call_once publishes every member written by fill() to all threads, and
    // an exception from fill() leaves the flag unset for the next caller.
    std::call_once(m_once, [&] { fill(env); });
}

void EntityClass::fill(JNIEnv* env)
{
    for (EntityClass* dependency : m_dependencies) {
        dependency->ensure(env);
    }
    LocalRef<jclass> local(env, env->FindClass(m_name));
    if (!local) {
        cantFind(env, m_name);
    }
    jmethodID constructor = env->GetMethodID(local.get(), "<init>", m_constructorSignature);
    if (constructor == nullptr) {
        cantFind(env, std::string(m_name) + ".<init>" + m_constructorSignature);
    }
    std::vector<jfieldID> fields;
    fields.reserve(m_fieldSpecs.size());
    for (const FieldSpec& field : m_fieldSpecs) {
        jfieldID id = env->GetFieldID(local.get(), field.name, field.signature);
        if (id == nullptr) {
            cantFind(env, std::string(m_name) + "." + field.name);
        }
        fields.push_back(id);
    }
    auto global = static_cast<jclass>(env->NewGlobalRef(local.get()));
    if (global == nullptr) {
        checkPending(env);
        throw std::runtime_error(bs::replace("Can't find %1", m_name));
    }
    m_class = global;
    m_constructor = constructor;
    m_fields = std::move(fields);
}

jclass EntityClass::cls(JNIEnv* env)
{
    ensure(env);
    return m_class;
}

jmethodID EntityClass::constructor(JNIEnv* env)
{
    ensure(env);
    return m_constructor;
}

jfieldID EntityClass::field(JNIEnv* env, std::string_view fieldName)
{
    ensure(env);
    for (std::size_t i = 0; i < m_fieldSpecs.size(); ++i) {
        if (fieldName == m_fieldSpecs[i].name) {
            return m_fields[i];
        }
    }
    throw std::logic_error(bs::replace("Can't find %1", std::string(m_name) + "." + std::string(fieldName)));
}

LocalRef<jobject> EntityClass::newObject(JNIEnv* env)
{
    ensure(env);
    LocalRef<jobject> object(env, env->NewObject(m_class, m_constructor));
    checkPending(env);
    if (!object) {
        throw std::runtime_error(bs::replace("Can't find %1", m_name));
    }
    return object;
}

namespace entities
{

constexpr const char* STRING = "Ljava/lang/String;";
constexpr const char* BYTES = "[B";

EntityClass KEY_INFO("com/ormid/signer/entities/KeyInfo", "()V",
                     {{"alias", STRING},
                      {"id", STRING},
                      {"systemId", "I"},
                      {"signAlgorithmName", STRING},
                      {"signAlgorithmOid", STRING},
                      {"algParamsName", STRING},
                      {"algParamsOid", STRING},
                      {"digestAlgorithmName", STRING},
                      {"digestAlgorithmOid", STRING},
                      {"cryptoType", STRING},
                      {"cryptoName", STRING},
                      {"loginRequired", "Z"},
                      {"hasPassword", "Z"}});

EntityClass KEYSTORE_INFO("com/ormid/signer/entities/KeystoreInfo", "()V",
                          {{"type", "I"},
                           {"id", STRING},
                           {"cryptoType", STRING},
                           {"cryptoName", STRING},
                           {"chipType", STRING},
                           {"shortName", STRING},
                           {"isAdminPinLocked", "Z"},
                           {"isUserPinLocked", "Z"},
                           {"loginRequired", "Z"},
                           {"isUserPinDefault", "Z"}});

EntityClass CRYPTO_TYPE_INFO("com/ormid/signer/entities/CryptoTypeInfo", "()V",
                             {{"fullName", STRING}, {"shortName", STRING}, {"chipType", STRING}});

EntityClass KEY_PRESS_RESULT("com/ormid/signer/entities/KeyPressResult", "()V",
                             {{"currentCharNum", "I"}, {"requestedChar", "I"}});

EntityClass PKCS9_ATTRIBUTE("com/ormid/signer/entities/Pkcs9Attribute",
                            "(Ljava/lang/String;ILjava/lang/String;)V",
                            {{"oid", STRING}, {"tag", "I"}, {"value", STRING}});

EntityClass SIGN_DATA("com/ormid/signer/entities/SignData", "([B)V",
                      {{"data", BYTES},
                       {"computeDigest", "Z"},
                       {"attached", "Z"},
                       {"signedAttributes", "[Lcom/ormid/signer/entities/Pkcs9Attribute;"}},
                      {&PKCS9_ATTRIBUTE});

EntityClass OS_INFO(
    "com/ormid/signer/entities/OsInfo", "()V",
    {{"type", STRING}, {"version", STRING}, {"isAdmin", "Z"}, {"isServer", "Z"}, {"servicePack", STRING}});

EntityClass VALIDITY_PERIOD("com/ormid/signer/entities/ValidityPeriod", "()V",
                            {{"notBefore", STRING}, {"notAfter", STRING}});

EntityClass CERTIFICATE_PROPERTIES("com/ormid/signer/entities/CertificateProperties", "()V",
                                   {{"subject", STRING},
                                    {"issuer", STRING},
                                    {"serialNumber", BYTES},
                                    {"version", "I"},
                                    {"period", "Lcom/ormid/signer/entities/ValidityPeriod;"},
                                    {"thumbprint", BYTES},
                                    {"algName", STRING},
                                    {"algOid", STRING},
                                    {"paramsName", STRING},
                                    {"paramsOid", STRING},
                                    {"publicKey", BYTES}},
                                   {&VALIDITY_PERIOD});

EntityClass CERT_INFO("com/ormid/signer/entities/CertInfo", "()V",
                      {{"id", BYTES},
                       {"x509", BYTES},
                       {"properties", "Lcom/ormid/signer/entities/CertificateProperties;"}},
                      {&CERTIFICATE_PROPERTIES});

EntityClass SIGNER_EXCEPTION("com/ormid/signer/SignerException",
                             "(Ljava/lang/String;Ljava/lang/String;IJLjava/lang/String;Ljava/lang/String;)V",
                             {});

} // namespace entities

} // namespace jni
