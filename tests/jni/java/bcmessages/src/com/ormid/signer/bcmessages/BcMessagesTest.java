package com.ormid.signer.bcmessages;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import java.io.ByteArrayOutputStream;
import java.io.OutputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.Security;
import java.security.cert.X509Certificate;
import java.security.spec.ECGenParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Date;
import java.util.List;
import java.util.stream.Stream;
import org.bouncycastle.asn1.ASN1EncodableVector;
import org.bouncycastle.asn1.DERSet;
import org.bouncycastle.asn1.cms.Attribute;
import org.bouncycastle.asn1.cms.AttributeTable;
import org.bouncycastle.asn1.ess.ESSCertIDv2;
import org.bouncycastle.asn1.ess.SigningCertificateV2;
import org.bouncycastle.asn1.pkcs.PKCSObjectIdentifiers;
import org.bouncycastle.asn1.x500.X500Name;
import org.bouncycastle.asn1.x509.AlgorithmIdentifier;
import org.bouncycastle.asn1.nist.NISTObjectIdentifiers;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cert.jcajce.JcaCertStore;
import org.bouncycastle.cert.jcajce.JcaX509CertificateConverter;
import org.bouncycastle.cert.jcajce.JcaX509v3CertificateBuilder;
import org.bouncycastle.cms.CMSException;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.CMSSignedDataGenerator;
import org.bouncycastle.cms.CMSSignedDataStreamGenerator;
import org.bouncycastle.cms.CMSTypedData;
import org.bouncycastle.cms.DefaultSignedAttributeTableGenerator;
import org.bouncycastle.cms.SignerInfoGenerator;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.cms.jcajce.JcaSignerInfoGeneratorBuilder;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * CMS messages written by Bouncy Castle (GOST R 34.10-2012 256 and 512, GOST R 34.10-2001, RSA PKCS#1 v1.5 and
 * RSA-PSS; attached, detached, streamed with indefinite lengths, with and without signed attributes, with
 * signingCertificateV2, two signers) verified through the Java API on a software verifier: what the library answers
 * is what Bouncy Castle answers, a changed content byte is invalid for both, and a message with a signer of an
 * algorithm the library does not know is never reported valid. A certificates-only message is refused.
 */
class BcMessagesTest {
    static final String CRYPTO_TYPE = "cryptopro";
    static final byte[] CONTENT =
        "Payment order 42: 2500.00 RUB to account 40702810900000000042".getBytes(StandardCharsets.US_ASCII);

    /** A key and its self-signed certificate, with the JCA name of the signature it makes. */
    record Key(String name, KeyPair pair, X509Certificate certificate, String signature) {}

    static Key gost256;
    static Key gost512;
    static Key gost2001;
    static Key rsa;
    static String session;

    @BeforeAll
    static void setUp() throws Exception {
        setUpOnce();
    }

    /** Keys are made once, for the case list and the tests alike, whichever JUnit asks for first. */
    static synchronized void setUpOnce() throws Exception {
        if (session != null) {
            return;
        }
        Security.addProvider(new BouncyCastleProvider());
        gost256 = key("gost256", "ECGOST3410-2012", "GostR3410-2001-CryptoPro-A",
                      "GOST3411-2012-256WITHECGOST3410-2012-256");
        gost512 = key("gost512", "ECGOST3410-2012", "Tc26-Gost-3410-12-512-paramSetA",
                      "GOST3411-2012-512WITHECGOST3410-2012-512");
        gost2001 = key("gost2001", "ECGOST3410", "GostR3410-2001-CryptoPro-A", "GOST3411WITHECGOST3410");
        rsa = key("rsa", "RSA", null, "SHA256withRSA");
        Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
        session = Signer.openSession(false);
    }

    @AfterAll
    static void tearDown() {
        if (session != null) {
            Signer.closeSession(session);
        }
    }

    static Key key(String name, String algorithm, String curve, String signature) throws Exception {
        KeyPairGenerator generator = KeyPairGenerator.getInstance(algorithm, "BC");
        if (curve != null) {
            generator.initialize(new ECGenParameterSpec(curve));
        } else {
            generator.initialize(2048);
        }
        KeyPair pair = generator.generateKeyPair();
        X500Name subject = new X500Name("CN=Bc " + name + " signer,C=RU");
        Date now = new Date();
        X509CertificateHolder holder =
            new JcaX509v3CertificateBuilder(subject, BigInteger.valueOf(name.hashCode() & 0x7fffffff), now,
                                            new Date(now.getTime() + 86_400_000L * 365), subject, pair.getPublic())
                .build(new JcaContentSignerBuilder(signature).setProvider("BC").build(pair.getPrivate()));
        return new Key(name, pair, new JcaX509CertificateConverter().setProvider("BC").getCertificate(holder),
                       signature);
    }

