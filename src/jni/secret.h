// A PIN or password taken from Java, wiped when it goes out of scope.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>

namespace jni
{

class SecretText
{
  public:
    // The characters are copied straight from the Java string into this
    // object's own buffer (GetStringRegion, a few at a time through a small
    // wiped buffer), so no copy is left that the library cannot wipe. Each
    // UTF-16 unit is one character (surrogates are not combined); null gives
    // an empty text.
    SecretText(JNIEnv* env, jstring text);
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText();

    std::wstring_view view() const noexcept { return m_text; }

  private:
    std::wstring m_text;
};

} // namespace jni
