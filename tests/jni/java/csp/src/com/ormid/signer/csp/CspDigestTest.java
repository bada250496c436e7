package com.ormid.signer.csp;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import com.ormid.signer.Session;
import com.ormid.signer.tokens.Tools;
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
        byte[] data = Tools.multiLineDocument();
        try (Container c = Container.session(false); Container legacy = Container.session(true)) {
            Session.initDigest(c.s, Csp.CRYPTO_TYPE, oid);
            assertArrayEquals(bc(standard.get(), data), Tools.digestInSteps(c.s, data), "standard");
            Session.initDigest(legacy.s, Csp.CRYPTO_TYPE, oid);
            assertArrayEquals(reversed(bc(legacyParams.get(), data)), Tools.digestInSteps(legacy.s, data), "legacy mode");
        }
    }

    @Test
    void theCurrentKeyChoosesItsOwnHash() {
        byte[] data = Tools.multiLineDocument();
        try (Container c = Container.create(Csp.newName("HDIMAGE"), Kind.GOST_2012_512_A)) {
            Session.initDigestByCurrentKey(c.s);
            assertArrayEquals(bc(new GOST3411_2012_512Digest(), data), Tools.digestInSteps(c.s, data));
        }
    }
}
