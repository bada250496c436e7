// Verification of raw, CMS and CAdES-BES signatures. The format checks
// (message digest, ESS certificate hash, signed attributes, byte orders,
// parameter sets) live here; subclasses supply the primitive that checks one
// GOST or RSA signature with a given key.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "icrypto/endian.h"
#include "pkcs7/pkcs7.h"
#include "x509/algorithms.h"
#include "x509/public_key.h"

class DigestEngine;
class HardwareDevice;

// The parameter set a GOST verification runs with: the key-exchange sets
// XchA and XchB become their signature sets A and C; an empty text is
// Gost3410ECParamsEmpty.
std::string getGost3410Params(std::string_view paramsOid);

class VerifySignEngine
{
  public:
    explicit VerifySignEngine(std::shared_ptr<DigestEngine> digestEngine);
    VerifySignEngine(const VerifySignEngine&) = delete;
    VerifySignEngine& operator=(const VerifySignEngine&) = delete;

    // What verification says of one signer of a message.
    enum class Verdict { Valid, Invalid, NotVerifiable };

    // CAdES-BES: every signer carries its certificate; each must pass the
    // content digest, the certificate hash and the signature checks. A
    // signer of an algorithm outside the catalogue cannot be checked, so the
    // message is not valid; nor is one without signed attributes, which is
    // no CAdES-BES signature (verifyWithCertificates may still check it).
    virtual bool verifyCades(const bytes& data, const std::vector<SignerInfo>& signerInfos);
    // The CAdES-BES checks signer by signer, in order: NotVerifiable for a
    // signer of an algorithm outside the catalogue, Valid or Invalid for the
    // others; the errors of verifyCades.
    std::vector<Verdict> verifyCadesSigners(const bytes& data, const std::vector<SignerInfo>& signerInfos);
    // A message with certificates verified as peers verify CMS: a signer
    // with signed attributes passes the content digest and the signature
    // checks, and the certificate hash where it carries a signing-certificate
    // attribute (CMS, unlike CAdES-BES, does not require one); a signer
    // without signed attributes has signed the content itself and gets the
    // signature check with its certificate's key. Verdicts signer by signer,
    // in order, and all of them Valid for verifyWithCertificates (which
    // stops at the first that is not); the errors of verifyCades except the
    // missing signing-certificate attribute.
    std::vector<Verdict> verifyCmsSigners(const bytes& data, const std::vector<SignerInfo>& signerInfos);
    bool verifyWithCertificates(const bytes& data, const std::vector<SignerInfo>& signerInfos);
    virtual ~VerifySignEngine() = default;
    // The primitive: `signature` and `publicKey` arrive in the back end's
    // orientation, `paramsOid` already normalised.
    virtual bool verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                bool kalvaMode) = 0;
    virtual bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                               const AlgorithmId& digestAlgorithm);
    // The signature over the signed attributes with the certificate's key.
    virtual bool verifyCadesSign(const SignerInfo& signer);

    // A raw signature given as callers see it (GOST halves exchanged unless
    // kalvaMode).
    bool verifyRawSign(const bytes& data, const bytes& signature, const PublicKey& key,
                       const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode);
    // Hands the signature to the primitive with the key octets in the back
    // end's orientation.
    bool verifySign(const bytes& data, const bytes& signature, const PublicKey& key,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode);
    // One signer checked against a key given by the caller: over its signed
    // attributes after the content digest check, or, without signed
    // attributes, over `data` itself.
    bool verifyCmsSign(const bytes& data, const std::vector<SignerInfo>& signerInfos, bool kalvaMode,
                       const PublicKey& key, std::string_view paramsOid);
    // The messageDigest attribute against the digest of `data`.
    bool verifyContentDigest(const bytes& data, const SignerInfo& signer, bool kalvaMode);
    // The ESS certificate hash against the signer's certificate: that of
    // signingCertificateV2, or where it is absent the SHA-1 one of
    // signingCertificate; NoAttribute for a signer with neither,
    // CertificateNotFound for one without a certificate.
    bool verifyCertDigest(const SignerInfo& signer);
    // The signature of a signer without signed attributes, made over `data`
    // itself, with its certificate's key. std::runtime_error ("CP-008060")
    // for empty data, CertificateNotFound without a certificate.
    bool verifyContentSign(const bytes& data, const SignerInfo& signer);
    bytes digest(const bytes& data, const AlgorithmId& algorithm, Endian endian, std::string_view paramsOid);

    const std::shared_ptr<DigestEngine>& digestEngine() const noexcept { return m_digestEngine; }

  private:
    // One signer under the CAdES-BES checks, or under plain CMS rules.
    Verdict cadesVerdict(const bytes& data, const SignerInfo& signer);
    Verdict cmsVerdict(const bytes& data, const SignerInfo& signer);
    // One rule applied to every signer ("CP-011001" for none).
    using Rule = Verdict (VerifySignEngine::*)(const bytes&, const SignerInfo&);
    std::vector<Verdict> verdicts(const bytes& data, const std::vector<SignerInfo>& signerInfos, Rule rule);
    bool allValid(const bytes& data, const std::vector<SignerInfo>& signerInfos, Rule rule);
    // The signature over `signedOctets` with the certificate's key.
    bool verifyWithCertificate(const bytes& signedOctets, const SignerInfo& signer, const char* where);

    std::shared_ptr<DigestEngine> m_digestEngine;
};

// Verification forwarded to a hardware device.
class VerifySignHwDevice : public VerifySignEngine
{
  public:
    VerifySignHwDevice(std::shared_ptr<DigestEngine> digestEngine, std::shared_ptr<HardwareDevice> device);

    bool verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                        const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                        bool kalvaMode) override;
    bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                       const AlgorithmId& digestAlgorithm) override;

    const std::shared_ptr<HardwareDevice>& device() const noexcept { return m_device; }

  private:
    std::shared_ptr<HardwareDevice> m_device;
};
