package com.ormid.signer.tokens;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.SignData;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;
import org.bouncycastle.cms.SignerInformation;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The interoperability matrix: for every key kind each make creates, CMS (attached, detached, groups) and raw
 * signatures made through the Java API verify with openssl and Bouncy Castle against a certificate a test CA
 * issued for the key's SubjectPublicKeyInfo; changed content, another key and another certificate are rejected
 * by both and by the library's own verifySign.
 */
class SigningInteropTest {
    private static final String CONTENT_TYPE = "1.2.840.113549.1.9.3";
    private static final String MESSAGE_DIGEST = "1.2.840.113549.1.9.4";

    /** A key on a token with its certificate imported, and a second key of the same kind with its own certificate. */
    static final class Signer {
        private final Make make;
        private final Make.Kind kind;
        private final String alias;
        private final TestCa.Cert cert;
        private final TestCa.Cert otherCert;
        private final byte[] otherPublicKey;

        Signer(Make make, Make.Kind kind, String alias, TestCa.Cert cert, TestCa.Cert otherCert, byte[] otherPublicKey) {
            this.make = make;
            this.kind = kind;
            this.alias = alias;
            this.cert = cert;
            this.otherCert = otherCert;
            this.otherPublicKey = otherPublicKey;
        }

        Make make() {
            return make;
        }

        Make.Kind kind() {
            return kind;
        }

