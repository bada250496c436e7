package com.ormid.signer.faults;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.function.Executable;

/**
 * The library's message catalogue (the Russian texts of the errors tables in the sources), to tell a catalogue
 * error from any other text that might reach Java.
 */
public final class Catalogue {
    private static final Pattern ENTRY =
        Pattern.compile("^\\s*\\{(?:\"[A-Z]+-[0-9]+\"|0x[0-9A-Fa-f]{4}), \"((?:[^\"\\\\]|\\\\.)*)\"");
    /** The sources holding catalogue tables: the error catalogues and the device status-word texts. */
    private static final java.util.Set<String> TABLES = java.util.Set.of("errors.cpp", "apdu.cpp");
    private static List<Pattern> texts;

    private Catalogue() {}

    private static synchronized List<Pattern> texts() {
        if (texts == null) {
            List<Pattern> found = new ArrayList<>();
            try (Stream<Path> files = Files.walk(Path.of(Tools.labEnv("ORMID_SOURCE_DIR")))) {
                for (Path file : files.filter(p -> TABLES.contains(p.getFileName().toString())).toList()) {
                    for (String line : Files.readAllLines(file)) {
                        Matcher m = ENTRY.matcher(line);
                        if (m.find()) {
                            found.add(pattern(m.group(1).replace("\\\"", "\"")));
                        }
                    }
                }
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            assertFalse(found.isEmpty(), "no catalogue found under " + Tools.labEnv("ORMID_SOURCE_DIR"));
            texts = found;
        }
        return texts;
    }

    /** A text with its arguments (%1, %2...) as wildcards; anything may follow (a composed detail). */
    private static Pattern pattern(String text) {
        StringBuilder regex = new StringBuilder();
        for (String part : text.split("%[0-9]", -1)) {
            if (regex.length() > 0) {
                regex.append(".*");
            }
            regex.append(Pattern.quote(part));
        }
        return Pattern.compile(regex + ".*", Pattern.DOTALL);
    }

    static {
        System.load(Tools.labEnv("ORMID_LAB_MODULES_PROBE"));
    }

    /** The platform's (pcsc-lite's) text of a PC/SC result. */
    static native String pcscText(long code);

    private static List<String> pcscTexts;

    /**
     * Whether the text is the platform's own for a PC/SC result (pcsc-lite's): the library passes those on for
     * reader failures it has no catalogue entry for.
     */
    public static synchronized boolean isPcscText(String message) {
        if (pcscTexts == null) {
            List<String> found = new ArrayList<>();
            for (long code = 0x80100001L; code <= 0x801000FFL; ++code) {
                String text = pcscText(code);
                if (!text.startsWith("Unknown error")) {
                    found.add(text);
                }
            }
            pcscTexts = found;
        }
        return pcscTexts.contains(message);
    }

    public static boolean isCatalogueText(String message) {
        return message != null && texts().stream().anyMatch(p -> p.matcher(message).matches());
    }

    /** Runs the call, which must throw a RuntimeException with a catalogue text; returns the text. */
    public static String errorOf(Executable call) {
        String message = assertThrows(RuntimeException.class, call).getMessage();
        assertTrue(isCatalogueText(message), () -> "not a catalogue text: " + message);
        return message;
    }
}
