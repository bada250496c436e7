// librdrsup: the calling thread's last error of the CSP (kept by libcapi10).
#include "capi/capi_types.h"

extern "C" DWORD ormid_lab_csp_last_error(const char* module);

extern "C" __attribute__((visibility("default"))) DWORD GetLastError(void)
{
    return ormid_lab_csp_last_error("rdrsup");
}
