package com.ormid.signer.tokens;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** The token makes of the lab's default layout, with what the library should report for each. */
enum Make {
    RUTOKEN("rutoken_2", "0169552957", "0A1B2C3D", "12345678", true, "RUTOKEN_ECP_2-401", "401", "Рутокен ЭЦП 2.0",
            List.of(Kind.A, Kind.B, Kind.C, Kind.XA, Kind.XB), List.of(Kind.A512, Kind.B512)),
    ANGARA("angara", "MSK00000001", "MSK00000001", "11111111", true, "MSKEY_K-202", "202", "MS_KEY K – АНГАРА",
           List.of(Kind.A, Kind.B, Kind.C, Kind.XA, Kind.XB, Kind.TC26_A), List.of(Kind.A512, Kind.B512, Kind.C512)),
    JACARTA("jacarta_2", "JC2000000001", "JC2000000001", "12345678", false, "JACARTA_GOST-303", "303", "JaCarta ГОСТ - Криптотокен 2",
            List.of(Kind.A, Kind.XA), List.of());

    /** Crypto type id. */
    final String id;
    /** Key store id the library gives the lab token. */
    final String storeId;
    /** Serial of the lab device (lab-device). */
    final String labSerial;
    /** The user PIN the token has from the factory (the library's default for the make). */
    final String pin;
    /** Whether the make tells that the user PIN was never changed (JaCarta does not). */
    final boolean tellsDefaultPin;
    final String chipType;
    final String version;
    final String shortName;
    /** Parameter sets the make creates and signs with, 256-bit and 512-bit keys. */
    final List<Kind> kinds256;
    final List<Kind> kinds512;

    Make(String id, String storeId, String labSerial, String pin, boolean tellsDefaultPin, String chipType, String version, String shortName,
         List<Kind> kinds256, List<Kind> kinds512) {
        this.id = id;
        this.storeId = storeId;
        this.labSerial = labSerial;
        this.pin = pin;
        this.tellsDefaultPin = tellsDefaultPin;
        this.chipType = chipType;
        this.version = version;
        this.shortName = shortName;
        this.kinds256 = kinds256;
        this.kinds512 = kinds512;
    }

    /**
     * The kinds the make lists; only those named in the system property ormid.test.kinds (comma-separated) when it
     * is set, for a lab whose crypto library knows fewer curves.
     */
    List<Kind> kinds() {
        List<Kind> all = new ArrayList<>(kinds256);
        all.addAll(kinds512);
        String only = System.getProperty("ormid.test.kinds");
        if (only != null) {
            List<String> names = Arrays.asList(only.split(","));
            all.removeIf(kind -> !names.contains(kind.name()));
        }
        return all;
    }

    /**
     * GOST R 34.10-2012 key kinds: signature algorithm and parameter set. The exchange sets XA and XB name the
     * curves of A and C, and a key asked for with them is kept with those.
     */
    enum Kind {
        A("1.2.643.2.2.35.1", 256),
        B("1.2.643.2.2.35.2", 256),
        C("1.2.643.2.2.35.3", 256),
        XA("1.2.643.2.2.36.0", "1.2.643.2.2.35.1"),
        XB("1.2.643.2.2.36.1", "1.2.643.2.2.35.3"),
        TC26_A("1.2.643.7.1.2.1.1.1", 256),
        A512("1.2.643.7.1.2.1.2.1", 512),
        B512("1.2.643.7.1.2.1.2.2", 512),
        C512("1.2.643.7.1.2.1.2.3", 512);

        static final String GOST_2012_256 = "1.2.643.7.1.1.1.1";
        static final String GOST_2012_512 = "1.2.643.7.1.1.1.2";
        /** The same algorithms named with their hash, as key records may name them. */
        static final String GOST_2012_256_WITH_DIGEST = "1.2.643.7.1.1.3.2";
        static final String GOST_2012_512_WITH_DIGEST = "1.2.643.7.1.1.3.3";

        final String paramSet;
        /** The parameter set the key is kept with. */
        final String storedParamSet;
        final int bits;

        Kind(String paramSet, int bits) {
            this.paramSet = paramSet;
            this.storedParamSet = paramSet;
            this.bits = bits;
        }

        Kind(String paramSet, String storedParamSet) {
            this.paramSet = paramSet;
            this.storedParamSet = storedParamSet;
            this.bits = 256;
        }

        String signAlgorithm() {
            return bits == 256 ? GOST_2012_256 : GOST_2012_512;
        }

        /**
         * Whether Bouncy Castle (1.72, the Debian package) reads a certificate key of this kind: it cannot read the
         * key parameters without a hash set that openssl writes for TC26 256 A and 512 C keys.
         */
        boolean bouncyCastleReadsKey() {
            return this != TC26_A && this != C512;
        }

        /** Whether a key's reported signature algorithm is this kind's. */
        boolean isSignAlgorithm(String oid) {
            return oid.equals(signAlgorithm())
                   || oid.equals(bits == 256 ? GOST_2012_256_WITH_DIGEST : GOST_2012_512_WITH_DIGEST);
        }

        /** openssl's digest name for the key's hash. */
        String opensslDigest() {
            return bits == 256 ? "md_gost12_256" : "md_gost12_512";
        }
    }
}
