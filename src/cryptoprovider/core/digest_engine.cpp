#include "cryptoprovider/core/digest_engine.h"

bytes DigestEngine::digest(const bytes& data, const AlgorithmId& algorithm, Endian endian,
                           std::string_view paramsOid)
{
    std::lock_guard lock(m_mutex);
    init(algorithm, paramsOid);
    if (!data.empty()) {
        update(data);
    }
    return doFinal(endian);
}

bytes DigestEngine::digest(const ContentSource& content, const AlgorithmId& algorithm, Endian endian,
                           std::string_view paramsOid)
{
    std::lock_guard lock(m_mutex);
    init(algorithm, paramsOid);
    content.forEachPiece([this](const bytes& piece) { update(piece); });
    return doFinal(endian);
}
