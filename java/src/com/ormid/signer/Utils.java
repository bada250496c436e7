package com.ormid.signer;

public final class Utils {
    static {
        NativeLibrary.load();
    }

    private Utils() {}

    /** Bytes from the system's random source. */
    public static native byte[] getRandomBytes(int count);
}
