package com.ormid.signer.cli;

import java.io.ByteArrayInputStream;
import java.math.BigInteger;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.List;

/**
 * What the tool shows of a CMS SignedData message: whether it carries its content, its certificates and who signed
 * it. The signature itself is checked by the library, never here.
 */
public final class CmsMessage {
    private static final String SIGNED_DATA = "1.2.840.113549.1.7.2";

    /** Whether the message carries the signed content. */
    public final boolean attached;
    /** The certificates the message carries, in message order. */
    public final List<X509Certificate> certificates = new ArrayList<>();
    /** The signers' certificate serial numbers (issuer and serial, or serial alone), in message order. */
    public final List<BigInteger> signerSerials = new ArrayList<>();

    private CmsMessage(boolean attached) {
        this.attached = attached;
    }

    /**
     * Reads a message.
     *
     * @param der the DER encoding of a ContentInfo holding SignedData
     * @return its facts
     * @throws CliException {@link ExitCode#MALFORMED_INPUT} when the bytes are not such a message
     */
    public static CmsMessage parse(byte[] der) {
        try {
            Der.Element contentInfo = Der.parse(der);
            if (contentInfo.tag() != Der.SEQUENCE || !Der.oid(contentInfo.child(0, Der.OID)).equals(SIGNED_DATA)) {
                throw new IllegalArgumentException("not a CMS SignedData message");
            }
            List<Der.Element> signedData = contentInfo.child(1, 0xA0).child(0, Der.SEQUENCE).children();
            CmsMessage message = new CmsMessage(signedData.get(2).children().size() > 1);
            CertificateFactory factory = CertificateFactory.getInstance("X.509");
            for (Der.Element part : signedData.subList(3, signedData.size())) {
                if (part.tag() == 0xA0) {
                    for (Der.Element certificate : part.children()) {
                        message.certificates.add(
                            (X509Certificate) factory.generateCertificate(new ByteArrayInputStream(certificate.encoded())));
                    }
                } else if (part.tag() == Der.SET) {
                    for (Der.Element signer : part.children()) {
                        message.signerSerials.add(serialOf(signer.children().get(1)));
                    }
                }
            }
            return message;
        } catch (IllegalArgumentException | IndexOutOfBoundsException | CertificateException e) {
            throw new CliException(ExitCode.MALFORMED_INPUT, "not a CMS signed message: " + e.getMessage());
        }
    }

    /** The serial of a signer identifier: IssuerAndSerialNumber, a bare serial, else null. */
    private static BigInteger serialOf(Der.Element signerId) {
        if (signerId.tag() == Der.SEQUENCE) {
            return new BigInteger(signerId.child(1, Der.INTEGER).content());
        }
        if (signerId.tag() == Der.INTEGER) {
            return new BigInteger(signerId.content());
        }
        return null;
    }

    /**
     * The certificate of a signer, when the message carries it.
     *
     * @param serial the signer's serial from {@link #signerSerials}
     * @return the certificate with that serial, or null
     */
    public X509Certificate certificateOf(BigInteger serial) {
        for (X509Certificate certificate : certificates) {
            if (certificate.getSerialNumber().equals(serial)) {
                return certificate;
            }
        }
        return null;
    }

    /** A GOST public key as the library's verification takes it. */
    public static final class GostKey {
        private final byte[] octets;
        private final String paramSet;
        private final String algorithm;

        /**
         * A key.
         *
         * @param octets the key octets (X and Y as a certificate holds them)
         * @param paramSet the parameter set OID in dotted form
         * @param algorithm the public key algorithm OID in dotted form
         */
        public GostKey(byte[] octets, String paramSet, String algorithm) {
            this.octets = octets;
            this.paramSet = paramSet;
            this.algorithm = algorithm;
        }

        /**
         * The key octets.
         *
         * @return the octets themselves
         */
        public byte[] octets() {
            return octets;
        }

        /**
         * The parameter set.
         *
         * @return its OID in dotted form
         */
        public String paramSet() {
            return paramSet;
        }

        /**
         * The public key algorithm.
         *
         * @return its OID in dotted form
         */
        public String algorithm() {
            return algorithm;
        }
    }

    /**
     * The GOST key octets and parameter set of a certificate's public key, as the library's verification takes them.
     *
     * @param certificate the certificate
     * @return the key
     * @throws CliException {@link ExitCode#MALFORMED_INPUT} when the key is not a GOST key
     */
    public static GostKey gostKey(X509Certificate certificate) {
        try {
            Der.Element spki = Der.parse(certificate.getPublicKey().getEncoded());
            Der.Element algorithm = spki.child(0, Der.SEQUENCE);
            String algorithmOid = Der.oid(algorithm.child(0, Der.OID));
            String paramSet = Der.oid(algorithm.child(1, Der.SEQUENCE).child(0, Der.OID));
            byte[] bits = spki.child(1, Der.BIT_STRING).content();
            byte[] octets = new byte[bits.length - 1];
            System.arraycopy(bits, 1, octets, 0, octets.length);
            return new GostKey(Der.parse(octets).content(), paramSet, algorithmOid);
        } catch (IllegalArgumentException | IndexOutOfBoundsException e) {
            throw new CliException(ExitCode.MALFORMED_INPUT, "the certificate's key is not a GOST key");
        }
    }
}
