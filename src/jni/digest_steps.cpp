#include "jni/digest_steps.h"

#include "cryptoprovider/core/errors.h"

namespace jni
{

namespace
{

void requireEngine(const std::shared_ptr<DigestEngine>& engine)
{
    if (!engine) {
        throw DigestContextNotInitialized();
    }
}

} // namespace

// No digest engine exists in this build (the provider's initDigestEngine
// answers FunctionNotImplemented), so a non-null engine cannot reach these
// steps yet; they become engine->init / update / doFinal with the engines.

void digestInit(const std::shared_ptr<DigestEngine>& engine, const AlgorithmId&, std::string_view)
{
    requireEngine(engine);
    throw FunctionNotImplemented();
}

void digestUpdate(const std::shared_ptr<DigestEngine>& engine, const bytes&)
{
    requireEngine(engine);
    throw FunctionNotImplemented();
}

bytes digestFinal(const std::shared_ptr<DigestEngine>& engine, Endian)
{
    requireEngine(engine);
    throw FunctionNotImplemented();
}

} // namespace jni
