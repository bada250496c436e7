package com.ormid.signer;

import java.io.File;

/**
 * Loads libORMIDSignerJni once per class loader. The library is taken from the
 * system property {@code ormid.signer.library} (an absolute path to the .so)
 * when set, otherwise from {@code java.library.path}.
 */
public final class NativeLibrary {
    public static final String PATH_PROPERTY = "ormid.signer.library";
    public static final String NAME = "ORMIDSignerJni";

    private static boolean loaded;

    private NativeLibrary() {}

    public static synchronized void load() {
        if (loaded) {
            return;
        }
        String path = System.getProperty(PATH_PROPERTY);
        if (path != null && !path.isEmpty()) {
            System.load(new File(path).getAbsolutePath());
        } else {
            System.loadLibrary(NAME);
        }
        loaded = true;
    }
}
