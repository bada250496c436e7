// Test-only native method of the CSP suite: how many handles the lab's
// simulated CSP has open in this process. The lab's libcapi10.so counts them
// and exports the count; the library under test loaded that same file, so
// opening it again here reaches the same counter.
#include <dlfcn.h>
#include <jni.h>

#include <string>

extern "C" JNIEXPORT jint JNICALL Java_com_ormid_signer_csp_LabCsp_openHandles(JNIEnv* env, jclass,
                                                                               jstring dir)
{
    const char* chars = env->GetStringUTFChars(dir, nullptr);
    if (chars == nullptr) {
        return -1;
    }
    const std::string path = std::string(chars) + "/libcapi10.so";
    env->ReleaseStringUTFChars(dir, chars);
    // Only a CSP the library has loaded counts; -2 when it is not loaded.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        return -2;
    }
    using Count = unsigned (*)();
    auto count = reinterpret_cast<Count>(dlsym(library, "ormid_lab_csp_open_handles"));
    const jint result = count == nullptr ? -3 : static_cast<jint>(count());
    dlclose(library);
    return result;
}
