// The three steps of a digest on the provider's digest engine. A null engine
// (no digest in progress) throws DigestContextNotInitialized.
#pragma once

#include <memory>
#include <string_view>

#include "asn1/bytes.h"
#include "icrypto/endian.h"
#include "x509/algorithms.h"

class DigestEngine;

namespace jni
{

void digestInit(const std::shared_ptr<DigestEngine>& engine, const AlgorithmId& algorithm,
                std::string_view paramSet);
void digestUpdate(const std::shared_ptr<DigestEngine>& engine, const bytes& data);
bytes digestFinal(const std::shared_ptr<DigestEngine>& engine, Endian endian);

} // namespace jni
