#include "jni/library_folder.h"

#include <mutex>

namespace jni
{

namespace
{
std::mutex folderMutex;
std::string folder;
} // namespace

void setLibraryFolder(const std::string& value)
{
    std::lock_guard lock(folderMutex);
    folder = value;
}

std::string libraryFolder()
{
    std::lock_guard lock(folderMutex);
    return folder;
}

} // namespace jni
