package com.ormid.signer.clitest;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import com.ormid.signer.tokens.Tools;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** Runs the tool through its wrapper script in a JVM of its own under -Xcheck:jni, on the lab's token modules. */
final class Cli {
    /** What one run gave. */
    record Run(int exit, String out, String err) {
        /** Standard output and error together, for assertion messages. */
        String all() {
            return "exit " + exit + "\n" + out + err;
        }
    }

    private Cli() {}

    /** Runs the tool with the arguments; extra environment variables (a PIN, a password) as given. */
    static Run run(Map<String, String> env, String... args) {
        return start(List.of(), env, args);
    }

    /**
     * Runs the tool on a terminal of its own (tests/jni/java/cli/terminal.py) and types the line when the prompt
     * shows; the output is all the terminal showed.
     */
    static Run onTerminal(String prompt, String line, String... args) {
        return start(List.of(System.getProperty("ormid.test.terminal"), prompt, line), Map.of(), args);
    }

    private static Run start(List<String> launcher, Map<String, String> env, String... args) {
        List<String> command = new ArrayList<>(launcher);
        command.add(System.getProperty("ormid.test.tool"));
        command.addAll(List.of(args));
        Map<String, String> environment = new HashMap<>(env);
        environment.put("ORMID_SIGNER_JAR", System.getProperty("ormid.test.jar"));
        environment.put("ORMID_SIGNER_LIBRARY", System.getProperty("ormid.signer.library"));
        environment.put("ORMID_SIGNER_JAVA_OPTS", "-Xcheck:jni");
        environment.put("ORMID_SIGNER_MODULE_DIR", Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        environment.put("JAVA_HOME", System.getProperty("java.home"));
        Tools.Result result = Tools.run(command, environment);
        Run run = new Run(result.exit(), new String(result.out(), UTF_8), result.err());
        assertFalse(run.all().contains("WARNING"), () -> "-Xcheck:jni reported: " + run.all());
        return run;
    }

    /** Runs the tool with no extra environment. */
    static Run run(String... args) {
        return run(Map.of(), args);
    }

    /** Runs the tool, which must end with the exit status given. */
    static Run expect(int exit, Map<String, String> env, String... args) {
        Run run = run(env, args);
        assertEquals(exit, run.exit, run::all);
        return run;
    }

    /**
     * Evaluates a Python expression over the JSON document the tool printed (python's own parser, independent of
     * the tool's writer); {@code d} is the document.
     */
    static String json(Run run, String expression) {
        String path = Tools.file("out.json", run.out.getBytes(UTF_8)).toString();
        Tools.Result result = Tools.run(List.of("python3", "-c", "import json,sys\nd=json.load(open(sys.argv[1], encoding='utf-8'))\n"
                                                                   + "print(" + expression + ")", path), Map.of());
        assertEquals(0, result.exit(), () -> "not JSON, or " + expression + " fails: " + result.text() + "\n" + run.all());
        return new String(result.out(), UTF_8).strip();
    }
}
