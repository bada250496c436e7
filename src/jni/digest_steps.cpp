#include "jni/digest_steps.h"

#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"

namespace jni
{

namespace
{

DigestEngine& requireEngine(const std::shared_ptr<DigestEngine>& engine)
{
    if (!engine) {
        throw DigestContextNotInitialized();
    }
    return *engine;
}

} // namespace

void digestInit(const std::shared_ptr<DigestEngine>& engine, const AlgorithmId& algorithm,
                std::string_view paramSet)
{
    requireEngine(engine).init(algorithm, paramSet);
}

void digestUpdate(const std::shared_ptr<DigestEngine>& engine, const bytes& data)
{
    requireEngine(engine).update(data);
}

bytes digestFinal(const std::shared_ptr<DigestEngine>& engine, Endian endian)
{
    return requireEngine(engine).doFinal(endian);
}

} // namespace jni
