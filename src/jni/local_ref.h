// Owner of one JNI local reference: deleted when the owner goes, so loops over
// Java arrays never pile up references in the native frame.
#pragma once

#include <jni.h>

#include <utility>

namespace jni
{

template <class T> class LocalRef
{
  public:
    LocalRef() noexcept = default;
    LocalRef(JNIEnv* env, T ref) noexcept : m_env(env), m_ref(ref) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    LocalRef(LocalRef&& other) noexcept : m_env(other.m_env), m_ref(std::exchange(other.m_ref, nullptr)) {}
    LocalRef& operator=(LocalRef&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_env = other.m_env;
            m_ref = std::exchange(other.m_ref, nullptr);
        }
        return *this;
    }
    ~LocalRef() { reset(); }

    T get() const noexcept { return m_ref; }
    explicit operator bool() const noexcept { return m_ref != nullptr; }

    // Hands the reference over (to be returned to Java).
    T release() noexcept { return std::exchange(m_ref, nullptr); }

    void reset() noexcept
    {
        if (m_ref != nullptr) {
            m_env->DeleteLocalRef(m_ref);
            m_ref = nullptr;
        }
    }

  private:
    JNIEnv* m_env = nullptr;
    T m_ref = nullptr;
};

} // namespace jni
