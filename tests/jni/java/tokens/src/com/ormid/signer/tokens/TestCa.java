package com.ormid.signer.tokens;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static java.nio.charset.StandardCharsets.UTF_8;

import java.math.BigInteger;
import java.nio.file.Path;
import java.util.Base64;

/**
 * A certificate authority made with openssl (gost engine): issues certificates for keys on the tokens; the CSP
 * suite uses it too.
 */
public final class TestCa {
    private static TestCa instance;

    public final Path certificate;
    private final Path key;
    private final Path request;
    private final Path extensions;

    /** An issued certificate: DER, PEM file, the subject's public key as PEM file, serial. */
    public static final class Cert {
        private final byte[] der;
        private final Path pem;
        private final Path publicKey;
        private final BigInteger serial;

        public Cert(byte[] der, Path pem, Path publicKey, BigInteger serial) {
            this.der = der;
            this.pem = pem;
            this.publicKey = publicKey;
            this.serial = serial;
        }

        public byte[] der() {
            return der;
        }

        public Path pem() {
            return pem;
        }

        public Path publicKey() {
            return publicKey;
        }

        public BigInteger serial() {
            return serial;
        }
    }

    private TestCa() {
        Path dir = Tools.work();
        key = dir.resolve("ca.key");
        certificate = dir.resolve("ca.pem");
        request = dir.resolve("subject.csr");
        extensions = Tools.file("ext.cnf", "keyUsage=critical,digitalSignature,nonRepudiation\n".getBytes(UTF_8));
        Tools.opensslOk("req", "-x509", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes", "-keyout",
                        key.toString(), "-subj", "/CN=ORMID Test CA/O=ORMID", "-days", "30", "-out",
                        certificate.toString());
        // The request only carries the subject name: the certificate gets the token key (-force_pubkey).
        Tools.opensslOk("req", "-new", "-key", key.toString(), "-subj", "/CN=Платёжный ключ/O=ORMID", "-utf8",
                        "-out", request.toString());
    }

    public static synchronized TestCa get() {
        if (instance == null) {
            instance = new TestCa();
        }
        return instance;
    }

    public static byte[] pem(String label, byte[] der) {
        String text = "-----BEGIN " + label + "-----\n" + Base64.getMimeEncoder(64, new byte[] {'\n'}).encodeToString(der)
                      + "\n-----END " + label + "-----\n";
        return text.getBytes(US_ASCII);
    }

    /** A public key file openssl reads, from a DER SubjectPublicKeyInfo. */
    public static Path publicKeyFile(byte[] subjectPublicKeyInfo) {
        return Tools.file("pub.pem", pem("PUBLIC KEY", subjectPublicKeyInfo));
    }

    /** A certificate for the key whose SubjectPublicKeyInfo (as the library gives it) is passed. */
    public synchronized Cert issue(byte[] subjectPublicKeyInfo) {
        Path publicKey = publicKeyFile(subjectPublicKeyInfo);
        BigInteger serial = BigInteger.valueOf(0x5A000000L + Tools.unique());
        Path der = Tools.work().resolve("cert-" + serial.toString(16) + ".der");
        Tools.opensslOk("x509", "-req", "-in", request.toString(), "-CA", certificate.toString(), "-CAkey",
                        key.toString(), "-force_pubkey", publicKey.toString(), "-set_serial", serial.toString(),
                        "-days", "30", "-extfile", extensions.toString(), "-outform", "DER", "-out", der.toString());
        byte[] bytes = Tools.read(der);
        return new Cert(bytes, Tools.file("cert.pem", pem("CERTIFICATE", bytes)), publicKey, serial);
    }
}
