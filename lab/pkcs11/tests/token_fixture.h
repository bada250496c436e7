// Test harness of the lab token modules: a fresh state directory per test,
// devices made with the lab device library, and the modules loaded with
// dlopen and C_GetFunctionList, as the signing library loads vendor modules.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/device.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"
#include "support/gost_soft.h"

namespace labtest
{

using Bytes = std::vector<std::uint8_t>;

inline std::string modulePath(const std::string& name)
{
    return std::string(LAB_MODULES_DIR) + "/lib" + name + ".so";
}

// One loaded module; the library handle stays open for the process (as the
// vendor modules do in the signing library), C_Finalize runs per test.
class Module
{
  public:
    explicit Module(const std::string& name)
    {
        m_handle = ::dlopen(modulePath(name).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            throw std::runtime_error(::dlerror());
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(m_handle, "C_GetFunctionList"));
        if (!getList || getList(&m_f) != CKR_OK)
            throw std::runtime_error("no function list in " + name);
    }
    ~Module()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    CK_FUNCTION_LIST* operator->() const { return m_f; }
    void* symbol(const char* name) const { return ::dlsym(m_handle, name); }

  private:
    void* m_handle = nullptr;
    CK_FUNCTION_LIST* m_f = nullptr;
};

inline CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length)
{
    return CK_ATTRIBUTE{type, const_cast<void*>(value), length};
}
inline CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const Bytes& value)
{
    return attr(type, value.data(), value.size());
}
inline CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const CK_ULONG& value)
{
    return attr(type, &value, sizeof value);
}
inline CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const CK_BBOOL& value)
{
    return attr(type, &value, 1);
}
inline Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

inline const CK_BBOOL YES = CK_TRUE;
inline const CK_BBOOL NO = CK_FALSE;
inline const CK_ULONG CLASS_DATA = CKO_DATA;
inline const CK_ULONG CLASS_PUBLIC = CKO_PUBLIC_KEY;
inline const CK_ULONG CLASS_PRIVATE = CKO_PRIVATE_KEY;

// A state directory in ORMID_LAB_DIR and an initialised module.
class TokenTest : public ::testing::Test
{
  protected:
    static Module& module(const std::string& name)
    {
        // Loaded once per process, like the module cache of the signing library.
        static std::map<std::string, std::unique_ptr<Module>> loaded;
        auto& m = loaded[name];
        if (!m)
            m = std::make_unique<Module>(name);
        return *m;
    }

    void SetUp() override { ::setenv(labdev::STATE_DIR_ENV, m_dir.path().c_str(), 1); }
    void TearDown() override
    {
        for (auto* m : m_initialised)
            (*m)->C_Finalize(nullptr);
        ::unsetenv(labdev::STATE_DIR_ENV);
    }

    labdev::DeviceDirectory devices() const { return labdev::DeviceDirectory(m_dir.path()); }
    void addDevice(const std::string& model, const std::string& serial, const std::string& reader,
                   const std::map<std::string, std::string>& facts = {})
    {
        labdev::Device d = labdev::makeDevice(model, serial, reader);
        for (const auto& [k, v] : facts)
            d.set(k, v);
        devices().add(d);
    }
    labdev::Device device(const std::string& serial) const { return devices().load(serial); }

    Module& open(const std::string& name)
    {
        Module& m = module(name);
        EXPECT_EQ(m->C_Initialize(nullptr), CKR_OK);
        m_initialised.push_back(&m);
        return m;
    }

    std::vector<CK_SLOT_ID> slots(Module& m, bool present = true)
    {
        CK_ULONG n = 0;
        EXPECT_EQ(m->C_GetSlotList(present, nullptr, &n), CKR_OK);
        std::vector<CK_SLOT_ID> out(n);
        EXPECT_EQ(m->C_GetSlotList(present, out.data(), &n), CKR_OK);
        out.resize(n);
        return out;
    }

    CK_SESSION_HANDLE session(Module& m, CK_SLOT_ID slot, bool rw = true)
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(
            m->C_OpenSession(slot, CKF_SERIAL_SESSION | (rw ? CKF_RW_SESSION : 0), nullptr, nullptr, &h),
            CKR_OK);
        return h;
    }

    static CK_RV login(Module& m, CK_SESSION_HANDLE h, const std::string& pin, CK_USER_TYPE user = CKU_USER)
    {
        return m->C_Login(h, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                          pin.size());
    }

    // One attribute by the two-call pattern; empty on failure.
    static Bytes read(Module& m, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type,
                      CK_RV* rv = nullptr)
    {
        CK_ATTRIBUTE a{type, nullptr, 0};
        CK_RV r = m->C_GetAttributeValue(h, o, &a, 1);
        if (rv)
            *rv = r;
        if (r != CKR_OK)
            return {};
        Bytes out(a.ulValueLen);
        a.pValue = out.data();
        r = m->C_GetAttributeValue(h, o, &a, 1);
        if (rv)
            *rv = r;
        return r == CKR_OK ? out : Bytes{};
    }

    static std::vector<CK_OBJECT_HANDLE> find(Module& m, CK_SESSION_HANDLE h, std::vector<CK_ATTRIBUTE> tmpl)
    {
        EXPECT_EQ(m->C_FindObjectsInit(h, tmpl.data(), tmpl.size()), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> out;
        CK_OBJECT_HANDLE batch[100];
        CK_ULONG n = 0;
        do {
            EXPECT_EQ(m->C_FindObjects(h, batch, 100, &n), CKR_OK);
            out.insert(out.end(), batch, batch + n);
        } while (n == 100);
        EXPECT_EQ(m->C_FindObjectsFinal(h), CKR_OK);
        return out;
    }

    // A GOST token key pair with CKA_ID 01 01, the private key allowed to derive.
    static CK_RV generate(Module& m, CK_SESSION_HANDLE h, CK_MECHANISM_TYPE mech, const std::string& paramSet,
                          CK_OBJECT_HANDLE& pub, CK_OBJECT_HANDLE& priv)
    {
        Bytes id{1, 1}, params = gostsoft::derOid(paramSet);
        CK_ULONG pubClass = CKO_PUBLIC_KEY, privClass = CKO_PRIVATE_KEY;
        std::vector<CK_ATTRIBUTE> pubT = {attr(CKA_TOKEN, YES), attr(CKA_ID, id), attr(CKA_CLASS, pubClass),
                                          attr(CKA_VERIFY, YES), attr(CKA_GOSTR3410_PARAMS, params)};
        std::vector<CK_ATTRIBUTE> privT = {attr(CKA_TOKEN, YES),       attr(CKA_ID, id),
                                           attr(CKA_CLASS, privClass), attr(CKA_PRIVATE, YES),
                                           attr(CKA_SIGN, YES),        attr(CKA_GOSTR3410_PARAMS, params),
                                           attr(CKA_DERIVE, YES)};
        CK_MECHANISM mechanism{mech, nullptr, 0};
        return m->C_GenerateKeyPair(h, &mechanism, pubT.data(), pubT.size(), privT.data(), privT.size(), &pub,
                                    &priv);
    }

    gostsoft::TempDir m_dir;
    std::vector<Module*> m_initialised;
};

} // namespace labtest
