package com.ormid.signer.veltoken;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.Security;
import java.security.Signature;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.Collection;
import java.util.List;
import java.util.stream.Collectors;
import org.bouncycastle.asn1.ASN1Encodable;
import org.bouncycastle.asn1.ASN1Encoding;
import org.bouncycastle.asn1.ASN1ObjectIdentifier;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.DEROctetString;
import org.bouncycastle.asn1.DERUTF8String;
import org.bouncycastle.asn1.cms.Attribute;
import org.bouncycastle.asn1.cms.AttributeTable;
import org.bouncycastle.asn1.cms.CMSAttributes;
import org.bouncycastle.asn1.cryptopro.GOST3410PublicKeyAlgParameters;
import org.bouncycastle.asn1.rosstandart.RosstandartObjectIdentifiers;
import org.bouncycastle.asn1.x509.AlgorithmIdentifier;
import org.bouncycastle.asn1.x509.SubjectPublicKeyInfo;
import org.bouncycastle.cms.CMSException;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.jce.provider.BouncyCastleProvider;

/** What a confirmation must be, checked with Bouncy Castle and openssl (gost engine) against the lab device's key. */
final class Confirmations {
    static final String TEXT_OID = "1.2.643.2.66.1.2";
    static final String STREEBOG_512 = "1.2.643.7.1.1.2.3";
    /** The device serial as the signer's serial number: the serial bytes 87 D6 12 00 read little-endian. */
    static final BigInteger DEVICE_SERIAL = BigInteger.valueOf(1234567);

    static {
        Security.addProvider(new BouncyCastleProvider());
    }

    private Confirmations() {}

