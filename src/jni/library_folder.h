// Folder of the token vendors' PKCS#11 modules, as set from Java.
#pragma once

#include <string>

namespace jni
{

// Remembers the folder and makes it the location of the Rutoken, MS_KEY K
// Angara and JaCarta modules (on Linux the JaCarta module is looked for in
// the same folder; an empty folder gives the JaCarta module its default
// folder back and leaves the other two to the loader's search). A relative
// folder would be taken from the JVM's working directory: bs::RelativePath
// ("BS-0018"), and the folder in use stays as it was.
void setLibraryFolder(const std::string& folder);
// "" until set.
std::string libraryFolder();

} // namespace jni
