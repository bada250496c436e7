// Every CSP call of making a key, signing and importing a certificate fails
// in turn (the lab's fault rules, the calls taken from its call log): the
// CSP's error reaches the caller, no handle is left open beyond those the
// store held before, and the container works afterwards.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capi/crypto_pro_container.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "container_lab.h"
#include "cryptoprovider/core/gost_algorithms.h"
#include "csp_lab.h"

namespace
{

using containerlab::Bytes;
using csplab::CspLab;

const Bytes TRANSFER{'t', 'r', 'a', 'n', 's', 'f', 'e', 'r'};
using containerlab::TC26_A;
// The value the faults inject: "Access denied" in the catalogue.
constexpr DWORD INJECTED = NTE_PERM;

// One CSP call: its name and which call of that name it was.
struct Call {
    std::string function;
    int nth;
};

class Faults : public CspLab
{
  protected:
    std::string callLog() const { return std::string(std::getenv("ORMID_LAB_DIR")) + "/csp/calls.log"; }

    // The calls `operation` makes, in order; handles given back are left
    // out (their failure cannot be reported to anyone).
    std::vector<Call> callsOf(const std::function<void()>& operation)
    {
        std::ofstream(callLog(), std::ios::trunc).close();
        operation();
        static const std::set<std::string> releases{"CryptReleaseContext", "CryptDestroyKey",
                                                    "CryptDestroyHash", "CertFreeCertificateContext",
                                                    "CertCloseStore"};
        const std::string pid = std::to_string(::getpid());
        std::vector<Call> calls;
        std::map<std::string, int> seen;
        std::ifstream log(callLog());
        for (std::string line; std::getline(log, line);) {
            std::istringstream fields(line);
            std::string linePid, module, function;
            fields >> linePid >> module >> function;
            if (linePid == pid && !releases.count(function)) {
                calls.push_back({function, ++seen[function]});
            }
        }
        return calls;
    }

    // `operation` with `call` failing: the injected error comes out, and
    // the CSP holds as many handles as before.
    void expectFailure(const Call& call, const std::function<void()>& operation)
    {
        SCOPED_TRACE(call.function + " #" + std::to_string(call.nth));
        const int before = csplab::openHandles();
        faults(call.function + " nth " + std::to_string(call.nth) + " " + std::to_string(INJECTED) + "\n");
        try {
            operation();
            ADD_FAILURE() << "the failure was not reported";
        } catch (const capi::Error& e) {
            EXPECT_EQ(e.code(), INJECTED) << e.what();
            EXPECT_STREQ(e.what(), capi::localization.get("CAPI-000031"));
        }
        faults("");
        EXPECT_EQ(csplab::openHandles(), before);
    }
};

TEST_F(Faults, MakingAKey)
{
    const auto make = [](CryptoProContainer& store) {
        store.createNewKey("made", 0, GOST256, TC26_A, "cryptopro", L"pin");
    };
    CryptoProContainer first;
    const auto calls = callsOf([&] { make(first); });
    first.deleteKey(first.key());
    ASSERT_GE(calls.size(), 8u);
    for (const Call& call : calls) {
        CryptoProContainer store;
        const std::string id = store.id();
        expectFailure(call, [&] { make(store); });
        // Still the container to be made, and nothing made in the CSP.
        EXPECT_TRUE(store.isNew());
        EXPECT_EQ(store.id(), id);
        EXPECT_TRUE(capi::availableContainers({75, 80, 81}, CRYPT_FQCN).empty());
        make(store);
        EXPECT_FALSE(store.isNew());
        store.deleteKey(store.key());
    }
}

TEST_F(Faults, Signing)
{
    CryptoProContainer made;
    made.createNewKey("signer", 0, GOST256, TC26_A, "cryptopro", L"");
    CryptoProContainer store("signer");
    const auto key = store.key();
    const Bytes spki = store.getSubjectPublicKeyInfo(key).derEncoding();
    const Bytes digest = containerlab::gcryptDigest(GCRY_MD_STRIBOG256, TRANSFER);
    const auto calls = callsOf([&] { store.sign(key, {TRANSFER}, false); });
    ASSERT_GE(calls.size(), 6u);
    for (const Call& call : calls) {
        expectFailure(call, [&] { store.sign(key, {TRANSFER}, false); });
        EXPECT_TRUE(containerlab::opensslAccepts(spki, digest, store.rawSign(key, {TRANSFER}, false, {}).at(0)));
    }
}

TEST_F(Faults, ImportingTheCertificate)
{
    containerlab::TestCa ca;
    CryptoProContainer store;
    store.createNewKey("certified", 0, GOST256, TC26_A, "cryptopro", L"");
    const auto key = store.key();
    const Bytes der = ca.issue(store, key, "Certified");
    const auto calls = callsOf([&] { store.importUserCertificate(key, der); });
    ASSERT_GE(calls.size(), 5u);
    for (const Call& call : calls) {
        expectFailure(call, [&] { store.importUserCertificate(key, der); });
        store.importUserCertificate(key, der);
        EXPECT_EQ(CryptoProContainer("certified").key()->x509().data(), der);
    }
}

} // namespace
