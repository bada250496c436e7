package com.ormid.signer;

/** Helpers that need no session. */
public final class Utils {
    static {
        NativeLibrary.load();
    }

    private Utils() {}

    /**
     * Reads bytes from the system's random source.
     *
     * @param count the number of bytes, 0 or more
     * @return {@code count} random bytes
     * @throws SignerException BS-006003 for a negative count; BS-0014 when the system gives no random
     *         data
     */
    public static native byte[] getRandomBytes(int count);
}