    /** The device's public key: GOST R 34.10-2012 512 bit, parameter set A, as a SubjectPublicKeyInfo (DER). */
    static byte[] deviceSpki() {
        try {
            AlgorithmIdentifier algorithm = new AlgorithmIdentifier(
                RosstandartObjectIdentifiers.id_tc26_gost_3410_12_512,
                new GOST3410PublicKeyAlgParameters(RosstandartObjectIdentifiers.id_tc26_gost_3410_12_512_paramSetA,
                                                   RosstandartObjectIdentifiers.id_tc26_gost_3411_12_512));
            return new SubjectPublicKeyInfo(algorithm, new DEROctetString(VelLab.publicKey())).getEncoded(ASN1Encoding.DER);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** openssl: the signature (s‖r) over the Streebog-512 digest of the data, under the device's public key. */
    static boolean opensslVerifies(byte[] data, byte[] signature) {
        String pem = "-----BEGIN PUBLIC KEY-----\n" + Base64.getMimeEncoder().encodeToString(deviceSpki())
                     + "\n-----END PUBLIC KEY-----\n";
        Path key = Tools.file("device.pub.pem", pem.getBytes(StandardCharsets.US_ASCII));
        byte[] digest = Tools.opensslOk("dgst", "-md_gost12_512", "-binary", Tools.file("data.bin", data).toString());
        return Tools.openssl("pkeyutl", "-verify", "-pubin", "-inkey", key.toString(), "-in",
                             Tools.file("digest.bin", digest).toString(), "-sigfile",
                             Tools.file("sig.bin", signature).toString())
            .ok();
    }

    /** Bouncy Castle: the same check through its own GOST R 34.10-2012 signature. */
    static boolean bcVerifies(byte[] data, byte[] signature) {
        try {
            PublicKey key = KeyFactory.getInstance("ECGOST3410-2012", "BC")
                                .generatePublic(new X509EncodedKeySpec(deviceSpki()));
            Signature verifier = Signature.getInstance("GOST3411-2012-512WITHECGOST3410-2012-512", "BC");
            verifier.initVerify(key);
            verifier.update(data);
            return verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The one signer of a detached message without certificates. */
    static SignerInformation signer(byte[] cms) {
        try {
            CMSSignedData signed = new CMSSignedData(cms);
            assertNull(signed.getSignedContent(), "detached: the message carries no content");
            assertTrue(signed.getCertificates().getMatches(null).isEmpty(), "no certificates");
            Collection<SignerInformation> signers = signed.getSignerInfos().getSigners();
            assertEquals(1, signers.size(), "one signer");
            return signers.iterator().next();
        } catch (CMSException e) {
            throw new AssertionError("Bouncy Castle cannot read the message", e);
        }
    }

    /**
     * Checks a confirmation of data with text: its form, its attributes and its signature (openssl and Bouncy
     * Castle). Returns the DER (SET) of its signed attributes, the bytes the device signed.
     */
    static byte[] check(byte[] cms, byte[] data, String text) {
        SignerInformation signer = signer(cms);
        AttributeTable attributes = signer.getSignedAttributes();
        byte[] signedAttributes;
        try {
            signedAttributes = signer.getEncodedSignedAttributes();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        assertAll(
            () -> assertEquals(DEVICE_SERIAL, signer.getSID().getSerialNumber(), "the signer is the device serial"),
            () -> assertEquals(0, signer.getSID().getIssuer().getRDNs().length, "no issuer names the signer"),
            () -> assertEquals(STREEBOG_512, signer.getDigestAlgOID()),
            () -> assertArrayEquals(data, attributeValue(attributes, CMSAttributes.messageDigest.getId(),
                                                         ASN1OctetString.class).getOctets(),
                                    "the messageDigest is the data as given"),
            () -> assertEquals(text, attributeValue(attributes, TEXT_OID, DERUTF8String.class).getString()),
            () -> assertTrue(opensslVerifies(signedAttributes, signer.getSignature()), "openssl verifies"),
            () -> assertTrue(bcVerifies(signedAttributes, signer.getSignature()), "Bouncy Castle verifies"));
        return signedAttributes;
    }

    private static <T extends ASN1Encodable> T attributeValue(AttributeTable attributes, String oid, Class<T> type) {
        Attribute attribute = attributes.get(new ASN1ObjectIdentifier(oid));
        assertTrue(attribute != null, "signed attribute " + oid);
        assertEquals(1, attribute.getAttrValues().size(), "one value of " + oid);
        return assertInstanceOf(type, attribute.getAttrValues().getObjectAt(0), "value of " + oid);
    }

    /**
     * The confirmations in a stretch of the APDU log: each a PIN check, the sign command and the end of that same
     * session, one after the other. Device-information reads may come between them, nothing else. Returns the sign
     * commands.
     */
    static List<Apdu> signCommands(List<Apdu> log, String pin) {
        byte[] pinBytes = pin.getBytes(StandardCharsets.UTF_8);
        String pinCheck = "00200101" + String.format("%02X", pinBytes.length) + hex(pinBytes);
        List<Apdu> signs = new ArrayList<>();
        for (int i = 0; i < log.size(); ++i) {
            Apdu apdu = log.get(i);
            if (apdu.header().equals("00F50000")) {
                continue;
            }
            String where = "at command " + i + " of\n" + String.join("\n", log.stream().map(Apdu::toString).collect(Collectors.toList()));
            assertTrue(i + 2 < log.size(), "a session ends " + where);
            Apdu sign = log.get(i + 1);
            Apdu end = log.get(i + 2);
            assertAll(where, () -> assertEquals(pinCheck + " 9000", apdu.toString(), "PIN check"),
                      () -> assertEquals("002A9E80", sign.header(), "the sign command follows the PIN check"),
                      () -> assertTrue(sign.ok()), () -> assertEquals("00200201", end.header(), "then the session ends"),
                      () -> assertTrue(end.ok()),
                      () -> assertArrayEquals(sessionToken(sign), end.data(), "the end names the same session"));
            signs.add(sign);
            i += 2;
        }
        return signs;
    }

    /** TLV 82 of a sign command: the session token it uses. */
    static byte[] sessionToken(Apdu sign) {
        byte[] data = sign.data();
        assertEquals((byte) 0x82, data[0], "TLV 82 first");
        return Arrays.copyOfRange(data, 2, 2 + (data[1] & 0xFF));
    }

    /** TLV 01 of a sign command: the bytes the device is asked to sign. */
    static byte[] signedData(Apdu sign) {
        byte[] data = sign.data();
        int at = 2 + (data[1] & 0xFF);
        assertEquals(0x01, data[at], "TLV 01 after TLV 82");
        int length = data[at + 1] & 0xFF;
        int start = at + 2;
        if (length == 0) {
            length = (data[at + 2] & 0xFF) << 8 | (data[at + 3] & 0xFF);
            start = at + 4;
        }
        assertEquals(data.length, start + length, "TLV 01 ends the data");
        return Arrays.copyOfRange(data, start, start + length);
    }

    static String hex(byte[] bytes) {
        return Tools.hex(bytes);
    }
}
