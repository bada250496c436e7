package com.ormid.signer.tokens;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.CertInfo;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/** User certificates on each make: import (checked against the key), list, select the key by it, delete. */
class CertificateTest {
    @AfterAll
    static void sweep() {
        for (Make make : Make.values()) {
            Token.sweep(make);
        }
    }

    private static List<String> ids(Token token) {
        return Arrays.stream(Session.listCertificates(token.s, Session.CERT_TYPE_USER))
            .map(info -> Arrays.toString(info.id))
            .collect(Collectors.toList());
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void userCertificateBelongsToItsKey(Make make) {
        try (Token token = Token.open(make, false)) {
            token.createKey(Make.Kind.A);
            TestCa.Cert otherCert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s));
            String alias = token.createKey(Make.Kind.A).alias;
            TestCa.Cert cert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s));

            List<String> before = ids(token);
            assertEquals(Texts.WRONG_KEY_FOR_CERTIFICATE,
                         errorOf(() -> Session.importCertificate(token.s, otherCert.der(), Session.CERT_TYPE_USER)));
            assertEquals(before, ids(token), "a refused certificate leaves nothing");

            byte[] id = Session.importCertificate(token.s, TestCa.pem("CERTIFICATE", cert.der()),
                                                  Session.CERT_TYPE_USER);
            CertInfo listed = Arrays.stream(Session.listCertificates(token.s, Session.CERT_TYPE_USER))
                                  .filter(info -> Arrays.equals(id, info.id))
                                  .findFirst()
                                  .orElseThrow();
            assertArrayEquals(cert.der(), listed.x509, "the PEM import is stored as DER");
            assertArrayEquals(cert.serial().toByteArray(), listed.properties.serialNumber);

            Session.forgetKey(token.s);
            assertEquals(alias, Session.setKeyByCertificate(token.s, id).alias);
            assertEquals(Texts.CERTIFICATE_NOT_FOUND,
                         errorOf(() -> Session.setKeyByCertificate(token.s, new byte[] {0x7F, 0x7E})));

            Session.setKeyPassword(token.s, Token.PASSWORD);
            Session.deleteCertificate(token.s, id, Session.CERT_TYPE_USER);
            assertTrue(!ids(token).contains(Arrays.toString(id)), "deleted");
            assertEquals(before, ids(token));
        }
    }
}
