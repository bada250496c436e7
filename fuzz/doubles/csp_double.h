// A CryptoAPI CSP whose every answer comes from fuzzdouble::current:
// contexts, sized reads of provider, key and hash parameters, enumerations,
// key blobs, signatures, certificate contexts and stores. Certificate
// contexts it hands out are counted; each must be freed exactly once.
#pragma once

#include <memory>

namespace capi
{
class Wrapper;
}

namespace fuzzdouble
{

// A wrapper over the double, made the process-wide CSP instance.
std::shared_ptr<capi::Wrapper> supplyCsp();

// Certificate contexts handed out and not freed yet.
int openCertificateContexts();

} // namespace fuzzdouble
