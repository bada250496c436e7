// A PIN or password taken from Java, wiped when it goes out of scope.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

#include "base/secure.h"
#include "jni/java_conv.h"

namespace jni
{

class SecretText
{
  public:
    SecretText(JNIEnv* env, jstring text) : m_text(conv::to_wstring(env, text)) {}
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { bs::secureZero(&m_text); }

    std::wstring_view view() const noexcept { return m_text; }

  private:
    std::wstring m_text;
};

} // namespace jni
