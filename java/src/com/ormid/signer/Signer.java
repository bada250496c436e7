package com.ormid.signer;

/** Library-wide calls: version, language, vendor module folder, sessions. */
public final class Signer {
    static {
        NativeLibrary.load();
    }

    /** Message language of every error text: Russian. */
    public static final int LANGUAGE_RUSSIAN = 0;
    /** Message language of every error text: English. */
    public static final int LANGUAGE_ENGLISH = 1;

    private Signer() {}

    public static native String getVersion();

    public static native void setLanguage(int language);

    public static native void setLoadLibraryFolder(String path);

    /** Opens a session and returns its identifier (32 upper-case hex characters). */
    public static native String openSession(boolean kalvaMode);

    public static native void closeSession(String sessionId);
}
