// No copy of a PIN or password outlives its use in freed memory: each
// conversion of a secret writes into a buffer sized once and wiped.
#include <gtest/gtest.h>

#include <jni.h>

#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/secure.h"
#include "capi/csp_lab.h"
#include "capi/handles.h"
#include "cryptoprovider/scard/vel_device.h"
#include "freed_memory.h"
#include "icrypto/gost3411.h"
#include "jni/java_env.h"
#include "jni/secret.h"
#include "x509/algorithms.h"

namespace
{

// Long enough to live on the heap in every form; Cyrillic, so that its UTF-8
// is twice as long as the text.
const std::wstring SECRET = L"Очень-длинный-пароль-ключа";

// The secret as it lies in memory in each form it takes on its way.
std::vector<std::string> secretForms()
{
    const std::string utf8 = encoding::utf16_to_utf8(SECRET);
    return {utf8.substr(0, 16), encoding::utf16_to_cp1251(SECRET).substr(0, 12),
            freed::wideBytes(SECRET).substr(0, 40), freed::utf16Bytes(SECRET).substr(0, 24)};
}

void expectNothingFound(const freed::Watch& watch)
{
    const char* names[] = {"UTF-8", "CP1251", "wide", "UTF-16"};
    for (const int i : watch.found()) {
        ADD_FAILURE() << "the secret's " << names[i] << " form is left in freed memory";
    }
}

// A Java string for SecretText: the units, and whether the JVM was asked for
// a copy of its own (GetStringChars), which the library could not wipe.
struct FakeString {
    std::u16string units;
    bool copied = false;
    bool failRegion = false;
    bool pending = false;
};

FakeString& fake(jstring text)
{
    return *reinterpret_cast<FakeString*>(text);
}

FakeString* current = nullptr;

// Only the functions SecretText may use; any other one is null and crashes.
JNINativeInterface_ fakeFunctions()
{
    JNINativeInterface_ f{};
    f.GetStringLength = [](JNIEnv*, jstring s) { return static_cast<jsize>(fake(s).units.size()); };
    f.GetStringRegion = [](JNIEnv*, jstring s, jsize start, jsize length, jchar* out) {
        if (fake(s).failRegion && start > 0) {
            fake(s).pending = true;
            return;
        }
        for (jsize i = 0; i < length; ++i) {
            out[i] = fake(s).units[static_cast<std::size_t>(start + i)];
        }
    };
    f.GetStringChars = [](JNIEnv*, jstring s, jboolean*) {
        fake(s).copied = true;
        return reinterpret_cast<const jchar*>(fake(s).units.data());
    };
    f.ReleaseStringChars = [](JNIEnv*, jstring, const jchar*) {};
    f.ExceptionCheck = [](JNIEnv*) -> jboolean { return current != nullptr && current->pending; };
    return f;
}

class FreedSecretsCsp : public csplab::CspLab
{
};

} // namespace

TEST(FreedSecrets, SecretTextReadsTheJavaStringIntoItsOwnBuffer)
{
    const JNINativeInterface_ functions = fakeFunctions();
    JNIEnv env{};
    env.functions = &functions;
    FakeString text{std::u16string(SECRET.begin(), SECRET.end())};
    current = &text;
    const auto string = reinterpret_cast<jstring>(&text);
    const std::vector<std::string> forms = secretForms();
    {
        const freed::Watch watch(forms);
        {
            const jni::SecretText secret(&env, string);
            EXPECT_EQ(secret.view(), SECRET);
        }
        expectNothingFound(watch);
    }
    EXPECT_FALSE(text.copied) << "the JVM made a copy of the secret";

    // A Java exception half-way: what was read is wiped, the exception stays.
    text.failRegion = true;
    {
        const freed::Watch watch(forms);
        EXPECT_THROW(jni::SecretText(&env, string), jni::PendingJavaException);
        expectNothingFound(watch);
    }
    current = nullptr;
}

TEST(FreedSecrets, ConversionsOfASecretLeaveNoCopy)
{
    const std::vector<std::string> forms = secretForms();
    const freed::Watch watch(forms);
    {
        std::string utf8 = encoding::utf16_to_utf8(SECRET);
        std::string cp1251 = encoding::utf16_to_cp1251(SECRET);
        std::string system = encoding::utf16_to_sys(SECRET);
        bytes vel = veltoken::getPasswordData(SECRET);
        // Every key-password hash is taken over the password's bytes.
        EXPECT_EQ(icrypto::gost3411Digest(vel).size(), 32u);
        bs::secureZero(&utf8);
        bs::secureZero(&cp1251);
        bs::secureZero(&system);
        bs::secureZero(&vel);
    }
    expectNothingFound(watch);
}

TEST_F(FreedSecretsCsp, ContainerPasswordLeavesNoCopy)
{
    const std::vector<std::string> forms = secretForms();
    const freed::Watch watch(forms);
    {
        const capi::Key key(80, "\\\\.\\HDIMAGE\\freed-secret", GOST_R_3410_2012_256, "1.2.643.7.1.2.1.1.1",
                            SECRET);
    }
    expectNothingFound(watch);
}
