package com.ormid.signer.csp;

import static com.ormid.signer.tokens.Texts.errorOf;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.SignData;
import com.ormid.signer.tokens.TestCa;
import com.ormid.signer.tokens.Texts;
import com.ormid.signer.tokens.Tools;
import com.ormid.signer.tokens.Verifiers;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.EnumMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.x509.SubjectPublicKeyInfo;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Signing with CSP container keys through the Java API: raw signatures verify with openssl under the key's
 * SubjectPublicKeyInfo, CMS messages with openssl cms -verify -cades and Bouncy Castle against a certificate a
 * test CA issued for the key and imported into the container; verifySign with the CSP agrees with both.
 */
@ExtendWith(LabCsp.class)
class CspSigningTest {
    /** A container whose key has its certificate, and the certificate of another key of the same kind. */
    static final class Signer {
        private final String storeId;
        private final TestCa.Cert cert;
        private final TestCa.Cert otherCert;
        private final byte[] otherPublicKey;

        Signer(String storeId, TestCa.Cert cert, TestCa.Cert otherCert, byte[] otherPublicKey) {
            this.storeId = storeId;
            this.cert = cert;
            this.otherCert = otherCert;
            this.otherPublicKey = otherPublicKey;
        }

        String storeId() {
            return storeId;
        }

        TestCa.Cert cert() {
            return cert;
        }

        TestCa.Cert otherCert() {
            return otherCert;
        }

        byte[] otherPublicKey() {
            return otherPublicKey;
        }
    }

    private static final Map<Kind, Signer> signers = new EnumMap<>(Kind.class);

    /** Every kind, or those named in the system property ormid.test.kinds (comma-separated) when it is set. */
    static Stream<Kind> kinds() {
        String only = System.getProperty("ormid.test.kinds");
        return Stream.of(Kind.values())
            .filter(kind -> only == null || Arrays.asList(only.split(",")).contains(kind.name()));
    }

