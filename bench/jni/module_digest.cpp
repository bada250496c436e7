// The physical limit of signing on a token through its PKCS#11 module: the
// module's own GOST R 34.11-2012 256 digest of a document fed in pieces
// (C_DigestInit, C_DigestUpdate..., C_DigestFinal) and one C_Sign of a digest
// with the token's first GOST private key.
// usage: module_digest <module.so> <token serial> <PIN> <bytes> [piece bytes]
// prints: digest_ms=<ms> sign_ms=<ms>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace
{

CK_FUNCTION_LIST* f = nullptr;

void check(CK_RV rv, const char* what)
{
    if (rv != CKR_OK) {
        std::fprintf(stderr, "module_digest: %s failed, rv=0x%lx\n", what, static_cast<unsigned long>(rv));
        std::exit(1);
    }
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

CK_SLOT_ID slotOf(const std::string& serial)
{
    CK_ULONG count = 0;
    check(f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> slots(count);
    check(f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_TOKEN_INFO info{};
        if (f->C_GetTokenInfo(slots[i], &info) != CKR_OK) {
            continue;
        }
        std::string text(reinterpret_cast<const char*>(info.serialNumber), sizeof(info.serialNumber));
        text.erase(text.find_last_not_of(' ') + 1);
        if (text == serial) {
            return slots[i];
        }
    }
    std::fprintf(stderr, "module_digest: no token %s\n", serial.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: module_digest <module.so> <serial> <PIN> <bytes> [piece bytes]\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "module_digest: %s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    check(getList == nullptr ? CKR_GENERAL_ERROR : getList(&f), "C_GetFunctionList");
    check(f->C_Initialize(nullptr), "C_Initialize");
    const CK_SLOT_ID slot = slotOf(argv[2]);
    CK_SESSION_HANDLE session = 0;
    check(f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session), "C_OpenSession");
    std::string pin = argv[3];
    check(f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size()), "C_Login");

    const std::size_t size = std::strtoull(argv[4], nullptr, 10);
    const std::size_t piece = argc > 5 ? std::strtoull(argv[5], nullptr, 10) : size;
    std::vector<CK_BYTE> document(size);
    for (std::size_t i = 0; i < size; ++i) {
        document[i] = static_cast<CK_BYTE>(i * 131 + 7);
    }
    CK_MECHANISM digestMechanism{CKM_GOSTR3411_12_256, nullptr, 0};
    CK_BYTE digest[64];
    CK_ULONG digestLength = sizeof(digest);
    auto start = std::chrono::steady_clock::now();
    check(f->C_DigestInit(session, &digestMechanism), "C_DigestInit");
    for (std::size_t at = 0; at < size; at += piece) {
        const std::size_t n = std::min(piece, size - at);
        check(f->C_DigestUpdate(session, document.data() + at, n), "C_DigestUpdate");
    }
    check(f->C_DigestFinal(session, digest, &digestLength), "C_DigestFinal");
    const double digestMs = msSince(start);

    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE find[] = {{CKA_CLASS, &keyClass, sizeof(keyClass)}};
    check(f->C_FindObjectsInit(session, find, 1), "C_FindObjectsInit");
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    check(f->C_FindObjects(session, &key, 1, &found), "C_FindObjects");
    check(f->C_FindObjectsFinal(session), "C_FindObjectsFinal");
    if (found == 0) {
        std::fprintf(stderr, "module_digest: the token holds no private key\n");
        return 1;
    }
    CK_MECHANISM signMechanism{CKM_GOSTR3410, nullptr, 0};
    CK_BYTE signature[128];
    CK_ULONG signatureLength = sizeof(signature);
    start = std::chrono::steady_clock::now();
    check(f->C_SignInit(session, &signMechanism, key), "C_SignInit");
    check(f->C_Sign(session, digest, digestLength, signature, &signatureLength), "C_Sign");
    const double signMs = msSince(start);

    f->C_Logout(session);
    f->C_CloseSession(session);
    f->C_Finalize(nullptr);
    std::printf("digest_ms=%.3f sign_ms=%.3f\n", digestMs, signMs);
    return 0;
}
