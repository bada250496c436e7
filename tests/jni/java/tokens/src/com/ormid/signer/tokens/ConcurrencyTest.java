package com.ormid.signer.tokens;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

/** Java threads, each with its own session, on two tokens of one make and on one token. */
class ConcurrencyTest {
    private static final int SIGNATURES = 200;

    @AfterAll
    static void sweep() {
        Token.sweep(Make.RUTOKEN);
        Token.sweep(Make.RUTOKEN, Lab.SECOND_RUTOKEN_ID);
    }

    /** A key signing many documents: what each signature must verify against. */
    static final class Signed {
        private final Path publicKey;
        private final List<byte[]> documents;
        private final List<byte[]> signatures;

        Signed(Path publicKey, List<byte[]> documents, List<byte[]> signatures) {
            this.publicKey = publicKey;
            this.documents = documents;
            this.signatures = signatures;
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

    private static Signed signMany(String storeId, String name) {
        try (Token token = Token.open(Make.RUTOKEN, storeId, false)) {
            token.createKey(Make.Kind.A);
            Path publicKey = TestCa.publicKeyFile(Session.getSubjectPublicKeyInfo(token.s));
            List<byte[]> documents = new ArrayList<>();
            List<byte[]> signatures = new ArrayList<>();
            for (int i = 0; i < SIGNATURES; ++i) {
                byte[] document = (name + " document " + i).getBytes(UTF_8);
                documents.add(document);
                signatures.add(Session.rawSign(token.s, document));
            }
            return new Signed(publicKey, documents, signatures);
        }
    }

    private static void assertAllVerify(Signed signed, String name) {
        for (int i = 0; i < SIGNATURES; ++i) {
            assertTrue(Verifiers.opensslRaw(Make.Kind.A, signed.documents().get(i), signed.signatures().get(i),
                                            signed.publicKey()),
                       name + " signature " + i + " verifies with its own token's key");
        }
    }

    @Test
    void twoTokensOfOneMakeSignAtOnceEachWithItsOwnKey() throws Exception {
        List<Signed> results = Tools.together(List.of(() -> signMany(Make.RUTOKEN.storeId, "first"),
                                                () -> signMany(Lab.SECOND_RUTOKEN_ID, "second")));
        assertAllVerify(results.get(0), "first token");
        assertAllVerify(results.get(1), "second token");
        assertTrue(!Verifiers.opensslRaw(Make.Kind.A, results.get(0).documents().get(0),
                                         results.get(0).signatures().get(0), results.get(1).publicKey()),
                   "the tokens' keys differ");
    }

    /** One thread's work on the shared token: keys made, numbered, renamed and used. */
    private static Map<String, String> changeKeys(int thread) {
        Map<String, String> idsByAlias = new java.util.HashMap<>();
        try (Token token = Token.open(Make.RUTOKEN, false)) {
            for (int i = 0; i < 8; ++i) {
                String alias = Token.PREFIX + "t" + thread + "-" + i + "-" + Tools.unique();
                token.createKey(alias, Make.Kind.A);
                String id = Long.toString(1_000_000L * (thread + 1) + i);
                Session.setKeyId(token.s, id);
                Session.changeKeyAlias(token.s, alias + "-renamed");
                byte[] document = ("key " + alias).getBytes(UTF_8);
                byte[] signature = Session.rawSign(token.s, document);
                assertTrue(Verifiers.opensslRaw(Make.Kind.A, document, signature,
                                                TestCa.publicKeyFile(Session.getSubjectPublicKeyInfo(token.s))),
                           alias);
                idsByAlias.put(alias + "-renamed", id);
            }
        }
        return idsByAlias;
    }

    @Test
    void twoSessionsChangingKeysOnOneTokenLoseNothing() throws Exception {
        List<Map<String, String>> results = Tools.together(List.of(() -> changeKeys(0), () -> changeKeys(1)));
        try (Token token = Token.open(Make.RUTOKEN, false)) {
            Map<String, String> listed = Arrays.stream(Session.listKeys(token.s))
                                             .collect(Collectors.toMap(key -> key.alias, key -> key.id));
            for (Map<String, String> made : results) {
                for (Map.Entry<String, String> key : made.entrySet()) {
                    assertEquals(key.getValue(), listed.get(key.getKey()), key.getKey() + " kept its record");
                }
            }
            for (KeyInfo key : Session.listKeys(token.s)) {
                assertTrue(!key.alias.matches(".*t[01]-\\d+-\\d+"), "no key left under its old alias: " + key.alias);
            }
        }
    }
}
