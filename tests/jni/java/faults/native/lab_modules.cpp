// Test-only native methods of the fault suite: how many PKCS#11 sessions and
// session objects a lab token module has open in this process, closing the
// sessions the module itself kept open (a close the lab was told to refuse),
// and the platform's PC/SC error texts. The library under test loaded the
// module; opening the same file again here reaches the same state.
#include <dlfcn.h>
#include <jni.h>
#include <winscard.h>

#include <string>
#include <vector>

#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace
{
// The module `file` of the folder `dir` if the library has loaded it, else null.
void* loaded(JNIEnv* env, jstring dir, jstring file)
{
    const char* d = env->GetStringUTFChars(dir, nullptr);
    if (d == nullptr) {
        return nullptr;
    }
    std::string path = std::string(d) + "/";
    env->ReleaseStringUTFChars(dir, d);
    const char* f = env->GetStringUTFChars(file, nullptr);
    if (f == nullptr) {
        return nullptr;
    }
    path += f;
    env->ReleaseStringUTFChars(file, f);
    return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
}
} // namespace

// {sessions, session objects}, or {-2, -2} when the module is not loaded.
extern "C" JNIEXPORT jlongArray JNICALL Java_com_ormid_signer_faults_LabModule_openHandles(JNIEnv* env, jclass,
                                                                                          jstring dir, jstring file)
{
    jlong counts[2] = {-2, -2};
    if (void* module = loaded(env, dir, file)) {
        using Count = unsigned long (*)();
        auto sessions = reinterpret_cast<Count>(dlsym(module, "ormid_lab_open_sessions"));
        auto objects = reinterpret_cast<Count>(dlsym(module, "ormid_lab_open_objects"));
        counts[0] = sessions ? static_cast<jlong>(sessions()) : -3;
        counts[1] = objects ? static_cast<jlong>(objects()) : -3;
        dlclose(module);
    }
    jlongArray result = env->NewLongArray(2);
    if (result != nullptr) {
        env->SetLongArrayRegion(result, 0, 2, counts);
    }
    return result;
}

// Closes every session of every slot of the module (C_CloseAllSessions).
extern "C" JNIEXPORT void JNICALL Java_com_ormid_signer_faults_LabModule_closeAllSessions(JNIEnv* env, jclass,
                                                                                         jstring dir, jstring file)
{
    void* module = loaded(env, dir, file);
    if (module == nullptr) {
        return;
    }
    auto getList = reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getList != nullptr && getList(&list) == CKR_OK && list != nullptr) {
        CK_ULONG count = 0;
        if (list->C_GetSlotList(CK_FALSE, nullptr, &count) == CKR_OK && count > 0) {
            std::vector<CK_SLOT_ID> slots(count);
            if (list->C_GetSlotList(CK_FALSE, slots.data(), &count) == CKR_OK) {
                for (CK_ULONG i = 0; i < count; ++i) {
                    list->C_CloseAllSessions(slots[i]);
                }
            }
        }
    }
    dlclose(module);
}

// The platform's text for a PC/SC result (pcsc-lite's pcsc_stringify_error),
// which the library passes on for reader failures it has no catalogue entry for.
extern "C" JNIEXPORT jstring JNICALL Java_com_ormid_signer_faults_Catalogue_pcscText(JNIEnv* env, jclass,
                                                                                    jlong code)
{
    return env->NewStringUTF(pcsc_stringify_error(static_cast<LONG>(code)));
}
