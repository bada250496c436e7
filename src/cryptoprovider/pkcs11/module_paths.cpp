#include "cryptoprovider/pkcs11/module_paths.h"

#include <sys/stat.h>

#include <memory>
#include <mutex>

#include "base/dynamic_library.h"
#include "base/logger.h"

namespace pkcs11
{

namespace
{

constexpr std::string_view RUTOKEN_LIBRARY = "rtpkcs11ecp";
constexpr std::string_view ANGARA_LIBRARY = "pkcs11-angara";
constexpr std::string_view JACARTA_LIBRARY = "jcPKCS11-2";
constexpr std::string_view JACARTA_COMPANION = "jckt2";
constexpr std::string_view JACARTA_DEFAULT_FOLDER = "/usr/lib";

// The folders the Java side set; read and written from any thread.
struct Folders {
    std::mutex mutex;
    std::string rutoken;
    std::string angara;
    std::string jacarta{JACARTA_DEFAULT_FOLDER};
};

Folders& folders()
{
    static Folders instance;
    return instance;
}

void setFolder(std::string Folders::*folder, std::string path, std::string_view logName)
{
    bs::Logger log(logName);
    log.info(std::string(logName) + "=" + path);
    Folders& all = folders();
    const std::lock_guard<std::mutex> lock(all.mutex);
    all.*folder = std::move(path);
}

std::string folder(std::string Folders::*which)
{
    Folders& all = folders();
    const std::lock_guard<std::mutex> lock(all.mutex);
    return all.*which;
}

std::string libraryIn(const std::string& folder, std::string_view name)
{
    const std::string file = dll::makeLibraryName(name);
    return folder.empty() ? file : folder + "/" + file;
}

bool isFile(const std::string& path)
{
    struct stat facts {
    };
    return ::stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
}

// The folder the JaCarta module is taken from: the one set when it holds the
// module (a folder of other makes' modules does not hide an installed
// JaCarta), else the default. The companion comes from the same folder.
std::string jacartaFolder()
{
    std::string set = folder(&Folders::jacarta);
    if (set == JACARTA_DEFAULT_FOLDER || isFile(libraryIn(set, JACARTA_LIBRARY))) {
        return set;
    }
    return std::string(JACARTA_DEFAULT_FOLDER);
}

} // namespace

void setRutokenPkcs11EcpPath(std::string path)
{
    setFolder(&Folders::rutoken, std::move(path), "setRutokenPkcs11EcpPath");
}

void setMsKeyAngaraPkcs11Path(std::string path)
{
    setFolder(&Folders::angara, std::move(path), "setMsKeyAngaraPkcs11Path");
}

void setJaCartaPkcs11Path(std::string path)
{
    if (path.empty()) {
        path = JACARTA_DEFAULT_FOLDER;
    }
    setFolder(&Folders::jacarta, std::move(path), "setJaCartaPkcs11Path");
}

std::string pkcs11Rutoken()
{
    return libraryIn(folder(&Folders::rutoken), RUTOKEN_LIBRARY);
}

std::string pkcs11Mskey()
{
    return libraryIn(folder(&Folders::angara), ANGARA_LIBRARY);
}

std::string pkcs11jcPKCS11()
{
    return libraryIn(jacartaFolder(), JACARTA_LIBRARY);
}

std::string jckt2libPath()
{
    return libraryIn(jacartaFolder(), JACARTA_COMPANION);
}

void loadJaCartaCompanion()
{
    static std::mutex mutex;
    static std::unique_ptr<DynamicLibrary> companion; // kept until the process ends
    const std::lock_guard<std::mutex> lock(mutex);
    if (companion) {
        return;
    }
    bs::Logger log("loadJaCartaCompanion");
    log.info("load jckt2");
    companion = std::make_unique<DynamicLibrary>(jckt2libPath());
}

} // namespace pkcs11
