package com.ormid.signer.csp;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import com.ormid.signer.Session;
import java.io.ByteArrayOutputStream;
import java.util.Arrays;
import java.util.function.Supplier;
import java.util.stream.Stream;
import org.bouncycastle.crypto.Digest;
import org.bouncycastle.crypto.digests.GOST3411Digest;
import org.bouncycastle.crypto.digests.GOST3411_2012_256Digest;
import org.bouncycastle.crypto.digests.GOST3411_2012_512Digest;
import org.bouncycastle.crypto.engines.GOST28147Engine;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The step-by-step digest calls on the CSP engine, against Bouncy Castle. */
@ExtendWith(LabCsp.class)
class CspDigestTest {
    private static final String STREEBOG_256 = "1.2.643.7.1.1.2.2";
    private static final String STREEBOG_512 = "1.2.643.7.1.1.2.3";
    private static final String GOST_94 = "1.2.643.2.2.9";

    private static byte[] data() {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < 40; ++i) {
            out.writeBytes(("строка " + i + " платёжного документа\n").getBytes(UTF_8));
        }
        return out.toByteArray();
    }

    private static byte[] bc(Digest digest, byte[] data) {
        digest.update(data, 0, data.length);
        byte[] out = new byte[digest.getDigestSize()];
        digest.doFinal(out, 0);
        return out;
    }

    private static byte[] reversed(byte[] bytes) {
        byte[] out = new byte[bytes.length];
        for (int i = 0; i < bytes.length; ++i) {
            out[i] = bytes[bytes.length - 1 - i];
        }
        return out;
    }

    /** Feeds the data in uneven pieces, an empty one among them. */
    private static byte[] digestInSteps(String s, byte[] data) {
        int[] cuts = {0, 1, 1, 70, data.length};
        for (int i = 1; i < cuts.length; ++i) {
            Session.updateDigest(s, Arrays.copyOfRange(data, cuts[i - 1], cuts[i]));
        }
        return Session.finalizeDigest(s);
    }

    /**
     * Digest, Bouncy Castle's hash of the standard mode and of the legacy-bank mode (GOST R 34.11-94 there takes
     * the test parameters).
     */
    static Stream<Arguments> digests() {
        Supplier<Digest> gost94Test = () -> new GOST3411Digest(GOST28147Engine.getSBox("D-Test"));
        return Stream.of(
            Arguments.of(STREEBOG_256, (Supplier<Digest>) GOST3411_2012_256Digest::new,
                         (Supplier<Digest>) GOST3411_2012_256Digest::new),
            Arguments.of(STREEBOG_512, (Supplier<Digest>) GOST3411_2012_512Digest::new,
                         (Supplier<Digest>) GOST3411_2012_512Digest::new),
            Arguments.of(GOST_94, (Supplier<Digest>) GOST3411Digest::new, gost94Test));
    }

    /** The standard mode gives the hash as Bouncy Castle and openssl print it, the legacy mode reversed. */
    @ParameterizedTest(name = "{0}")
    @MethodSource("digests")
    void stepsGiveBouncyCastlesDigest(String oid, Supplier<Digest> standard, Supplier<Digest> legacyParams) {
        byte[] data = data();
        try (Container c = Container.session(false); Container legacy = Container.session(true)) {
            Session.initDigest(c.s, Csp.CRYPTO_TYPE, oid);
            assertArrayEquals(bc(standard.get(), data), digestInSteps(c.s, data), "standard");
            Session.initDigest(legacy.s, Csp.CRYPTO_TYPE, oid);
            assertArrayEquals(reversed(bc(legacyParams.get(), data)), digestInSteps(legacy.s, data), "legacy mode");
        }
    }

    @Test
    void theCurrentKeyChoosesItsOwnHash() {
        byte[] data = data();
        try (Container c = Container.create(Csp.newName("HDIMAGE"), Kind.GOST_2012_512_A)) {
            Session.initDigestByCurrentKey(c.s);
            assertArrayEquals(bc(new GOST3411_2012_512Digest(), data), digestInSteps(c.s, data));
        }
    }
}
