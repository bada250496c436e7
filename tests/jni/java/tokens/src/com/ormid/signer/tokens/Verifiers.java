package com.ormid.signer.tokens;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Path;
import java.security.Security;
import java.util.ArrayList;
import java.util.Collection;
import java.util.List;
import org.bouncycastle.asn1.ASN1EncodableVector;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.cms.Attribute;
import org.bouncycastle.asn1.cms.CMSAttributes;
import org.bouncycastle.asn1.x500.X500Name;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cms.CMSException;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.bouncycastle.operator.OperatorCreationException;

/** Independent verifiers of what the library signs: openssl (gost engine) and Bouncy Castle; the CSP suite uses them too. */
public final class Verifiers {
    static {
        Security.addProvider(new BouncyCastleProvider());
    }

    private Verifiers() {}

    /**
     * openssl cms -verify -cades against the test CA. The signer's certificate comes from the message, or from
     * {@code signerCertificate} alone when given. Returns the content that verified, or null when rejected.
     */
    public static byte[] opensslCms(byte[] cms, byte[] detachedContent, Path signerCertificate) {
        Path out = Tools.work().resolve("verified-" + Tools.unique());
        List<String> args = new ArrayList<>(List.of("cms", "-verify", "-cades", "-binary", "-inform", "DER", "-in",
                                                    Tools.file("msg.der", cms).toString(), "-CAfile",
                                                    TestCa.get().certificate.toString(), "-out", out.toString()));
        if (detachedContent != null) {
            args.addAll(List.of("-content", Tools.file("content.bin", detachedContent).toString()));
        }
        if (signerCertificate != null) {
            args.addAll(List.of("-certfile", signerCertificate.toString(), "-nointern"));
        }
        return Tools.openssl(args.toArray(String[]::new)).ok() ? Tools.read(out) : null;
    }

    /** openssl's digest (md_gost12_256, md_gost94, ...) of the data, in the order openssl prints it. */
    public static byte[] opensslDigest(String digest, byte[] data) {
        return Tools.opensslOk("dgst", "-" + digest, "-binary", Tools.file("data.bin", data).toString());
    }

    static byte[] opensslDigest(Make.Kind kind, byte[] data) {
        return opensslDigest(kind.opensslDigest(), data);
    }

    /**
     * openssl pkeyutl -verify of a raw signature (s‖r, as openssl and CMS write it) over the data's digest with
     * the named openssl digest.
     */
    public static boolean opensslRaw(String digest, byte[] data, byte[] signature, Path publicKey) {
        return opensslRawOverDigest(opensslDigest(digest, data), signature, publicKey);
    }

    /** openssl pkeyutl -verify of a raw signature (s‖r) over a digest given in the order openssl prints it. */
    public static boolean opensslRawOverDigest(byte[] digest, byte[] signature, Path publicKey) {
        return Tools.openssl("pkeyutl", "-verify", "-pubin", "-inkey", publicKey.toString(), "-in",
                             Tools.file("digest.bin", digest).toString(), "-sigfile",
                             Tools.file("sig.bin", signature).toString())
            .ok();
    }

    static boolean opensslRaw(Make.Kind kind, byte[] data, byte[] signature, Path publicKey) {
        return opensslRaw(kind.opensslDigest(), data, signature, publicKey);
    }

    /**
     * Bouncy Castle: every signer of the message verifies with its certificate, taken from the message or,
     * when given, the certificate passed (DER).
     */
    public static boolean bc(byte[] cms, byte[] detachedContent, byte[] signerCertificate) {
        try {
            CMSSignedData signed = detachedContent == null
                                       ? new CMSSignedData(cms)
                                       : new CMSSignedData(new CMSProcessableByteArray(detachedContent), cms);
            Collection<SignerInformation> signers = signed.getSignerInfos().getSigners();
            for (SignerInformation signer : signers) {
                X509CertificateHolder certificate;
                if (signerCertificate != null) {
                    certificate = new X509CertificateHolder(signerCertificate);
                } else {
                    @SuppressWarnings("unchecked")
                    Collection<X509CertificateHolder> matches = signed.getCertificates().getMatches(signer.getSID());
                    if (matches.isEmpty()) {
                        return false;
                    }
                    certificate = matches.iterator().next();
                }
                if (!signer.verify(new JcaSimpleSignerInfoVerifierBuilder().setProvider("BC").build(certificate))) {
                    return false;
                }
            }
            return !signers.isEmpty();
        } catch (CMSException e) {
            return false;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (OperatorCreationException | java.security.cert.CertificateException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The single signer of a message, read by Bouncy Castle. */
    static SignerInformation signer(byte[] cms) {
        try {
            Collection<SignerInformation> signers = new CMSSignedData(cms).getSignerInfos().getSigners();
            if (signers.size() != 1) {
                throw new IllegalStateException(signers.size() + " signers");
            }
            return signers.iterator().next();
        } catch (CMSException e) {
            throw new IllegalStateException(e);
        }
    }

    public static boolean hasCertificates(byte[] cms) {
        try {
            return !new CMSSignedData(cms).getCertificates().getMatches(null).isEmpty();
        } catch (CMSException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The OIDs of the signer's signed attributes, in message order. */
    static List<String> signedAttributeOids(SignerInformation signer) {
        List<String> oids = new ArrayList<>();
        ASN1EncodableVector attributes = signer.getSignedAttributes().toASN1EncodableVector();
        for (int i = 0; i < attributes.size(); ++i) {
            oids.add(Attribute.getInstance(attributes.get(i)).getAttrType().getId());
        }
        return oids;
    }

    /** The value of the signer's messageDigest attribute. */
    static byte[] messageDigest(SignerInformation signer) {
        Attribute digest = signer.getSignedAttributes().get(CMSAttributes.messageDigest);
        return ASN1OctetString.getInstance(digest.getAttrValues().getObjectAt(0)).getOctets();
    }

    /** Whether the signer is identified by a serial number with an empty issuer name. */
    static boolean serialOnly(SignerInformation signer) {
        X500Name issuer = signer.getSID().getIssuer();
        return signer.getSID().getSerialNumber() != null && issuer != null && issuer.getRDNs().length == 0;
    }

    /**
     * The signature of a legacy-order message (r‖s, no certificates) checked with openssl alone: swapped back to
     * s‖r, over the DER of the signed attributes, with the given public key.
     */
    static boolean opensslLegacySignature(Make.Kind kind, byte[] cms, Path publicKey) {
        SignerInformation signer = signer(cms);
        try {
            return opensslRaw(kind, signer.getEncodedSignedAttributes(), Tools.swapHalves(signer.getSignature()),
                              publicKey);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
