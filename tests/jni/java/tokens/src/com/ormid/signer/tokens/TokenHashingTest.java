package com.ormid.signer.tokens;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ormid.signer.Session;
import org.bouncycastle.util.Arrays;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/** The step-by-step digest calls on the token engines, against openssl. */
class TokenHashingTest {
    private static final String STREEBOG_256 = "1.2.643.7.1.1.2.2";
    private static final String STREEBOG_512 = "1.2.643.7.1.1.2.3";
    private static final String GOST_94 = "1.2.643.2.2.9";

    @AfterAll
    static void sweep() {
        for (Make make : Make.values()) {
            Token.sweep(make);
        }
    }

    private static byte[] openssl(String digest, byte[] data) {
        return Tools.opensslOk("dgst", "-" + digest, "-binary", Tools.file("data.bin", data).toString());
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void stepsGiveTheDigestOpensslComputes(Make make) {
        byte[] data = Tools.multiLineDocument();
        try (Token token = Token.open(make, false); Token legacy = Token.open(make, true)) {
            String[][] cases = {{STREEBOG_256, "md_gost12_256"}, {STREEBOG_512, "md_gost12_512"}, {GOST_94, "md_gost94"}};
            for (String[] digest : cases) {
                byte[] expected = openssl(digest[1], data);
                Session.initDigest(token.s, make.id, digest[0]);
                assertArrayEquals(expected, Tools.digestInSteps(token.s, data), digest[1]);
                if (!digest[0].equals(GOST_94)) {
                    // The legacy mode hands the digest over in the order the hash produces it.
                    Session.initDigest(legacy.s, make.id, digest[0]);
                    assertArrayEquals(Arrays.reverse(expected), Tools.digestInSteps(legacy.s, data),
                                      digest[1] + " legacy");
                }
            }
            // The legacy GOST R 34.11-94 parameter set is not one a token hashes with.
            assertEquals(Texts.NOT_IMPLEMENTED, errorOf(() -> Session.initDigest(legacy.s, make.id, GOST_94)));

            token.createKey(Make.Kind.A);
            Session.initDigestByCurrentKey(token.s);
            assertArrayEquals(openssl("md_gost12_256", data), Tools.digestInSteps(token.s, data), "by the current key");
        }
    }
}
