#include "jni/library_folder.h"

#include <mutex>

#include "base/errors.h"
#include "cryptoprovider/pkcs11/module_paths.h"

namespace jni
{

namespace
{
std::mutex folderMutex;
std::string folder;
} // namespace

void setLibraryFolder(const std::string& value)
{
    if (!value.empty() && !bs::isAbsolutePath(value)) {
        throw bs::RelativePath(value);
    }
    {
        std::lock_guard lock(folderMutex);
        folder = value;
    }
    pkcs11::setMsKeyAngaraPkcs11Path(value);
    pkcs11::setRutokenPkcs11EcpPath(value);
    pkcs11::setJaCartaPkcs11Path(value);
}

std::string libraryFolder()
{
    std::lock_guard lock(folderMutex);
    return folder;
}

} // namespace jni
