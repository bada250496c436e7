// What the simulated CSP keeps on disk, under $ORMID_LAB_DIR/csp/:
//   settings                  "key=value" lines (readers, connected media,
//                             vendor, version, provider types)
//   containers/<id>/container.conf   one key container and its key pair
//   stores/<NAME>             a certificate store ("MY"), one certificate a line
//   faults, calls.log         fault rules and the call log
//   .lock                     flock held by every call (any process)
// Every call re-reads what it needs, so a change made by another process or
// by scripts/lab is seen at the next call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "capi/capi_types.h"
#include "token_crypto.h"

namespace labcsp
{

using Bytes = std::vector<std::uint8_t>;

// A failed call: the value GetLastError reports afterwards.
struct Fail {
    DWORD error;
};
[[noreturn]] inline void fail(DWORD error)
{
    throw Fail{error};
}

// $ORMID_LAB_DIR/csp, empty when ORMID_LAB_DIR is not set.
std::filesystem::path stateDir();
// stateDir(), made when missing; NTE_PROVIDER_DLL_FAIL when ORMID_LAB_DIR is
// not set (the CSP has nowhere to keep containers and stores).
std::filesystem::path requireStateDir();

struct Settings {
    std::vector<std::string> readers{"HDIMAGE",
                                     "FLASH"};     // known readers, in order; the first takes bare names
    std::vector<std::string> connected{"HDIMAGE"}; // readers whose medium is present
    std::string vendor = "Crypto-Pro";             // first word of every provider name
    unsigned major = 5, minor = 0;                 // PP_VERSION
    std::vector<DWORD> providerTypes{PROV_GOST_2001_DH, PROV_GOST_2012_256, PROV_GOST_2012_512, PROV_RSA_AES};
    std::string defaultContainer; // opened for a null container name (flags 0)

    // The reader's name as listed (readers match case-insensitively), empty when unknown.
    std::string reader(const std::string& name) const;
    bool isConnected(const std::string& reader) const;
    bool servesType(DWORD type) const;
};
// Defaults for absent keys; a value it cannot read is NTE_FAIL.
Settings loadSettings();
void saveSettings(const Settings& settings);
std::string formatSettings(const Settings& settings);

// A key pair kept in a container.
struct KeyPair {
    ALG_ID alg = 0;       // CALG_GOST_R3410_* or CALG_RSA_SIGN / CALG_RSA_KEYX
    DWORD keySpec = 0;       // AT_KEYEXCHANGE or AT_SIGNATURE
    std::string paramSet; // GOST: the parameter-set OID
    Bytes privateLe;      // GOST: d, little-endian
    Bytes publicLe;       // GOST: X||Y, each little-endian
    labtoken::RsaKeyPair rsa;
    Bytes certificate; // KP_CERTIFICATE, empty when none

    bool isRsa() const { return alg == CALG_RSA_SIGN || alg == CALG_RSA_KEYX; }
};

struct Container {
    std::string id;     // folder name: 8 lower-case hex digits
    std::string reader; // as listed in the settings
    std::string name;   // the name within the reader (CP1251 bytes)
    std::string alias;  // PP_CONTAINER_ALIAS: the name it was created with (CP1251 bytes)
    std::string unique; // PP_UNIQUE_CONTAINER: "<READER>\\<id>.000\<4 hex>"
    std::optional<KeyPair> key;

    // "\\.\READER\name"
    std::string fullName() const { return "\\\\.\\" + reader + "\\" + name; }
};

std::vector<Container> loadContainers();
// NTE_BAD_KEYSET when the container is gone (deleted by another handle).
Container loadContainer(const std::string& id);
void saveContainer(const Container& container);
void removeContainer(const std::string& id);
// A fresh container id and unique name on `reader`.
Container newContainer(const std::string& reader, const std::string& name, const std::string& alias);

// One certificate of a store.
struct KeyProvInfo {
    std::string container; // UTF-8
    std::string provider;  // UTF-8
    DWORD provType = 0, flags = 0, keySpec = 0;
};
struct StoredCertificate {
    Bytes der;
    std::optional<KeyProvInfo> keyProvInfo;
};
// The certificates of the store `name` (upper-case), in order; none when the
// store has no file yet.
std::vector<StoredCertificate> loadStore(const std::string& name);
bool storeExists(const std::string& name);
void saveStore(const std::string& name, const std::vector<StoredCertificate>& certificates);

// Hex of bytes (lower case) and back (NTE_FAIL for bad hex).
std::string hex(const Bytes& data);
Bytes unhex(const std::string& text);

// Between UTF-8 and the wide strings of the interface (wchar_t, UTF-32).
std::string toUtf8(const WCHAR* text);
std::wstring fromUtf8(const std::string& text);

} // namespace labcsp
