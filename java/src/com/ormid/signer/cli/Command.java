package com.ormid.signer.cli;

import java.util.Map;

/** One command of the tool. */
public interface Command {
    /**
     * What a command produced: the tree {@link Report} writes and the exit status, {@link ExitCode#OK} or
     * {@link ExitCode#INVALID_SIGNATURE} for a failed check.
     */
    final class Result {
        private final Map<String, Object> report;
        private final ExitCode code;

        /**
         * A result.
         *
         * @param report the tree to write
         * @param code the exit status
         */
        public Result(Map<String, Object> report, ExitCode code) {
            this.report = report;
            this.code = code;
        }

        /**
         * The tree {@link Report} writes.
         *
         * @return the tree
         */
        public Map<String, Object> report() {
            return report;
        }

        /**
         * The exit status.
         *
         * @return the status
         */
        public ExitCode code() {
            return code;
        }

        /**
         * A successful result.
         *
         * @param report the tree to write
         * @return the result with {@link ExitCode#OK}
         */
        public static Result ok(Map<String, Object> report) {
            return new Result(report, ExitCode.OK);
        }
    }

    /**
     * Runs the command.
     *
     * @param context the command line and the session
     * @return the report and the exit status
     * @throws CliException failures the tool detects
     * @throws RuntimeException failures the library reports
     */
    Result run(Context context);
}
