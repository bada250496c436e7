#include "capi/wrapper.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "base/errors.h"
#include "base/never_destroyed.h"

namespace capi
{

namespace
{

std::shared_ptr<DynamicLibrary> loadLibrary(const std::string& directory, std::string_view name)
{
    return std::make_shared<DynamicLibrary>(directory + dll::makeLibraryName(name));
}

struct Instance {
    std::mutex mutex;
    std::shared_ptr<Wrapper> wrapper;
};

// Never torn down at exit: handles still open then may reach the CSP.
Instance& singleton()
{
    static bs::NeverDestroyed<Instance> state;
    return *state;
}

} // namespace

std::string cspDirectory()
{
    const char* value = std::getenv(CSP_DIRECTORY_VARIABLE);
    std::string directory = value != nullptr && *value != '\0' ? value : std::string(DEFAULT_CSP_DIRECTORY);
    if (!bs::isAbsolutePath(directory))
        throw bs::RelativePath(directory);
    if (directory.back() != '/')
        directory += '/';
    return directory;
}

std::shared_ptr<Wrapper> Wrapper::instance()
{
    Instance& state = singleton();
    std::lock_guard lock(state.mutex);
    if (!state.wrapper)
        state.wrapper = std::make_shared<Wrapper>(cspDirectory());
    return state.wrapper;
}

void Wrapper::supply(std::shared_ptr<Wrapper> wrapper)
{
    Instance& state = singleton();
    std::lock_guard lock(state.mutex);
    std::swap(state.wrapper, wrapper); // the previous one is let go after the lock
}

Wrapper::Wrapper(std::string_view directory) : m_directory(directory)
{
    m_capi10 = loadLibrary(m_directory, "capi10");
    m_capi20 = loadLibrary(m_directory, "capi20");
    m_rdrsup = loadLibrary(m_directory, "rdrsup");

#define ORMID_CAPI_RESOLVE(library, name) name = library->function<PFN_##name>(#name)
    ORMID_CAPI_RESOLVE(m_capi10, CryptAcquireContextA);
    ORMID_CAPI_RESOLVE(m_capi10, CryptReleaseContext);
    ORMID_CAPI_RESOLVE(m_capi10, CryptGetProvParam);
    ORMID_CAPI_RESOLVE(m_capi10, CryptSetProvParam);
    ORMID_CAPI_RESOLVE(m_capi10, CryptGenKey);
    ORMID_CAPI_RESOLVE(m_capi10, CryptGetUserKey);
    ORMID_CAPI_RESOLVE(m_capi10, CryptImportKey);
    ORMID_CAPI_RESOLVE(m_capi10, CryptDestroyKey);
    ORMID_CAPI_RESOLVE(m_capi10, CryptGetKeyParam);
    ORMID_CAPI_RESOLVE(m_capi10, CryptSetKeyParam);
    ORMID_CAPI_RESOLVE(m_capi10, CryptExportKey);
    ORMID_CAPI_RESOLVE(m_capi10, CryptCreateHash);
    ORMID_CAPI_RESOLVE(m_capi10, CryptDestroyHash);
    ORMID_CAPI_RESOLVE(m_capi10, CryptHashData);
    ORMID_CAPI_RESOLVE(m_capi10, CryptSignHashA);
    ORMID_CAPI_RESOLVE(m_capi10, CryptVerifySignatureA);
    ORMID_CAPI_RESOLVE(m_capi10, CryptGetHashParam);
    ORMID_CAPI_RESOLVE(m_capi10, CryptSetHashParam);
    ORMID_CAPI_RESOLVE(m_capi20, CryptEncryptMessage);
    ORMID_CAPI_RESOLVE(m_capi20, CryptDecryptMessage);
    ORMID_CAPI_RESOLVE(m_capi20, CryptVerifyDetachedMessageSignature);
    ORMID_CAPI_RESOLVE(m_capi20, CryptVerifyMessageSignature);
    ORMID_CAPI_RESOLVE(m_capi20, CertCreateCertificateContext);
    ORMID_CAPI_RESOLVE(m_capi20, CertFreeCertificateContext);
    ORMID_CAPI_RESOLVE(m_capi20, CertOpenStore);
    ORMID_CAPI_RESOLVE(m_capi20, CertCloseStore);
    ORMID_CAPI_RESOLVE(m_capi20, CertAddCertificateContextToStore);
    ORMID_CAPI_RESOLVE(m_capi20, CertSetCertificateContextProperty);
    ORMID_CAPI_RESOLVE(m_capi20, CertFindCertificateInStore);
    ORMID_CAPI_RESOLVE(m_capi20, CertEnumCertificatesInStore);
    ORMID_CAPI_RESOLVE(m_capi20, CertAddEncodedCertificateToStore);
#undef ORMID_CAPI_RESOLVE

    try {
        GetLastError = m_rdrsup->function<PFN_GetLastError>("GetLastError");
    } catch (const std::runtime_error&) {
        GetLastError = m_capi10->function<PFN_GetLastError>("GetLastError");
    }
}

} // namespace capi
