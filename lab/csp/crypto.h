// The cryptography of the simulated CSP in its own byte conventions, on the
// lab's libgcrypt helpers (lab/pkcs11/token_crypto.h):
//  - hash values are given and returned in the order the hash produces them;
//    GOST signing reads the value as a little-endian number;
//  - a GOST signature is the byte-reverse of s||r big-endian (r then s, each
//    little-endian); an RSA signature is little-endian;
//  - GOST public keys are X||Y, each coordinate little-endian (the octets a
//    certificate carries); key blobs follow src/capi/capi_types.h.
#pragma once

#include <optional>
#include <string>

#include "codes.h"
#include "state.h"

namespace labcsp
{

struct ParamSet {
    const char* oid;
    const char* curve; // libgcrypt curve name
    std::size_t size;  // octets of one coordinate
    bool gost2001;     // usable with GOST R 34.10-2001 keys (and 2012-256)
};
// The GOST R 34.10 parameter set of an OID, if the CSP knows it.
const ParamSet* paramSet(const std::string& oid);
// Whether keys of `alg` may use the parameter set.
bool paramSetFits(ALG_ID alg, const ParamSet& set);
// The default parameter set of new keys of `alg`.
std::string defaultParamSet(ALG_ID alg);
// The digest parameter-set OID that key blobs of `alg` carry.
std::string digestParamSet(ALG_ID alg);

bool isGostKeyAlg(ALG_ID alg);
bool isRsaKeyAlg(ALG_ID alg);
// GOST provider types: 75, 80, 81; RSA: 24.
bool isGostType(DWORD type);
// The GOST key algorithm of a provider type (0 for RSA).
ALG_ID gostKeyAlg(DWORD type);

// Octets of the hash value of `alg`; 0 for an algorithm the CSP lacks.
std::size_t hashSize(ALG_ID alg);
// Whether a context of `type` makes hashes of `alg`.
bool hashAllowed(DWORD type, ALG_ID alg);
// The hash of `alg` over `data` (GOST R 34.11-94 with `paramSet`).
Bytes hashValue(ALG_ID alg, const std::string& paramSet, const Bytes& data);
// Whether a key of `keyAlg` signs hashes of `hashAlg`.
bool signsHash(ALG_ID keyAlg, ALG_ID hashAlg);

KeyPair generateGost(ALG_ID alg, const std::string& paramSet, DWORD keySpec);
KeyPair generateRsa(unsigned bits, DWORD keySpec);
// A signature in the CSP's form; NTE_BAD_LEN for a hash value of the wrong size.
Bytes sign(const KeyPair& key, ALG_ID hashAlg, const Bytes& hashValue, bool noHashOid);
bool verify(const KeyPair& key, ALG_ID hashAlg, const Bytes& hashValue, const Bytes& signature,
            bool noHashOid);
// Key length in bits (KP_KEYLEN).
DWORD keyBits(const KeyPair& key);

// PUBLICKEYBLOB of a key and back (NTE_BAD_DATA, NTE_BAD_TYPE for a blob
// that is not one the CSP reads).
Bytes exportPublicKey(const KeyPair& key);
KeyPair importPublicKey(const Bytes& blob);

// Whether a certificate's SubjectPublicKeyInfo key bits carry this key.
bool certificateKeyMatches(const KeyPair& key, const Bytes& spkiKeyBits);

} // namespace labcsp
