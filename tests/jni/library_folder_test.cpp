#include "jni/library_folder.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "cryptoprovider/pkcs11/module_paths.h"

namespace
{

TEST(LibraryFolder, PointsEveryTokenMakeAtTheFolder)
{
    jni::setLibraryFolder("/opt/vendor modules");
    EXPECT_EQ(jni::libraryFolder(), "/opt/vendor modules");
    EXPECT_EQ(pkcs11::pkcs11Rutoken(), "/opt/vendor modules/librtpkcs11ecp.so");
    EXPECT_EQ(pkcs11::pkcs11Mskey(), "/opt/vendor modules/libpkcs11-angara.so");
    // No JaCarta module there: it is taken from its default folder.
    EXPECT_EQ(pkcs11::pkcs11jcPKCS11(), "/usr/lib/libjcPKCS11-2.so");
    EXPECT_EQ(pkcs11::jckt2libPath(), "/usr/lib/libjckt2.so");

    // No folder: the loader searches for the Rutoken and Angara modules, the
    // JaCarta module is looked for in its default folder.
    jni::setLibraryFolder("");
    EXPECT_EQ(pkcs11::pkcs11Rutoken(), "librtpkcs11ecp.so");
    EXPECT_EQ(pkcs11::pkcs11Mskey(), "libpkcs11-angara.so");
    EXPECT_EQ(pkcs11::pkcs11jcPKCS11(), "/usr/lib/libjcPKCS11-2.so");
}

TEST(LibraryFolder, ARelativeFolderIsRefusedAndTheFolderStays)
{
    jni::setLibraryFolder("/opt/vendor");
    for (const char* relative : {"mods", "./mods", "../lib", "mods/"}) {
        EXPECT_THROW(jni::setLibraryFolder(relative), bs::RelativePath) << relative;
        EXPECT_EQ(jni::libraryFolder(), "/opt/vendor");
        EXPECT_EQ(pkcs11::pkcs11Rutoken(), "/opt/vendor/librtpkcs11ecp.so");
        EXPECT_EQ(pkcs11::pkcs11Mskey(), "/opt/vendor/libpkcs11-angara.so");
    }
    jni::setLibraryFolder("");
}

} // namespace
