package com.ormid.signer.tokens;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ormid.signer.Session;
import com.ormid.signer.entities.SignData;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

/**
 * Documents the library reads from the Java array in pieces while it signs (larger than one piece of 1 MiB, and
 * more of them in one group than a native frame has local references): every message verifies with openssl.
 */
class LargeDocumentTest {
    private static final int PIECE = 1 << 20;

    @AfterAll
    static void sweep() {
        Token.sweep(Make.RUTOKEN);
    }

    private static byte[] document(int size, int seed) {
        byte[] doc = new byte[size];
        for (int i = 0; i < size; ++i) {
            doc[i] = (byte) (i * 131 + i / 4099 + seed);
        }
        return doc;
    }

    @Test
    void groupOfLargeAndSmallDocumentsVerifies() {
        try (Token token = Token.open(Make.RUTOKEN, false)) {
            token.createKey(Make.Kind.A);
            TestCa.Cert cert = TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s));
            Session.importCertificate(token.s, cert.der(), Session.CERT_TYPE_USER);
            // Sizes around the piece boundaries, an empty document and many small ones.
            int[] sizes = new int[40];
            int[] large = {PIECE, PIECE + 1, 2 * PIECE + 777, 0};
            for (int i = 0; i < sizes.length; ++i) {
                sizes[i] = i < large.length ? large[i] : 100 + i;
            }
            byte[][] docs = new byte[sizes.length][];
            SignData[] items = new SignData[sizes.length];
            for (int i = 0; i < sizes.length; ++i) {
                docs[i] = document(sizes[i], i);
                items[i] = Token.signData(docs[i], i % 2 == 1);
            }
            byte[][] messages = Session.groupCmsSign(token.s, items);
            assertEquals(items.length, messages.length);
            for (int i = 0; i < items.length; ++i) {
                boolean attached = i % 2 == 1;
                assertArrayEquals(docs[i], Verifiers.opensslCms(messages[i], attached ? null : docs[i], null),
                                  "document " + i + " of " + sizes[i] + " bytes");
            }
            byte[] single = Session.cmsSign(token.s, Token.signData(docs[2], true));
            assertArrayEquals(docs[2], Verifiers.opensslCms(single, null, null), "cmsSign, attached");
        }
    }
}