    private static synchronized Signer signer(Kind kind) {
        return signers.computeIfAbsent(kind, k -> {
            try (Container other = Container.create(Csp.newName("HDIMAGE"), kind);
                 Container c = Container.create(Csp.newName("HDIMAGE"), kind)) {
                TestCa.Cert otherCert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(other.s));
                TestCa.Cert cert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(c.s));
                assertEquals(Texts.WRONG_KEY_FOR_CERTIFICATE,
                             errorOf(() -> Session.importCertificate(c.s, otherCert.der(), Session.CERT_TYPE_USER)));
                Session.importCertificate(c.s, cert.der(), Session.CERT_TYPE_USER);
                String line = "cert=" + Tools.hex(cert.der()).toLowerCase(java.util.Locale.ROOT);
                assertTrue(Csp.myStore().stream().anyMatch(
                               entry -> entry.toLowerCase().startsWith(line) && entry.contains(" container=")),
                           "the certificate is in MY, bound to its container");
                return new Signer(Session.getKeystoreId(c.s), cert, otherCert, Session.getPublicKey(other.s));
            }
        });
    }

    private static byte[] document(String name) {
        return ("Платёжное поручение " + name + " №" + Tools.unique() + "; сумма 1000-00").getBytes(UTF_8);
    }

    private static boolean verify(Container c, Kind kind, byte[] signature, byte[] data, byte[] publicKey) {
        return Session.verifySign(c.s, Csp.CRYPTO_TYPE, signature, data, publicKey, kind.signAlgorithm, kind.paramSet);
    }

    @ParameterizedTest
    @MethodSource("kinds")
    void rawSignaturesVerifyWithOpensslInBothHalfOrders(Kind kind) {
        Signer signer = signer(kind);
        byte[] doc = document("raw");
        byte[] other = Tools.tampered(doc, 0);
        try (Container c = Container.open(signer.storeId(), false);
             Container legacy = Container.open(signer.storeId(), true)) {
            byte[] raw = Session.rawSign(c.s, doc);
            byte[] legacyRaw = Session.rawSign(legacy.s, doc);
            byte[] publicKey = Session.getPublicKey(c.s);
            byte[] legacyPublicKey = Session.getPublicKey(legacy.s);
            assertEquals(kind.bits / 4, raw.length);
            assertAll(
                () -> assertTrue(Verifiers.opensslRaw(kind.opensslDigest, doc, raw, signer.cert().publicKey()),
                                 "openssl, s‖r"),
                () -> assertTrue(Verifiers.opensslRawOverDigest(kind.legacyDigest(doc), Tools.swapHalves(legacyRaw),
                                                                signer.cert().publicKey()),
                                 "openssl, legacy r‖s swapped back"),
                () -> assertFalse(Verifiers.opensslRaw(kind.opensslDigest, other, raw, signer.cert().publicKey()),
                                  "openssl, other data"),
                () -> assertFalse(Verifiers.opensslRaw(kind.opensslDigest, doc, raw, signer.otherCert().publicKey()),
                                  "openssl, another key"),
                () -> assertTrue(verify(c, kind, raw, doc, publicKey), "verifySign"),
                () -> {
                    // The CSP verifies no GOST R 34.10-2001 signature over a digest handed in as it is, as the
                    // legacy mode hands it.
                    if (kind == Kind.GOST_2001_A) {
                        assertEquals(Texts.NOT_IMPLEMENTED,
                                     errorOf(() -> verify(legacy, kind, legacyRaw, doc, legacyPublicKey)));
                    } else {
                        assertTrue(verify(legacy, kind, legacyRaw, doc, legacyPublicKey), "verifySign, legacy mode");
                    }
                },
                () -> assertFalse(verify(c, kind, raw, other, publicKey), "verifySign, other data"),
                () -> assertFalse(verify(c, kind, raw, doc, signer.otherPublicKey()), "verifySign, another key"));
        }
    }

    @ParameterizedTest
    @MethodSource("kinds")
    void cmsMessagesCarryTheImportedCertificateAndVerifyEverywhere(Kind kind) {
        Signer signer = signer(kind);
        byte[] doc = document("cms");
        byte[] other = Tools.tampered(doc, 3);
        try (Container c = Container.open(signer.storeId(), false)) {
            CertInfo[] certificates = Session.listCertificates(c.s, Session.CERT_TYPE_USER);
            assertEquals(1, certificates.length, "the container keeps the certificate with its key");
            assertArrayEquals(signer.cert().der(), certificates[0].x509);

            byte[] attached = Session.cmsSign(c.s, Tools.signData(doc, true));
            byte[] detached = Session.cmsSign(c.s, Tools.signData(doc, false));
            byte[] forged = Tools.tampered(attached, Tools.indexOf(attached, doc) + 5);
            byte[] publicKey = Session.getPublicKey(c.s);
            assertAll(
                () -> assertArrayEquals(doc, Verifiers.opensslCms(attached, null, null), "openssl, attached"),
                () -> assertArrayEquals(doc, Verifiers.opensslCms(detached, doc, null), "openssl, detached"),
                () -> assertTrue(Verifiers.bc(attached, null, null), "Bouncy Castle, attached"),
                () -> assertTrue(Verifiers.bc(detached, doc, null), "Bouncy Castle, detached"),
                () -> assertNull(Verifiers.opensslCms(forged, null, null), "openssl, changed content"),
                () -> assertNull(Verifiers.opensslCms(detached, doc, signer.otherCert().pem()),
                                 "openssl, another key's certificate"),
                () -> assertFalse(Verifiers.bc(detached, other, null), "Bouncy Castle, other content"),
                () -> assertTrue(verify(c, kind, attached, null, publicKey), "verifySign, attached"),
                () -> assertTrue(verify(c, kind, detached, doc, publicKey), "verifySign, detached"),
                () -> assertFalse(verify(c, kind, forged, null, publicKey), "verifySign, changed content"),
                () -> assertFalse(verify(c, kind, detached, other, publicKey), "verifySign, other content"));
        }
    }

    @ParameterizedTest
    @MethodSource("kinds")
    void groupSigningGivesOneMessagePerDocumentInOrder(Kind kind) {
        Signer signer = signer(kind);
        try (Container c = Container.open(signer.storeId(), false)) {
            List<byte[]> docs = new ArrayList<>();
            SignData[] items = new SignData[3];
            for (int i = 0; i < items.length; ++i) {
                docs.add(document("group " + i));
                items[i] = Tools.signData(docs.get(i), i != 1);
            }
            byte[][] messages = Session.groupCmsSign(c.s, items);
            assertEquals(items.length, messages.length);
            for (int i = 0; i < items.length; ++i) {
                byte[] content = i != 1 ? null : docs.get(i);
                assertArrayEquals(docs.get(i), Verifiers.opensslCms(messages[i], content, null), "openssl " + i);
                assertTrue(Verifiers.bc(messages[i], content, null), "Bouncy Castle " + i);
            }
            assertNull(Verifiers.opensslCms(messages[1], docs.get(0), null), "a message belongs to its own document");
        }
    }

    /** The GOST key octets of a SubjectPublicKeyInfo, as a certificate holds them. */
    private static byte[] keyOctets(byte[] subjectPublicKeyInfo) {
        try {
            return ASN1OctetString.getInstance(SubjectPublicKeyInfo.getInstance(subjectPublicKeyInfo).parsePublicKey())
                .getOctets();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Signatures openssl makes with keys of its own verify through the CSP, and only over their data. */
    @ParameterizedTest
    @MethodSource("kinds")
    void opensslSignaturesVerifyThroughTheCsp(Kind kind) {
        Path key = Tools.work().resolve("openssl-" + kind + "-" + Tools.unique() + ".pem");
        Tools.opensslOk("genpkey", "-algorithm", kind.opensslAlgorithm, "-pkeyopt", "paramset:" + kind.opensslParamSet,
                        "-out", key.toString());
        byte[] spki = Tools.opensslOk("pkey", "-in", key.toString(), "-pubout", "-outform", "DER");
        byte[] doc = document("openssl");
        byte[] signature = Tools.opensslOk("pkeyutl", "-sign", "-inkey", key.toString(), "-in",
                                           Tools.file("digest.bin", Verifiers.opensslDigest(kind.opensslDigest, doc))
                                               .toString());
        byte[] publicKey = keyOctets(spki);
        assertEquals(kind.bits / 4, publicKey.length);
        try (Container c = Container.session(false)) {
            assertAll(() -> assertTrue(verify(c, kind, signature, doc, publicKey), "its own data"),
                      () -> assertFalse(verify(c, kind, signature, Tools.tampered(doc, 1), publicKey), "other data"),
                      () -> assertFalse(verify(c, kind, Tools.swapHalves(signature), doc, publicKey),
                                        "halves swapped"));
        }
    }
}
