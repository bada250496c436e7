// Folder of the token vendors' PKCS#11 modules, as set from Java.
#pragma once

#include <string>

namespace jni
{

void setLibraryFolder(const std::string& folder);
// "" until set.
std::string libraryFolder();

} // namespace jni
