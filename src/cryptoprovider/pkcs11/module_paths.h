// Where the token makes' PKCS#11 modules live. The Java side points the
// library at the vendors' folder once (Signer.setLoadLibraryFolder); every
// setter and getter may be called from any thread.
#pragma once

#include <string>

namespace pkcs11
{

// Folder of the Rutoken module; an empty folder leaves the bare library name
// to the loader's search. Logged as "setRutokenPkcs11EcpPath=" and the path.
void setRutokenPkcs11EcpPath(std::string path);
// Folder of the MS_KEY K Angara module, same rule ("setMsKeyAngaraPkcs11Path=").
void setMsKeyAngaraPkcs11Path(std::string path);
// Folder of the JaCarta module and its companion library. It defaults to
// "/usr/lib"; an empty path restores that default ("setJaCartaPkcs11Path=").
// A folder set here is looked in first: when it holds no JaCarta module, both
// libraries are taken from the default folder.
void setJaCartaPkcs11Path(std::string path);

// Full paths of the modules: the folder joined with "/" and the platform
// library name ("librtpkcs11ecp.so"), or the bare library name when the
// Rutoken or Angara folder is not set; the JaCarta folder as above.
std::string pkcs11Rutoken();
std::string pkcs11Mskey();
std::string pkcs11jcPKCS11();
// The JaCarta companion library ("libjckt2.so"), in the JaCarta folder.
std::string jckt2libPath();

// Loads the JaCarta companion library once per process and keeps it loaded
// (logged "load jckt2"). A library that cannot be loaded throws
// LoadLibraryError; the failure is not remembered, so a later call after
// the folder has been corrected tries again.
void loadJaCartaCompanion();

} // namespace pkcs11
