#include "base/dynamic_library.h"

#include <dlfcn.h>

#include <stdexcept>

#include "base/errors.h"
#include "base/logger.h"

namespace dll
{

std::string makeLibraryName(std::string_view name)
{
    return bs::replace("%1%2.%3", LIBRARY_PREFIX, name, LIBRARY_EXTENSION);
}

} // namespace dll

DynamicLibrary::DynamicLibrary(std::string_view path) : m_path(path)
{
    bs::Logger log("DynamicLibrary::DynamicLibrary");
    // An empty name would make the loader hand out the main program, whose
    // global scope resolves symbols of every library in the process; an
    // embedded NUL would load a library other than the one named.
    if (m_path.empty() || m_path.find('\0') != std::string::npos) {
        log.error("empty library name");
        throw LoadLibraryError(m_path);
    }
    // A path with a folder in it that does not start at the root would be
    // taken from the working directory of the process (the JVM's).
    if (m_path.find('/') != std::string::npos && !bs::isAbsolutePath(m_path)) {
        log.error("relative library path");
        throw bs::RelativePath(m_path);
    }
    m_handle = ::dlopen(m_path.c_str(), RTLD_LAZY);
    if (m_handle == nullptr) {
        const char* reason = ::dlerror();
        log.error(reason != nullptr ? reason : m_path);
        throw LoadLibraryError(m_path);
    }
}

DynamicLibrary::~DynamicLibrary()
{
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

void* DynamicLibrary::getFunction(std::string_view name) const
{
    const std::string symbol(name);
    ::dlerror(); // clear a stale error
    // A name with an embedded NUL must not resolve to its truncated prefix.
    void* address = symbol.find('\0') == std::string::npos ? ::dlsym(m_handle, symbol.c_str()) : nullptr;
    if (address == nullptr) {
        bs::Logger log("DynamicLibrary::getFunction");
        const auto error = bs::standardError<std::runtime_error>(bs::localization, "BS-0003", symbol);
        log.error(error.what());
        throw error;
    }
    return address;
}

std::string DynamicLibrary::getPath(std::string_view functionName) const
{
    if (functionName.empty()) {
        throw std::invalid_argument("Function name is empty");
    }
    void* address = getFunction(functionName);
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        bs::Logger log("DynamicLibrary::getPath");
        const auto error = bs::standardError<std::runtime_error>(bs::localization, "BS-0002", m_path);
        log.error(error.what());
        throw error;
    }
    return info.dli_fname;
}
