package com.ormid.signer.cli;

import com.ormid.signer.Signer;
import com.ormid.signer.SignerException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The command-line signer and diagnostics tool: {@code java -jar ormid-signer.jar <command> [options]}. Run it with
 * {@code --help} for the commands, the options and the exit statuses.
 */
public final class Main {
    /** Environment variable naming the token module folder when {@code --module-dir} is not given. */
    public static final String MODULE_DIR_VARIABLE = "ORMID_SIGNER_MODULE_DIR";

    private static final String HELP =
        "usage: ormid-signer <command> [options] [files]\n"
        + "\n"
        + "commands:\n"
        + "  devices                 crypto means and their versions, CSP readers, key stores of every kind\n"
        + "                          (chip type, PIN state), the module folders in use\n"
        + "  keys                    keys of a key store: alias, id, algorithm, certificate subject\n"
        + "  sign FILE...            CMS signature of each file into FILE.p7s; several files are signed as\n"
        + "                          one group (one PIN entry)\n"
        + "  verify FILE.p7s         checks a CMS signature: valid or invalid, and the signer\n"
        + "  confirm FILE            the confirmation token (VEL-token) signs the file's digest (or --digest HEX)\n"
        + "                          into FILE.confirm.p7s (or --out FILE; without either, Base64 on output)\n"
        + "  digest FILE             digest of a file, hexadecimal\n"
        + "  help                    this text\n"
        + "\n"
        + "options:\n"
        + "  --lang ru|en            language of the library's messages (default ru)\n"
        + "  --json                  machine-readable output: one JSON document (errors too)\n"
        + "  --module-dir DIR        folder of the token makers' PKCS#11 modules (else $ORMID_SIGNER_MODULE_DIR)\n"
        + "  --type token|csp|vel    key store kind for keys, sign and verify (default token)\n"
        + "  --store ID              key store id (default: the first store found of the kind)\n"
        + "  --crypto TYPE           keys, sign: the crypto type of the store to take (e.g. rutoken_2);\n"
        + "                          verify, digest: the crypto type that verifies or hashes (default angara)\n"
        + "  --key ALIAS             key alias (default: the store's only key)\n"
        + "  --detached              sign: the signature without the content (default: attached)\n"
        + "  --content FILE          verify: the signed file of a detached signature (default: FILE.p7s without .p7s)\n"
        + "  --cert FILE             verify: the signer's certificate, for a message that carries none\n"
        + "  --alg NAME              digest, confirm: gost2012-256 (default), gost2012-512, gost94, sha256\n"
        + "  --digest HEX            confirm: the digest to confirm\n"
        + "  --text TEXT             confirm: the text confirmed with the digest\n"
        + "  --out FILE              confirm: where the confirmation goes\n"
        + "\n"
        + "PIN and key password: from $ORMID_SIGNER_PIN and $ORMID_SIGNER_KEY_PASSWORD when set, else asked on the\n"
        + "terminal without echo. They are never printed.\n"
        + "\n"
        + "exit status:\n";

    private Main() {}

    /**
     * Runs one command and ends the process with its exit status.
     *
     * @param args the command line
     */
    public static void main(String[] args) {
        PrintStream out = new PrintStream(System.out, true, StandardCharsets.UTF_8);
        PrintStream err = new PrintStream(System.err, true, StandardCharsets.UTF_8);
        System.exit(run(args, out, err));
    }

    /**
     * Runs one command.
     *
     * @param args the command line
     * @param out where the report goes (and, with {@code --json}, the error)
     * @param err where errors go as text
     * @return the exit status ({@link ExitCode#status()})
     */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        // Known before parsing, so that a wrong command line is reported as JSON too.
        boolean json = Arrays.asList(args).contains("--json");
        try {
            Options options = Options.parse(args);
            if (options.has("help") || options.command().equals("help")) {
                out.print(help());
                return ExitCode.OK.status();
            }
            String moduleDir = options.get("module-dir", System.getenv(MODULE_DIR_VARIABLE));
            if (moduleDir != null && !moduleDir.isEmpty()) {
                moduleDir = Path.of(moduleDir).toAbsolutePath().normalize().toString();
            } else {
                moduleDir = null;
            }
            Command command = command(options.command(), moduleDir);
            Signer.setLanguage(language(options.get("lang", "ru")));
            if (moduleDir != null) {
                Signer.setLoadLibraryFolder(moduleDir);
            }
            String session = Signer.openSession(false);
            Command.Result result;
            try {
                result = command.run(new Context(options, session));
            } finally {
                Signer.closeSession(session);
            }
            Report.write(out, result.report(), json);
            return result.code().status();
        } catch (CliException e) {
            return fail(e.code(), e.getMessage(), null, json, out, err);
        } catch (RuntimeException e) {
            SignerException failure = e instanceof SignerException ? (SignerException) e : null;
            return fail(ExitCode.of(e), e.getMessage(), failure, json, out, err);
        } catch (LinkageError e) {
            return fail(ExitCode.LIBRARY_ERROR, "the signing library cannot be loaded: " + e.getMessage(), null, json,
                        out, err);
        }
    }

    /**
     * The help text, the exit statuses included.
     *
     * @return the text {@code --help} prints
     */
    public static String help() {
        StringBuilder text = new StringBuilder(HELP);
        for (ExitCode code : ExitCode.values()) {
            text.append(String.format("  %2d  %-20s %s%n", code.status(), code.label(), code.description()));
        }
        return text.toString();
    }

    private static Command command(String name, String moduleDir) {
        switch (name) {
            case "devices":
                return new DevicesCommand(moduleDir);
            case "keys":
                return new KeysCommand();
            case "sign":
                return new SignCommand();
            case "verify":
                return new VerifyCommand();
            case "confirm":
                return new ConfirmCommand();
            case "digest":
                return new DigestCommand();
            default:
                throw CliException.usage("unknown command " + name + " (see --help)");
        }
    }

    private static int language(String name) {
        switch (name) {
            case "ru":
                return Signer.LANGUAGE_RUSSIAN;
            case "en":
                return Signer.LANGUAGE_ENGLISH;
            default:
                throw CliException.usage("--lang is ru or en, not " + name);
        }
    }

    /**
     * Reports a failure. In JSON the library's failures carry their catalogue code, kind, tries left and the crypto
     * means' own value; the tool's own failures have null there (and -1 for the numbers).
     */
    private static int fail(ExitCode code, String message, SignerException failure, boolean json, PrintStream out,
                            PrintStream err) {
        if (json) {
            Map<String, Object> error = new LinkedHashMap<>();
            error.put("exit", code.status());
            error.put("class", code.label());
            error.put("message", message);
            error.put("code", failure != null ? failure.getCode() : null);
            error.put("kind", failure != null ? failure.getKind().name() : null);
            error.put("triesLeft", failure != null ? failure.getTriesLeft() : -1);
            error.put("vendorCode", failure != null ? failure.getVendorCode() : -1L);
            Report.write(out, Map.of("error", error), true);
        } else {
            err.println("ormid-signer: " + message);
            if (code == ExitCode.USAGE) {
                err.println("run ormid-signer --help for the commands and options");
            }
        }
        return code.status();
    }
}
