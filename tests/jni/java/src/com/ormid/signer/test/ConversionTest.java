package com.ormid.signer.test;

import static com.ormid.signer.test.Texts.LONE_SURROGATE_RU;
import static com.ormid.signer.test.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeyPressResult;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.Pkcs9Attribute;
import com.ormid.signer.entities.SignData;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;

class ConversionTest {
    private static final String DEFAULT_ITEM = "data=;attached=0;computeDigest=1;withCertificates=0;signingTime=0;"
        + "signingCertificate=0;contentReference=0;existingCms=;attributes=[]";

    @Test void stringsBecomeWellFormedUtf8()
    {
        assertEquals("", ConvProbe.utf8Hex(null));
        assertEquals("", ConvProbe.utf8Hex(""));
        assertEquals("41D0AF", ConvProbe.utf8Hex("AЯ"));
        // U+1F600 is the pair D83D DE00: one four-byte character, and back.
        assertEquals("F09F9880", ConvProbe.utf8Hex("\uD83D\uDE00"));
        assertEquals("41F09F98805AF48FBFBF", ConvProbe.utf8Hex("A\uD83D\uDE00Z\uDBFF\uDFFF"));
        assertEquals("Подпись \uD83D\uDE00 №1", ConvProbe.echo("Подпись \uD83D\uDE00 №1"));
        assertEquals("Подпись документа №1", ConvProbe.echo("Подпись документа №1"));
        assertEquals("", ConvProbe.echo(null));
        // Half a pair has no UTF-8 form.
        for (String lone : new String[] {"\uD83D", "a\uDE00", "\uDE00\uD83D", "x\uD83D\uD83D\uDE00"}) {
            assertEquals(LONE_SURROGATE_RU, errorOf(() -> ConvProbe.utf8Hex(lone)), lone);
        }
    }

    @Test
    void illFormedUtf8NeverReachesJavaRaw() {
        byte[] bad = {0x41, (byte) 0xFF, (byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80, 0x42};
        String text = ConvProbe.fromUtf8(bad);
        assertEquals("A\uFFFD\uD83D\uDE00B", text);
        assertEquals("Я", ConvProbe.fromUtf8("Я".getBytes(StandardCharsets.UTF_8)));
    }

    @Test
    void byteArraysAndStringArrays() {
        assertArrayEquals(new byte[0], ConvProbe.echoBytes(null));
        byte[] all = new byte[256];
        for (int i = 0; i < all.length; ++i) {
            all[i] = (byte) i;
        }
        assertArrayEquals(all, ConvProbe.echoBytes(all));
        assertArrayEquals(new String[0], ConvProbe.echoStrings(null));
        assertArrayEquals(new String[] {"a", "", "б"}, ConvProbe.echoStrings(new String[] {"a", null, "б"}));
        byte[][] parts = ConvProbe.splitBytes(new byte[] {1, 2, 3, 4, 5}, 3);
        assertArrayEquals(new byte[][] {{1, 4}, {2, 5}, {3}}, parts);
        // Many elements: local references are released one by one.
        assertEquals(400, ConvProbe.splitBytes(new byte[0], 400).length);
    }

    @Test
    void signDataIsReadFieldByField() {
        assertEquals(DEFAULT_ITEM, ConvProbe.describeSignData(null, false));

        SignData empty = new SignData(null);
        empty.computeDigest = false;
        assertEquals("data=;attached=0;computeDigest=0;withCertificates=1;signingTime=1;signingCertificate=1;"
                         + "contentReference=0;existingCms=;attributes=[]",
                     ConvProbe.describeSignData(empty, false));

        SignData item = new SignData(new byte[] {0x0A, (byte) 0xFF});
        item.attached = true;
        item.signedAttributes = new Pkcs9Attribute[] {new Pkcs9Attribute("1.2.643.2.66.1.2", 268, "Текст"), null,
                                                      new Pkcs9Attribute(null, 19, null)};
        assertEquals("data=0AFF;attached=1;computeDigest=1;withCertificates=0;signingTime=0;signingCertificate=0;"
                         + "contentReference=0;existingCms=;attributes=[1.2.643.2.66.1.2/12/Текст;/0/;/19/;]",
                     ConvProbe.describeSignData(item, true));
    }

    @Test
    void contentSourceReadsOnlyOnTheCallingThread() {
        byte[] data = new byte[(1 << 20) + 3];
        for (int i = 0; i < data.length; ++i) {
            data[i] = (byte) (i * 7 + i / 1000);
        }
        assertArrayEquals(data, ConvProbe.readSource(data, false));
        assertArrayEquals(new byte[0], ConvProbe.readSource(null, false));
        // Another thread's reads would use this thread's JNIEnv.
        assertEquals("Внутренняя ошибка", errorOf(() -> ConvProbe.readSource(data, true)));
    }

    @Test
    void signDataArrays() {
        assertArrayEquals(new String[0], ConvProbe.describeSignDataArray(null, false));
        String[] texts = ConvProbe.describeSignDataArray(new SignData[] {new SignData(new byte[] {1}), null}, true);
        assertEquals(2, texts.length);
        assertTrue(texts[0].startsWith("data=01;"), texts[0]);
        assertEquals(DEFAULT_ITEM, texts[1]);
    }

    @Test
    void keyInfoFields() {
        KeyInfo[] none = ConvProbe.keyList(0, 0, 0);
        assertEquals(0, none.length);

        KeyInfo[] keys = ConvProbe.keyList(0, 65535, 300);
        assertEquals(300, keys.length);
        assertEquals("0", keys[0].id);
        assertEquals(65535, keys[0].systemId);
        assertEquals("ключ 0", keys[0].alias);
        assertEquals("ключ 299", keys[299].alias);
        assertEquals("1.2.643.7.1.1.1.1", keys[0].signAlgorithmOid);
        assertEquals("", keys[0].algParamsOid);
        assertTrue(keys[0].loginRequired);
        assertFalse(keys[1].loginRequired);
        assertTrue(keys[3].hasPassword);

        assertEquals("18446744073709551615", ConvProbe.keyList(-1L, 1, 1)[0].id);
    }

    @Test
    void keystoreInfoFields() {
        KeystoreInfo withoutPin = ConvProbe.keystoreInfo(3, false);
        assertEquals(3, withoutPin.type);
        assertEquals("A1B2", withoutPin.id);
        assertEquals("MSKEY_K-202", withoutPin.chipType);
        assertEquals("", withoutPin.shortName);
        assertTrue(withoutPin.isUserPinDefault);
        assertTrue(withoutPin.isAdminPinLocked);
        assertFalse(withoutPin.isUserPinLocked);
        assertFalse(ConvProbe.keystoreInfo(0, true).isUserPinDefault);
    }

    @Test
    void keyPressResultSwapsThePair() {
        KeyPressResult result = ConvProbe.keyPressResult(7, 3);
        assertEquals(7, result.requestedChar);
        assertEquals(3, result.currentCharNum);
    }

    @Test
    void missingJavaClassOrFieldIsAnError() {
        assertEquals("Can't find com/ormid/signer/entities/NoSuchEntity", errorOf(ConvProbe::useMissingClass));
        // A failed lookup is retried, not remembered as filled.
        assertEquals("Can't find com/ormid/signer/entities/NoSuchEntity", errorOf(ConvProbe::useMissingClass));
        assertEquals("Can't find com/ormid/signer/entities/KeyPressResult.noSuchField",
                     errorOf(ConvProbe::useMissingField));
    }
}