        String alias() {
            return alias;
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

    private static final Map<String, Signer> signers = new HashMap<>();

    static Stream<Arguments> cases() {
        return Stream.of(Make.values()).flatMap(make -> make.kinds().stream().map(kind -> Arguments.of(make, kind)));
    }

    private static synchronized Signer signer(Make make, Make.Kind kind) {
        return signers.computeIfAbsent(make + "/" + kind, name -> {
            try (Token token = Token.open(make, false)) {
                token.createKey(kind);
                byte[] otherPublicKey = Session.getPublicKey(token.s);
                TestCa.Cert otherCert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s));
                KeyInfo key = token.createKey(kind);
                assertTrue(kind.isSignAlgorithm(key.signAlgorithmOid), key.signAlgorithmOid);
                assertEquals(kind.storedParamSet, key.algParamsOid);
                assertEquals(make.id, key.cryptoType);
                TestCa.Cert cert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s));
                Session.importCertificate(token.s, cert.der(), Session.CERT_TYPE_USER);
                return new Signer(make, kind, key.alias, cert, otherCert, otherPublicKey);
            }
        });
    }

    @AfterAll
    static void sweep() {
        for (Make make : Make.values()) {
            Token.sweep(make);
        }
    }

    private static byte[] document(String name) {
        return ("Платёжное поручение " + name + " №" + Tools.unique() + "; сумма 1000-00").getBytes(UTF_8);
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("cases")
    void cmsMessagesVerifyWithOpensslAndBouncyCastle(Make make, Make.Kind kind) {
        Signer signer = signer(make, kind);
        byte[] doc = document(kind.name());
        byte[] other = Tools.tampered(doc, 3);
        try (Token token = Token.open(make, false)) {
            token.useKey(signer.alias());
            byte[] attached = Session.cmsSign(token.s, Token.signData(doc, true));
            byte[] detached = Session.cmsSign(token.s, Token.signData(doc, false));
            byte[] forged = Tools.tampered(attached, Tools.indexOf(attached, doc) + 5);
            byte[] publicKey = Session.getPublicKey(token.s);
            assertAll(
                () -> assertArrayEquals(doc, Verifiers.opensslCms(attached, null, null), "openssl, attached"),
                () -> assertArrayEquals(doc, Verifiers.opensslCms(detached, doc, null), "openssl, detached"),
                () -> assertTrue(bcAccepts(kind, attached, null, null), "Bouncy Castle, attached"),
                () -> assertTrue(bcAccepts(kind, detached, doc, null), "Bouncy Castle, detached"),
                () -> assertTrue(Verifiers.hasCertificates(detached), "certificates outside the legacy mode"),
                () -> assertNull(Verifiers.opensslCms(forged, null, null), "openssl, changed content"),
                () -> assertNull(Verifiers.opensslCms(detached, other, null), "openssl, other content"),
                () -> assertNull(Verifiers.opensslCms(detached, doc, signer.otherCert().pem()),
                                 "openssl, another key's certificate"),
                () -> assertTrue(bcRejects(kind, forged, null, null),
                                  "Bouncy Castle, changed content"),
                () -> assertTrue(bcRejects(kind, detached, other, null),
                                  "Bouncy Castle, other content"),
                () -> assertTrue(bcRejects(kind, detached, doc, signer.otherCert().der()),
                                  "Bouncy Castle, another key's certificate"),
                () -> assertTrue(verify(token, kind, attached, null, publicKey), "verifySign, attached"),
                () -> assertTrue(verify(token, kind, detached, doc, publicKey), "verifySign, detached"),
                () -> assertFalse(verify(token, kind, forged, null, publicKey), "verifySign, changed content"),
                () -> assertFalse(verify(token, kind, detached, other, publicKey), "verifySign, other content"));
        }
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("cases")
    void groupSigningGivesOneIndependentMessagePerDocumentInOrder(Make make, Make.Kind kind) {
        Signer signer = signer(make, kind);
        try (Token token = Token.open(make, false)) {
            token.useKey(signer.alias());
            List<byte[]> docs = new ArrayList<>();
            SignData[] items = new SignData[4];
            for (int i = 0; i < items.length; ++i) {
                docs.add(document("group " + i));
                items[i] = Token.signData(docs.get(i), i % 2 == 0);
            }
            byte[][] messages = Session.groupCmsSign(token.s, items);
            assertEquals(items.length, messages.length);
            for (int i = 0; i < items.length; ++i) {
                byte[] doc = docs.get(i);
                byte[] message = messages[i];
                boolean attached = i % 2 == 0;
                assertArrayEquals(doc, Verifiers.opensslCms(message, attached ? null : doc, null), "openssl " + i);
                assertTrue(bcAccepts(kind, message, attached ? null : doc, null), "Bouncy Castle " + i);
                assertEquals(attached, Tools.indexOf(message, doc) >= 0, "content attached as asked " + i);
            }
            assertNull(Verifiers.opensslCms(messages[1], docs.get(3), null), "a message belongs to its own document");
        }
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("cases")
    void rawSignaturesVerifyInBothHalfOrders(Make make, Make.Kind kind) {
        Signer signer = signer(make, kind);
        byte[] doc = document("raw");
        byte[] other = Tools.tampered(doc, 0);
        try (Token token = Token.open(make, false); Token legacy = Token.open(make, true)) {
            token.useKey(signer.alias());
            legacy.useKey(signer.alias());
            byte[] raw = Session.rawSign(token.s, doc);
            byte[] legacyRaw = Session.rawSign(legacy.s, doc);
            byte[] publicKey = Session.getPublicKey(token.s);
            byte[] legacyPublicKey = Session.getPublicKey(legacy.s);
            assertEquals(kind.bits / 4, raw.length);
            assertAll(
                () -> assertTrue(Verifiers.opensslRaw(kind, doc, raw, signer.cert().publicKey()), "openssl, s‖r"),
                () -> assertTrue(Verifiers.opensslRaw(kind, doc, Tools.swapHalves(legacyRaw), signer.cert().publicKey()),
                                 "openssl, legacy r‖s swapped back"),
                () -> assertFalse(Verifiers.opensslRaw(kind, other, raw, signer.cert().publicKey()),
                                  "openssl, other data"),
                () -> assertFalse(Verifiers.opensslRaw(kind, doc, raw, signer.otherCert().publicKey()),
                                  "openssl, another key"),
                () -> assertTrue(verify(token, kind, raw, doc, publicKey), "verifySign"),
                () -> assertTrue(verify(legacy, kind, legacyRaw, doc, legacyPublicKey), "verifySign, legacy mode"),
                () -> assertFalse(verify(token, kind, raw, other, publicKey), "verifySign, other data"),
                () -> assertFalse(verify(token, kind, raw, doc, signer.otherPublicKey()), "verifySign, another key"));
        }
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("cases")
    void legacyModeMessagesCarryOnlyTheirDigestAndASerial(Make make, Make.Kind kind) {
        Signer signer = signer(make, kind);
        byte[] doc = document("legacy");
        try (Token legacy = Token.open(make, true)) {
            legacy.useKey(signer.alias());
            byte[] cms = Session.cmsSign(legacy.s, Token.signData(doc, true));
            SignerInformation info = Verifiers.signer(cms);
            byte[] publicKey = Session.getPublicKey(legacy.s);
            assertAll(
                () -> assertFalse(Verifiers.hasCertificates(cms), "no certificates"),
                () -> assertEquals(Set.of(CONTENT_TYPE, MESSAGE_DIGEST), Set.copyOf(Verifiers.signedAttributeOids(info)),
                                   "no signing time, no signing certificate"),
                () -> assertTrue(Verifiers.serialOnly(info), "signer named by serial only"),
                () -> assertTrue(Verifiers.opensslLegacySignature(kind, cms, signer.cert().publicKey()),
                                 "openssl, signature over the attributes"),
                () -> assertTrue(verify(legacy, kind, cms, null, publicKey), "verifySign"),
                () -> assertFalse(verify(legacy, kind, Tools.tampered(cms, Tools.indexOf(cms, doc)), null, publicKey),
                                  "verifySign, changed content"));
        }
    }

    /** Bouncy Castle accepts the message; not asked for a key kind it cannot read (see Make.Kind). */
    private static boolean bcAccepts(Make.Kind kind, byte[] cms, byte[] detachedContent, byte[] certificate) {
        return !kind.bouncyCastleReadsKey() || Verifiers.bc(cms, detachedContent, certificate);
    }

    /** Bouncy Castle rejects the message; not asked for a key kind it cannot read. */
    private static boolean bcRejects(Make.Kind kind, byte[] cms, byte[] detachedContent, byte[] certificate) {
        return !kind.bouncyCastleReadsKey() || !Verifiers.bc(cms, detachedContent, certificate);
    }

    private static boolean verify(Token token, Make.Kind kind, byte[] signature, byte[] data, byte[] publicKey) {
        return Session.verifySign(token.s, token.make.id, signature, data, publicKey, kind.signAlgorithm(),
                                  kind.paramSet);
    }
}
