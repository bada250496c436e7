package com.ormid.signer.cli;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/** The parsed command line: the command, its options (anywhere after it) and its file arguments. */
public final class Options {
    /** Options that take a value. */
    private static final Set<String> VALUED = Set.of("lang", "module-dir", "store", "key", "crypto", "type", "content",
                                                     "cert", "alg", "text", "digest", "out");
    /** Options that are switches. */
    private static final Set<String> SWITCHES = Set.of("json", "detached", "help");

    private final String command;
    private final Map<String, String> values = new HashMap<>();
    private final Set<String> switches = new HashSet<>();
    private final List<String> files = new ArrayList<>();

    private Options(String command) {
        this.command = command;
    }

    /**
     * Parses the arguments of {@code main}.
     *
     * @param args the command first, then options ({@code --name value}, {@code --name=value} or a switch) and
     *             files in any order; {@code --} ends the options
     * @return the parsed line; with no arguments, or {@code --help}/{@code -h} first, the command is "help"
     * @throws CliException {@link ExitCode#USAGE} for an unknown option, a missing value or a repeated option
     */
    public static Options parse(String[] args) {
        int first = 0;
        String command = "help";
        if (args.length > 0 && !args[0].startsWith("-")) {
            command = args[0];
            first = 1;
        }
        Options options = new Options(command);
        boolean onlyFiles = false;
        for (int i = first; i < args.length; ++i) {
            String arg = args[i];
            if (onlyFiles || !arg.startsWith("-") || arg.equals("-")) {
                options.files.add(arg);
                continue;
            }
            if (arg.equals("--")) {
                onlyFiles = true;
                continue;
            }
            String name = arg.equals("-h") ? "help" : arg.replaceFirst("^--", "");
            String value = null;
            int equals = name.indexOf('=');
            if (equals >= 0) {
                value = name.substring(equals + 1);
                name = name.substring(0, equals);
            }
            if (SWITCHES.contains(name) && value == null) {
                options.switches.add(name);
            } else if (VALUED.contains(name)) {
                if (value == null) {
                    if (i + 1 >= args.length) {
                        throw CliException.usage("option --" + name + " needs a value");
                    }
                    value = args[++i];
                }
                if (options.values.put(name, value) != null) {
                    throw CliException.usage("option --" + name + " is given twice");
                }
            } else {
                throw CliException.usage("unknown option " + arg);
            }
        }
        return options;
    }

    /**
     * The command word.
     *
     * @return e.g. "sign"; "help" when none was given
     */
    public String command() {
        return command;
    }

    /**
     * The value of an option.
     *
     * @param name the option without its dashes
     * @return the value, or null when the option is not given
     */
    public String get(String name) {
        return values.get(name);
    }

    /**
     * The value of an option, or a default.
     *
     * @param name the option without its dashes
     * @param fallback the value when the option is not given
     * @return the value
     */
    public String get(String name, String fallback) {
        return values.getOrDefault(name, fallback);
    }

    /**
     * Whether a switch is given.
     *
     * @param name the switch without its dashes
     * @return true when given
     */
    public boolean has(String name) {
        return switches.contains(name);
    }

    /**
     * The file arguments in command-line order.
     *
     * @return an unmodifiable list, possibly empty
     */
    public List<String> files() {
        return List.copyOf(files);
    }

    /**
     * The one file argument of a command that takes exactly one.
     *
     * @param what what the file is, for the error text
     * @return the file argument
     * @throws CliException {@link ExitCode#USAGE} when there is none or more than one
     */
    public String singleFile(String what) {
        if (files.size() != 1) {
            throw CliException.usage(command + " takes one " + what + (files.isEmpty() ? "" : ", not " + files.size()));
        }
        return files.get(0);
    }
}
