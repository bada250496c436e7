package com.ormid.signer.cli;

import java.lang.reflect.InvocationTargetException;

/**
 * The jar's entry point: a Java 8 class file that runs {@link Main} on Java 11 and later and on an older runtime
 * says in one line which Java the tool needs. The API itself runs on Java 8.
 */
public final class Start {
    /** The oldest Java the command-line tool runs on. */
    public static final int REQUIRED_JAVA = 11;

    private Start() {}

    /**
     * Runs the tool, or ends with status 1 and one line on standard error on a runtime older than
     * {@link #REQUIRED_JAVA}.
     *
     * @param args the command line
     * @throws Throwable what the tool throws
     */
    public static void main(String[] args) throws Throwable {
        String version = System.getProperty("java.specification.version", "");
        if (feature(version) < REQUIRED_JAVA) {
            System.err.println("ormid-signer needs Java " + REQUIRED_JAVA + " or later; this is Java "
                               + System.getProperty("java.version", version) + " ("
                               + System.getProperty("java.home", "") + ")");
            System.exit(1);
        }
        // Reflection keeps Main, a class file of a newer Java, unloaded on the old runtime.
        try {
            Class.forName("com.ormid.signer.cli.Main").getMethod("main", String[].class).invoke(null, (Object) args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    // "1.8" -> 8, "11" -> 11; anything unreadable counts as old.
    static int feature(String specificationVersion) {
        String number = specificationVersion.startsWith("1.") ? specificationVersion.substring(2)
                                                             : specificationVersion;
        int end = 0;
        while (end < number.length() && Character.isDigit(number.charAt(end))) {
            ++end;
        }
        try {
            return Integer.parseInt(number.substring(0, end));
        } catch (NumberFormatException e) {
            return 0;
        }
    }
}