    /** How one signer signs. */
    enum Attributes { DEFAULT, NONE, SIGNING_CERTIFICATE_V2 }

    static SignerInfoGenerator signer(Key key, String signature, Attributes attributes) throws Exception {
        JcaSignerInfoGeneratorBuilder builder = new JcaSignerInfoGeneratorBuilder(
            new JcaDigestCalculatorProviderBuilder().setProvider("BC").build());
        if (attributes == Attributes.NONE) {
            builder.setDirectSignature(true);
        } else if (attributes == Attributes.SIGNING_CERTIFICATE_V2) {
            byte[] hash = MessageDigest.getInstance("SHA-256").digest(key.certificate.getEncoded());
            SigningCertificateV2 value = new SigningCertificateV2(
                new ESSCertIDv2(new AlgorithmIdentifier(NISTObjectIdentifiers.id_sha256), hash));
            ASN1EncodableVector extra = new ASN1EncodableVector();
            extra.add(new Attribute(PKCSObjectIdentifiers.id_aa_signingCertificateV2, new DERSet(value)));
            builder.setSignedAttributeGenerator(new DefaultSignedAttributeTableGenerator(new AttributeTable(extra)));
        }
        return builder.build(new JcaContentSignerBuilder(signature).setProvider("BC").build(key.pair.getPrivate()),
                             key.certificate);
    }

    record Signing(Key key, String signature, Attributes attributes) {
        Signing(Key key, Attributes attributes) {
            this(key, key.signature, attributes);
        }
    }

    /** DER (or, streamed, BER with indefinite lengths) of a message over CONTENT with these signers. */
    static byte[] message(boolean attached, boolean streamed, Signing... signings) throws Exception {
        List<X509Certificate> certificates = new ArrayList<>();
        if (streamed) {
            CMSSignedDataStreamGenerator generator = new CMSSignedDataStreamGenerator();
            for (Signing s : signings) {
                generator.addSignerInfoGenerator(signer(s.key, s.signature, s.attributes));
                certificates.add(s.key.certificate);
            }
            generator.addCertificates(new JcaCertStore(certificates));
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            try (OutputStream content = generator.open(out, attached)) {
                content.write(CONTENT);
            }
            return out.toByteArray();
        }
        CMSSignedDataGenerator generator = new CMSSignedDataGenerator();
        for (Signing s : signings) {
            generator.addSignerInfoGenerator(signer(s.key, s.signature, s.attributes));
            certificates.add(s.key.certificate);
        }
        generator.addCertificates(new JcaCertStore(certificates));
        return generator.generate(new CMSProcessableByteArray(CONTENT), attached).getEncoded("DER");
    }

    /** Bouncy Castle's verdict: every signer verifies with the certificate the message carries for it. */
    static boolean bcVerifies(byte[] message, byte[] detached) throws Exception {
        CMSSignedData signed = detached == null ? new CMSSignedData(message)
                                                : new CMSSignedData(new CMSProcessableByteArray(detached), message);
        for (SignerInformation signer : signed.getSignerInfos().getSigners()) {
            @SuppressWarnings("unchecked")
            Collection<X509CertificateHolder> matches = signed.getCertificates().getMatches(signer.getSID());
            if (matches.isEmpty()) {
                return false;
            }
            try {
                if (!signer.verify(
                        new JcaSimpleSignerInfoVerifierBuilder().setProvider("BC").build(matches.iterator().next()))) {
                    return false;
                }
            } catch (CMSException e) {
                return false;
            }
        }
        return true;
    }

    /** The library's verdict through the Java API: attached when there is no detached content. */
    static boolean libraryVerifies(byte[] message, byte[] detached) {
        return Session.verifySign(session, CRYPTO_TYPE, message, detached == null ? new byte[0] : detached,
                                  new byte[0], "", "");
    }

    /** One Bouncy Castle message: BC finds it valid; `library` is what the library must answer. */
    record Case(String name, byte[] message, boolean attached, boolean library) {
        @Override
        public String toString() {
            return name;
        }
    }

