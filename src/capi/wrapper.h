// The CSP's three libraries loaded at run time and the entry points taken
// from them. One process-wide instance, made on first use.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/dynamic_library.h"
#include "capi/capi_types.h"

namespace capi
{

// The CSP's installation directory when ORMID_CSP_DIR is not set.
inline constexpr std::string_view DEFAULT_CSP_DIRECTORY = "/opt/cprocsp/lib/";
// Environment variable naming another CSP directory (read at first load).
inline constexpr const char* CSP_DIRECTORY_VARIABLE = "ORMID_CSP_DIR";

// The directory the CSP is loaded from: ORMID_CSP_DIR when set and not
// empty, else DEFAULT_CSP_DIRECTORY; always ends with "/". A relative
// ORMID_CSP_DIR throws bs::RelativePath ("BS-0018").
std::string cspDirectory();

class Wrapper
{
  public:
    // The process-wide instance, loaded from cspDirectory() on first use.
    // Several threads arriving at once load the CSP once and share it. A
    // failed load (LoadLibraryError "BS-0009", or std::runtime_error "BS-0003"
    // for a missing entry point) leaves no instance: the next call tries again.
    static std::shared_ptr<Wrapper> instance();

    // Loads libcapi10, libcapi20 and librdrsup from `directory` (which ends
    // with "/") and resolves every entry point; the errors of instance().
    // Used by instance() and by tests that load a CSP of their own.
    explicit Wrapper(std::string_view directory);
    // A wrapper over no libraries: the caller (a CSP double of a test or a
    // fuzz target) sets every entry point below itself.
    struct Unloaded {
    };
    explicit Wrapper(Unloaded) {}
    // Makes `wrapper` the process-wide instance (nullptr: the next
    // instance() loads the CSP again). For CSP doubles; handles made with the
    // previous instance keep it alive.
    static void supply(std::shared_ptr<Wrapper> wrapper);
    Wrapper(const Wrapper&) = delete;
    Wrapper& operator=(const Wrapper&) = delete;

    const std::string& directory() const noexcept { return m_directory; }

    // libcapi10
    PFN_CryptAcquireContextA CryptAcquireContextA = nullptr;
    PFN_CryptReleaseContext CryptReleaseContext = nullptr;
    PFN_CryptGetProvParam CryptGetProvParam = nullptr;
    PFN_CryptSetProvParam CryptSetProvParam = nullptr;
    PFN_CryptGenKey CryptGenKey = nullptr;
    PFN_CryptGetUserKey CryptGetUserKey = nullptr;
    PFN_CryptImportKey CryptImportKey = nullptr;
    PFN_CryptDestroyKey CryptDestroyKey = nullptr;
    PFN_CryptGetKeyParam CryptGetKeyParam = nullptr;
    PFN_CryptSetKeyParam CryptSetKeyParam = nullptr;
    PFN_CryptExportKey CryptExportKey = nullptr;
    PFN_CryptCreateHash CryptCreateHash = nullptr;
    PFN_CryptDestroyHash CryptDestroyHash = nullptr;
    PFN_CryptHashData CryptHashData = nullptr;
    PFN_CryptSignHashA CryptSignHashA = nullptr;
    PFN_CryptVerifySignatureA CryptVerifySignatureA = nullptr;
    PFN_CryptGetHashParam CryptGetHashParam = nullptr;
    PFN_CryptSetHashParam CryptSetHashParam = nullptr;
    // libcapi20
    PFN_CryptEncryptMessage CryptEncryptMessage = nullptr;
    PFN_CryptDecryptMessage CryptDecryptMessage = nullptr;
    PFN_CryptVerifyDetachedMessageSignature CryptVerifyDetachedMessageSignature = nullptr;
    PFN_CryptVerifyMessageSignature CryptVerifyMessageSignature = nullptr;
    PFN_CertCreateCertificateContext CertCreateCertificateContext = nullptr;
    PFN_CertFreeCertificateContext CertFreeCertificateContext = nullptr;
    PFN_CertOpenStore CertOpenStore = nullptr;
    PFN_CertCloseStore CertCloseStore = nullptr;
    PFN_CertAddCertificateContextToStore CertAddCertificateContextToStore = nullptr;
    PFN_CertSetCertificateContextProperty CertSetCertificateContextProperty = nullptr;
    PFN_CertFindCertificateInStore CertFindCertificateInStore = nullptr;
    PFN_CertEnumCertificatesInStore CertEnumCertificatesInStore = nullptr;
    PFN_CertAddEncodedCertificateToStore CertAddEncodedCertificateToStore = nullptr;
    // librdrsup, or libcapi10 when librdrsup does not export it
    PFN_GetLastError GetLastError = nullptr;

  private:
    std::string m_directory;
    std::shared_ptr<DynamicLibrary> m_capi10;
    std::shared_ptr<DynamicLibrary> m_capi20;
    std::shared_ptr<DynamicLibrary> m_rdrsup;
};

} // namespace capi
