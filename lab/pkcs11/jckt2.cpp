// Companion library of the JaCarta module: loaded next to it, offers only its
// version.
#define LAB_EXPORT extern "C" __attribute__((visibility("default")))

LAB_EXPORT const char* JC_GetVersionString()
{
    return "lab jckt2 2.0";
}
