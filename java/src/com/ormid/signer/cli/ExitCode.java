package com.ormid.signer.cli;

import com.ormid.signer.SignerException;
import com.ormid.signer.SignerException.Kind;
import java.util.Arrays;
import java.util.List;

/**
 * Exit status of the tool, one per class of failure. A failure of the library is a {@link SignerException}, whose
 * {@link SignerException#getKind() kind} chooses the status; its text is never looked at.
 */
public enum ExitCode {
    /** The command did what was asked. */
    OK(0, "ok", "success"),
    /** The command line is wrong: unknown command or option, a value missing, no file given. */
    USAGE(1, "usage", "wrong command line"),
    /** Verification ran and the signature does not match the content or the key. */
    INVALID_SIGNATURE(2, "invalid-signature", "the signature is invalid", Kind.INVALID_SIGNATURE),
    /** The PIN or key password was refused (wrong, or of a length the device does not take). */
    WRONG_PIN(3, "wrong-pin", "wrong PIN or password", Kind.WRONG_PIN),
    /** No tries are left: the PIN or the key is blocked. */
    BLOCKED(4, "blocked", "PIN or key blocked", Kind.PIN_BLOCKED, Kind.KEY_BLOCKED),
    /** A PIN or password is needed and none could be read (no terminal and no environment variable). */
    PIN_REQUIRED(5, "pin-required", "PIN or password required", Kind.PIN_REQUIRED, Kind.PASSWORD_REQUIRED),
    /** The device or key store is not there (not plugged in, taken out during the call). */
    DEVICE_NOT_FOUND(6, "device-not-found", "device not found", Kind.DEVICE_NOT_FOUND),
    /** The key or its certificate is not in the store (or no key is selected). */
    KEY_NOT_FOUND(7, "key-not-found", "key or certificate not found", Kind.KEY_NOT_FOUND, Kind.CERTIFICATE_NOT_FOUND,
                  Kind.NOT_SELECTED),
    /** The user refused the operation on the device. */
    CANCELLED(8, "cancelled", "cancelled by the user", Kind.CANCELLED),
    /** A file could not be read or written. */
    FILE_ERROR(9, "file-error", "file not readable or not writable"),
    /** The crypto means is missing or unsupported: module not loadable, CSP not installed, no PC/SC service. */
    CRYPTO_UNAVAILABLE(10, "crypto-unavailable", "crypto means missing or unsupported", Kind.CRYPTO_UNAVAILABLE,
                       Kind.NOT_IMPLEMENTED),
    /** The input is not a well-formed signature, certificate or ASN.1 structure. */
    MALFORMED_INPUT(11, "malformed-input", "malformed signature or certificate", Kind.MALFORMED_INPUT),
    /** Any other failure the library reported. */
    LIBRARY_ERROR(12, "library-error", "other error of the library");

    private final int status;
    private final String name;
    private final String description;
    private final List<Kind> kinds;

    ExitCode(int status, String name, String description, Kind... kinds) {
        this.status = status;
        this.name = name;
        this.description = description;
        this.kinds = Arrays.asList(kinds);
    }

    /**
     * The process exit status.
     *
     * @return 0 to 12
     */
    public int status() {
        return status;
    }

    /**
     * The short name of the class, as {@code --json} output gives it.
     *
     * @return a lower-case word such as {@code wrong-pin}
     */
    public String label() {
        return name;
    }

    /**
     * What the class means, for the help text.
     *
     * @return an English phrase
     */
    public String description() {
        return description;
    }

    /**
     * The class of a failure the library reported.
     *
     * @param kind the kind of the library's exception; null is an other error
     * @return the class that takes the kind, else {@link #LIBRARY_ERROR}
     */
    public static ExitCode ofKind(Kind kind) {
        for (ExitCode code : values()) {
            if (code.kinds.contains(kind)) {
                return code;
            }
        }
        return LIBRARY_ERROR;
    }

    /**
     * The class of a failure raised by the library.
     *
     * @param failure what the library raised: a {@link SignerException}, anything else is an other error
     * @return the class of its kind
     */
    public static ExitCode of(RuntimeException failure) {
        return failure instanceof SignerException ? ofKind(((SignerException) failure).getKind()) : LIBRARY_ERROR;
    }
}
