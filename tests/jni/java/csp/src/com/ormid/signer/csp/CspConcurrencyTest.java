package com.ormid.signer.csp;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.tokens.TestCa;
import com.ormid.signer.tokens.Tools;
import com.ormid.signer.tokens.Verifiers;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;

/** Sessions on threads of their own create containers and sign at the same time, each with its own key. */
@ExtendWith(LabCsp.class)
class CspConcurrencyTest {
    static final class Signed {
        private final String storeId;
        private final Path publicKey;
        private final List<byte[]> documents;
        private final List<byte[]> signatures;

        Signed(String storeId, Path publicKey, List<byte[]> documents, List<byte[]> signatures) {
            this.storeId = storeId;
            this.publicKey = publicKey;
            this.documents = documents;
            this.signatures = signatures;
        }

        String storeId() {
            return storeId;
        }

        Path publicKey() {
            return publicKey;
        }

        List<byte[]> documents() {
            return documents;
        }

        List<byte[]> signatures() {
            return signatures;
        }
    }

    private static Signed createAndSign(String who) {
        Kind kind = Kind.GOST_2012_256_B;
        try (Container c = Container.create(Csp.newName("HDIMAGE"), kind)) {
            Path publicKey = TestCa.publicKeyFile(Session.getSubjectPublicKeyInfo(c.s));
            List<byte[]> documents = new ArrayList<>();
            List<byte[]> signatures = new ArrayList<>();
            for (int i = 0; i < 10; ++i) {
                byte[] doc = ("Поручение " + who + " №" + i).getBytes(UTF_8);
                documents.add(doc);
                signatures.add(Session.rawSign(c.s, doc));
            }
            return new Signed(Session.getKeystoreId(c.s), publicKey, documents, signatures);
        }
    }

    @Test
    void twoSessionsCreateAndSignAtOnce() throws Exception {
        List<Callable<Signed>> tasks = List.of(() -> createAndSign("first"), () -> createAndSign("second"));
        List<Signed> results = Tools.together(tasks);
        assertNotEquals(results.get(0).storeId(), results.get(1).storeId());
        for (Signed signed : results) {
            assertEquals(10, signed.signatures().size());
            for (int i = 0; i < signed.documents().size(); ++i) {
                assertTrue(Verifiers.opensslRaw(Kind.GOST_2012_256_B.opensslDigest, signed.documents().get(i),
                                                signed.signatures().get(i), signed.publicKey()),
                           signed.storeId() + " document " + i);
            }
        }
    }
}
