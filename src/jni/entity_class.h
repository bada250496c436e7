// Process-wide cache of one Java class: a global reference to the class, its
// constructor and its field identifiers, filled by the first conversion that
// needs them and kept until the library is unloaded.
#pragma once

#include <jni.h>

#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "jni/local_ref.h"

namespace jni
{

struct FieldSpec {
    const char* name;
    const char* signature;
};

class EntityClass
{
  public:
    // `name` is slash-separated ("com/ormid/signer/entities/KeyInfo").
    // `dependencies` are filled first.
    EntityClass(const char* name, const char* constructorSignature, std::initializer_list<FieldSpec> fields,
                std::initializer_list<EntityClass*> dependencies = {});
    EntityClass(const EntityClass&) = delete;
    EntityClass& operator=(const EntityClass&) = delete;

    const char* name() const noexcept { return m_name; }

    // Fills the cache once per process; a failed fill is retried by the next
    // caller. A missing class throws std::runtime_error "Can't find <name>",
    // a missing constructor or field "Can't find <name>.<member>".
    void ensure(JNIEnv* env);

    jclass cls(JNIEnv* env);
    jmethodID constructor(JNIEnv* env);
    jfieldID field(JNIEnv* env, std::string_view fieldName);

    // NewObject with the no-argument constructor.
    LocalRef<jobject> newObject(JNIEnv* env);

  private:
    void fill(JNIEnv* env);

    const char* m_name;
    const char* m_constructorSignature;
    std::vector<FieldSpec> m_fieldSpecs;
    std::vector<EntityClass*> m_dependencies;

    std::once_flag m_once;
    jclass m_class = nullptr;
    jmethodID m_constructor = nullptr;
    std::vector<jfieldID> m_fields;
};

namespace entities
{
extern EntityClass KEY_INFO;
extern EntityClass KEYSTORE_INFO;
extern EntityClass CRYPTO_TYPE_INFO;
extern EntityClass KEY_PRESS_RESULT;
extern EntityClass PKCS9_ATTRIBUTE;
extern EntityClass SIGN_DATA;
extern EntityClass OS_INFO;
extern EntityClass VALIDITY_PERIOD;
extern EntityClass CERTIFICATE_PROPERTIES;
extern EntityClass CERT_INFO;
// The exception every failure reaches Java as (no fields are read).
extern EntityClass SIGNER_EXCEPTION;
} // namespace entities

} // namespace jni
