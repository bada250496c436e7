package com.ormid.signer;

/**
 * Library-wide calls: the version, the language of error messages, the folder of the token
 * vendors' modules, and opening and closing sessions. Every failure is raised as a
 * {@link SignerException} whose message is the text of a catalogue code (see {@link Session}).
 */
public final class Signer {
    static {
        NativeLibrary.load();
    }

    /** Message language of every error text: Russian (the language at load). */
    public static final int LANGUAGE_RUSSIAN = 0;
    /** Message language of every error text: English. */
    public static final int LANGUAGE_ENGLISH = 1;

    private Signer() {}

    /**
     * Gives the library's version.
     *
     * @return the version text, {@code "1.9"}
     */
    public static native String getVersion();

    /**
     * Sets the language of every later error message, for all sessions of the process.
     *
     * @param language {@link #LANGUAGE_RUSSIAN} or {@link #LANGUAGE_ENGLISH}
     * @throws SignerException BS-006003 for another value; the language stays as it was
     */
    public static native void setLanguage(int language);

    /**
     * Sets the folder in which the token vendors' PKCS#11 modules are looked for, for every token
     * make. The path is used as given and checked only when a module is loaded: a module missing there
     * fails the token operation that needs it with CP-008043.
     *
     * @param path the folder holding the modules, a full path (starting with "/"); "" returns to the
     *        default places (the system's library search, and the vendor's own folder for the make that
     *        has one)
     * @throws RuntimeException BS-0018 for a relative path, which would name a folder of whatever the
     *         working directory is when a module is loaded; the folder in use stays as it was
     */
    public static native void setLoadLibraryFolder(String path);

    /**
     * Opens a session: its own key store and key selection, caches and digest. A session lives
     * until {@link #closeSession(String)}.
     *
     * @param kalvaMode true to start the session in legacy-bank mode (see {@link Session})
     * @return the session identifier, 32 upper-case hexadecimal characters
     * @throws SignerException BS-0014 when the system gives no random data for the identifier
     */
    public static native String openSession(boolean kalvaMode);

    /**
     * Closes a session and lets go of its key stores. A call still running in it on another thread
     * keeps the session until it returns; later calls with the identifier fail.
     *
     * @param sessionId an identifier returned by {@link #openSession(boolean)}
     * @throws SignerException BS-001001 when the identifier names no open session (unknown or already
     *         closed)
     */
    public static native void closeSession(String sessionId);
}
