// What a test reads of the module's state in its own process: the sessions
// and session objects open now. A program that loaded the module (the
// signing library in a JVM, a C++ test) opens the same file again with
// dlopen and compares the counts before and after an operation.
#include "module.h"
#include "state.h"

LAB_EXPORT unsigned long ormid_lab_open_sessions(void)
{
    std::lock_guard<std::mutex> lock(labtoken::g_mutex);
    return static_cast<unsigned long>(labtoken::g.sessions.size());
}

LAB_EXPORT unsigned long ormid_lab_open_objects(void)
{
    std::lock_guard<std::mutex> lock(labtoken::g_mutex);
    return static_cast<unsigned long>(labtoken::g.sessionObjects.size());
}
