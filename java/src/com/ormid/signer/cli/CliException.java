package com.ormid.signer.cli;

/** A failure the tool itself detects (bad command line, unreadable file), with the exit status it ends with. */
public final class CliException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The class of the failure. */
    private final ExitCode code;

    /**
     * A failure of the given class.
     *
     * @param code the exit status the tool ends with
     * @param message what went wrong, shown to the user
     */
    public CliException(ExitCode code, String message) {
        super(message);
        this.code = code;
    }

    /**
     * A wrong command line ({@link ExitCode#USAGE}).
     *
     * @param message what is wrong with it
     * @return the exception to throw
     */
    public static CliException usage(String message) {
        return new CliException(ExitCode.USAGE, message);
    }

    /**
     * The class of the failure.
     *
     * @return the exit status the tool ends with
     */
    public ExitCode code() {
        return code;
    }
}
