// Run-time loading of shared libraries (vendor PKCS#11 modules, the CSP).
#pragma once

#include <string>
#include <string_view>

namespace dll
{

inline constexpr std::string_view LIBRARY_PREFIX = "lib";
inline constexpr std::string_view LIBRARY_EXTENSION = "so";

// Platform file name of a library: "rtpkcs11ecp" -> "librtpkcs11ecp.so".
std::string makeLibraryName(std::string_view name);

} // namespace dll

// Owns one loaded library (lazy symbol binding) and closes it when dropped.
// Shared read-only through std::shared_ptr by the modules that load vendor
// libraries.
class DynamicLibrary
{
  public:
    // Throws LoadLibraryError(path) when the library cannot be loaded or the
    // path is empty.
    explicit DynamicLibrary(std::string_view path);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Address of an exported symbol; std::runtime_error with "BS-0003" when
    // the library has none of that name.
    void* getFunction(std::string_view name) const;

    // File of the loaded image, found through the address of one of its
    // functions. std::invalid_argument for an empty name, the errors of
    // getFunction, std::runtime_error "BS-0002" when the loader knows no file.
    std::string getPath(std::string_view functionName) const;

    // Resolves a function and casts it to the given pointer type.
    template <class Function> Function function(std::string_view name) const
    {
        return reinterpret_cast<Function>(getFunction(name));
    }

    void* get() const noexcept { return m_handle; }
    const std::string& path() const noexcept { return m_path; }

  private:
    void* m_handle = nullptr;
    std::string m_path;
};
