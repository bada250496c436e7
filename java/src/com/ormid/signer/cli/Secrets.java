package com.ormid.signer.cli;

import java.io.Console;
import java.util.Arrays;
import java.util.function.Consumer;

/**
 * Reads the PIN and the key password: from an environment variable when it is set, else from the terminal without
 * echo. The characters are wiped as soon as the library has them and are never written anywhere.
 */
public final class Secrets {
    /** Environment variable holding the user PIN of the device. */
    public static final String PIN_VARIABLE = "ORMID_SIGNER_PIN";
    /** Environment variable holding the password of the key. */
    public static final String KEY_PASSWORD_VARIABLE = "ORMID_SIGNER_KEY_PASSWORD";

    private Secrets() {}

    /**
     * Hands the device's user PIN to a call and wipes it afterwards.
     *
     * @param prompt what the terminal prompt names, e.g. the store id
     * @param use receives the PIN (the library's calls take a String, which is dropped right after)
     * @throws CliException {@link ExitCode#PIN_REQUIRED} when the variable is unset and there is no terminal
     */
    public static void withPin(String prompt, Consumer<String> use) {
        with(PIN_VARIABLE, "PIN of " + prompt + ": ", use);
    }

    /**
     * Hands the key's password to a call and wipes it afterwards.
     *
     * @param prompt what the terminal prompt names, e.g. the key alias
     * @param use receives the password
     * @throws CliException {@link ExitCode#PIN_REQUIRED} when the variable is unset and there is no terminal
     */
    public static void withKeyPassword(String prompt, Consumer<String> use) {
        with(KEY_PASSWORD_VARIABLE, "Password of key " + prompt + ": ", use);
    }

    /**
     * Whether a secret is at hand without asking: its environment variable is set.
     *
     * @param variable {@link #PIN_VARIABLE} or {@link #KEY_PASSWORD_VARIABLE}
     * @return true when the variable is set
     */
    public static boolean given(String variable) {
        return System.getenv(variable) != null;
    }

    private static void with(String variable, String prompt, Consumer<String> use) {
        char[] secret = read(variable, prompt);
        try {
            use.accept(new String(secret));
        } finally {
            Arrays.fill(secret, '\0');
        }
    }

    private static char[] read(String variable, String prompt) {
        String value = System.getenv(variable);
        if (value != null) {
            return value.toCharArray();
        }
        Console console = System.console();
        char[] typed = console == null ? null : console.readPassword("%s", prompt);
        if (typed == null) {
            throw new CliException(ExitCode.PIN_REQUIRED, "no terminal to ask for it and " + variable + " is not set: "
                                                              + prompt.replaceFirst(": $", "") + " required");
        }
        return typed;
    }
}
