#include "lab_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cryptoprovider/pkcs11/module_paths.h"
#include "support/lab_script.h"

namespace labtokens
{

std::string modulesFolder()
{
    const char* folder = std::getenv("ORMID_LAB_PKCS11_DIR");
    return folder ? folder : "";
}

void useLabModules()
{
    pkcs11::setRutokenPkcs11EcpPath(modulesFolder());
    pkcs11::setMsKeyAngaraPkcs11Path(modulesFolder());
    pkcs11::setJaCartaPkcs11Path(modulesFolder());
}

void setFacts(const std::string& serial, const std::string& facts)
{
    labscript::run("set", " " + serial + " " + facts);
}

void addToken(const std::string& model, const std::string& serial)
{
    labscript::run("add-token", " " + model + " " + serial);
}

void removeToken(const std::string& reader, const std::string& serial)
{
    labscript::run("remove", " '" + reader + "'");
    const char* build = std::getenv("ORMID_LAB_BUILD");
    const char* dir = std::getenv("ORMID_LAB_DIR");
    ASSERT_TRUE(build && dir);
    const std::string command =
        std::string(build) + "/lab/device/lab-device remove '" + dir + "' " + serial + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace labtokens
