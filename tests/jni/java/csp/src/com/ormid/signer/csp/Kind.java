package com.ormid.signer.csp;

import com.ormid.signer.tokens.Verifiers;
import org.bouncycastle.crypto.digests.GOST3411Digest;
import org.bouncycastle.crypto.engines.GOST28147Engine;

/** GOST key kinds a CSP container is made with: signature algorithm, parameter set and the key's hash. */
enum Kind {
    GOST_2001_A("1.2.643.2.2.19", "1.2.643.2.2.3", "1.2.643.2.2.35.1", 256, "gost2001", "A", "md_gost94"),
    GOST_2012_256_B("1.2.643.7.1.1.1.1", "1.2.643.7.1.1.3.2", "1.2.643.2.2.35.2", 256, "gost2012_256", "B",
                    "md_gost12_256"),
    GOST_2012_512_A("1.2.643.7.1.1.1.2", "1.2.643.7.1.1.3.3", "1.2.643.7.1.2.1.2.1", 512, "gost2012_512", "A",
                    "md_gost12_512");

    final String signAlgorithm;
    /** The same algorithm named with its hash, as a key may report it. */
    final String signAlgorithmWithDigest;
    final String paramSet;
    final int bits;
    /** openssl's (gost engine) key algorithm and parameter set names for a key of this kind. */
    final String opensslAlgorithm;
    final String opensslParamSet;
    final String opensslDigest;

    Kind(String signAlgorithm, String signAlgorithmWithDigest, String paramSet, int bits, String opensslAlgorithm,
         String opensslParamSet, String opensslDigest) {
        this.signAlgorithm = signAlgorithm;
        this.signAlgorithmWithDigest = signAlgorithmWithDigest;
        this.paramSet = paramSet;
        this.bits = bits;
        this.opensslAlgorithm = opensslAlgorithm;
        this.opensslParamSet = opensslParamSet;
        this.opensslDigest = opensslDigest;
    }

    /**
     * The digest a signature of the legacy-bank mode is made over, in the order openssl prints digests: GOST
     * R 34.11-94 takes the test parameters there (Bouncy Castle computes it: openssl knows only the CryptoPro
     * ones), the Streebog hashes are the same in both modes.
     */
    byte[] legacyDigest(byte[] data) {
        if (this != GOST_2001_A) {
            return Verifiers.opensslDigest(opensslDigest, data);
        }
        GOST3411Digest digest = new GOST3411Digest(GOST28147Engine.getSBox("D-Test"));
        digest.update(data, 0, data.length);
        byte[] out = new byte[digest.getDigestSize()];
        digest.doFinal(out, 0);
        return out;
    }

    boolean isSignAlgorithm(String oid) {
        return oid.equals(signAlgorithm) || oid.equals(signAlgorithmWithDigest);
    }
}