    static Stream<Arguments> messages() throws Exception {
        setUpOnce();
        List<Case> cases = new ArrayList<>();
        for (Key key : List.of(gost256, gost512, gost2001, rsa)) {
            for (Attributes attributes : Attributes.values()) {
                Signing signing = new Signing(key, attributes);
                String shape = key.name + "-" + attributes.name().toLowerCase().replace('_', '-');
                cases.add(new Case(shape + "-attached", message(true, false, signing), true, true));
                cases.add(new Case(shape + "-detached", message(false, false, signing), false, true));
                cases.add(new Case(shape + "-stream", message(true, true, signing), true, true));
            }
        }
        cases.add(new Case("gost256+rsa", message(true, false, new Signing(gost256, Attributes.SIGNING_CERTIFICATE_V2),
                                                   new Signing(rsa, Attributes.DEFAULT)), true, true));
        cases.add(new Case("gost512+gost2001-stream-detached",
                           message(false, true, new Signing(gost512, Attributes.DEFAULT),
                                   new Signing(gost2001, Attributes.NONE)), false, true));
        // RSA-PSS is outside the library's catalogue: such a signer is never valid, alone or beside a GOST one.
        Signing pss = new Signing(rsa, "SHA256withRSAandMGF1", Attributes.DEFAULT);
        cases.add(new Case("rsa-pss", message(true, false, pss), true, false));
        cases.add(new Case("rsa-pss+gost256", message(true, false, pss, new Signing(gost256, Attributes.DEFAULT)),
                           true, false));
        writeOut(cases);
        return cases.stream().map(Arguments::of);
    }

    /** With -Dormid.test.bcout=DIR the messages are written there (seeds for the fuzz targets). */
    static void writeOut(List<Case> cases) throws Exception {
        String dir = System.getProperty("ormid.test.bcout");
        if (dir == null || dir.isEmpty()) {
            return;
        }
        Files.createDirectories(Path.of(dir));
        Files.write(Path.of(dir, "content.txt"), CONTENT);
        for (Case c : cases) {
            Files.write(Path.of(dir, c.name + ".p7s"), c.message);
        }
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("messages")
    void libraryAnswersAsBouncyCastle(Case c) throws Exception {
        byte[] detached = c.attached ? null : CONTENT;
        assertTrue(bcVerifies(c.message, detached), "Bouncy Castle verifies its own message");
        assertEquals(c.library, libraryVerifies(c.message, detached));

        // One content byte changed: invalid for both.
        byte[] changed = CONTENT.clone();
        changed[changed.length - 1] ^= 0x01;
        byte[] message = c.message;
        if (c.attached) {
            message = replaceOnce(c.message, CONTENT, changed);
        }
        byte[] content = c.attached ? null : changed;
        assertEquals(false, bcVerifies(message, content), "Bouncy Castle rejects the changed content");
        assertEquals(false, libraryVerifies(message, content));
    }

    /** The message with its one copy of `from` replaced by `to` (of the same length). */
    static byte[] replaceOnce(byte[] message, byte[] from, byte[] to) {
        int at = -1;
        for (int i = 0; i + from.length <= message.length; i++) {
            if (Arrays.equals(message, i, i + from.length, from, 0, from.length)) {
                assertEquals(-1, at, "the content occurs once");
                at = i;
            }
        }
        assertTrue(at >= 0, "the content is in the message");
        byte[] out = message.clone();
        System.arraycopy(to, 0, out, at, to.length);
        return out;
    }

    @Test
    void certificatesOnlyMessageIsRefused() throws Exception {
        CMSSignedDataGenerator generator = new CMSSignedDataGenerator();
        generator.addCertificates(new JcaCertStore(List.of(gost256.certificate, rsa.certificate)));
        CMSTypedData empty = new CMSProcessableByteArray(new byte[0]);
        byte[] bundle = generator.generate(empty, false).getEncoded("DER");
        assertEquals(2, new CMSSignedData(bundle).getCertificates().getMatches(null).size());
        RuntimeException refusal = assertThrows(RuntimeException.class, () -> libraryVerifies(bundle, null));
        assertNotNull(refusal.getMessage());
        assertTrue(refusal.getMessage().contains("No information about signers"), refusal.getMessage());
        // Given content to check against, it is refused all the same.
        assertThrows(RuntimeException.class, () -> libraryVerifies(bundle, CONTENT));
    }
}
