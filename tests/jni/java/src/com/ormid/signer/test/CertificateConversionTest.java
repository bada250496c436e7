package com.ormid.signer.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.CertificateProperties;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.text.SimpleDateFormat;
import java.util.Date;
import java.util.TimeZone;
import org.junit.jupiter.api.Test;

/**
 * Certificates made by OpenSSL (gost engine) for the test run are converted by
 * the library and compared with Java's own certificate parser.
 */
class CertificateConversionTest {
    private static byte[] fixture(String name) throws Exception {
        return Files.readAllBytes(Path.of(System.getProperty("ormid.signer.testcerts"), name));
    }

    private static String utcTime(Date date) {
        SimpleDateFormat format = new SimpleDateFormat("yyMMddHHmmss'Z'");
        format.setTimeZone(TimeZone.getTimeZone("UTC"));
        return format.format(date);
    }

    private static void checkAgainstJava(CertInfo info, byte[] der, int id) throws Exception {
        X509Certificate java = (X509Certificate) CertificateFactory.getInstance("X.509")
                                   .generateCertificate(new ByteArrayInputStream(der));
        assertArrayEquals(new byte[] {(byte) id}, info.id);
        assertArrayEquals(der, info.x509);
        CertificateProperties p = info.properties;
        assertEquals("Тестовый ключ", p.subject);
        assertEquals("Тестовый ключ", p.issuer);
        assertArrayEquals(java.getSerialNumber().toByteArray(), p.serialNumber);
        assertArrayEquals(java.getSignature(), p.thumbprint);
        assertEquals(utcTime(java.getNotBefore()), p.period.notBefore);
        assertEquals(utcTime(java.getNotAfter()), p.period.notAfter);
        assertEquals("1.2.643.7.1.1.1.1", p.algOid);
        assertEquals("1.2.643.2.2.35.1", p.paramsOid);
        assertEquals(64, p.publicKey.length);
    }

    @Test
    void certificatesAsJavaSeesThem() throws Exception {
        byte[] v1 = fixture("gost-v1.der");
        byte[] v3 = fixture("gost-v3.der");
        CertInfo[] infos = ConvProbe.certificates(new byte[][] {v1, v3});
        assertEquals(2, infos.length);
        checkAgainstJava(infos[0], v1, 0);
        checkAgainstJava(infos[1], v3, 1);
        // The version field is absent in a v1 certificate; a v3 one stores 2.
        assertEquals(0, infos[0].properties.version);
        assertEquals(2, infos[1].properties.version);
        assertEquals(0, ConvProbe.certificates(null).length);
    }

    /** The first UTCTime of the certificate (its notBefore) with its 'Z' made a digit: local time. */
    private static byte[] withUnreadableValidity(byte[] der)
    {
        byte[] broken = der.clone();
        for (int i = 0; i + 14 < broken.length; i++) {
            if (broken[i] == 0x17 && broken[i + 1] == 13 && broken[i + 14] == 'Z') {
                broken[i + 14] = '0';
                return broken;
            }
        }
        throw new AssertionError("no UTCTime in the certificate");
    }

    @Test void aCertificateThatCannotBeReadIsLeftOutOfTheList() throws Exception
    {
        byte[] v1 = fixture("gost-v1.der");
        byte[] v3 = fixture("gost-v3.der");
        CertInfo[] infos = ConvProbe.certificates(new byte[][] {v1, withUnreadableValidity(v1), v3});
        assertEquals(2, infos.length);
        checkAgainstJava(infos[0], v1, 0);
        checkAgainstJava(infos[1], v3, 2);
        assertEquals(0, ConvProbe.certificates(new byte[][] {withUnreadableValidity(v3)}).length);
    }
}
