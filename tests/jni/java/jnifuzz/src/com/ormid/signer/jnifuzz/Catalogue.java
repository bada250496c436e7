package com.ormid.signer.jnifuzz;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * The library's own texts, read from its sources: the message catalogues of
 * the errors.cpp files ({"CODE", "Russian", "English"}) and the fixed texts
 * some modules keep beside them (named text constants, device status texts
 * {0xNNNN, "text"}, texts thrown as literals). A message a call raises must be
 * one of these, its %1, %2... filled with anything.
 */
final class Catalogue {
    private static final Pattern ENTRY = Pattern.compile(
        "\\{\"([A-Z0-9]+-[0-9]+)\",\\s*\"((?:[^\"\\\\]|\\\\.)*)\",\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*\\}");
    private static final String LITERAL = "\"((?:[^\"\\\\]|\\\\.)*)\"";
    private static final Pattern FIXED = Pattern.compile(
        "const char\\* const [A-Z_0-9]+ = " + LITERAL + ";|\\{0x[0-9A-Fa-f]+, " + LITERAL + "\\}"
        + "|throw std::[a-z_]+\\(" + LITERAL + "\\)");
    private static final Pattern PLACEHOLDER = Pattern.compile("%[0-9]");

    /**
     * Texts of the standard library that reach Java as they stand: the
     * decimal conversions of the external key id and of numeric attribute
     * values raise the standard conversion errors.
     */
    private static final List<String> STANDARD = List.of("stoi", "stoul", "stoull");

    private final List<Pattern> texts = new ArrayList<>();
    private final List<Pattern> fixed = new ArrayList<>();
    /** The texts cut inside one of their placeholders (see {@link #containsCut}). */
    private final List<Pattern> cut = new ArrayList<>();

    /** Reads every errors.cpp under the source folder; fails when it finds none. */
    Catalogue(Path sources) throws IOException {
        List<Path> files;
        try (Stream<Path> walk = Files.walk(sources)) {
            files = walk.filter(p -> p.getFileName().toString().endsWith(".cpp")).toList();
        }
        for (Path file : files) {
            String code = Files.readString(file, StandardCharsets.UTF_8);
            Matcher fixed = FIXED.matcher(code);
            while (fixed.find()) {
                for (int g = 1; g <= fixed.groupCount(); ++g) {
                    if (fixed.group(g) != null && !fixed.group(g).isEmpty()) {
                        this.fixed.add(Pattern.compile(Pattern.quote(unescape(fixed.group(g)))));
                    }
                }
            }
            Matcher m = ENTRY.matcher(code);
            while (m.find()) {
                for (int language = 2; language <= 3; ++language) {
                    String text = unescape(m.group(language));
                    texts.add(toPattern(text));
                    Matcher at = PLACEHOLDER.matcher(text);
                    while (at.find()) {
                        cut.add(Pattern.compile(toPattern(text.substring(0, at.start())).pattern() + ".*",
                                                Pattern.DOTALL));
                    }
                }
            }
        }
        if (texts.isEmpty()) {
            throw new IOException("no message catalogue under " + sources);
        }
        for (String text : STANDARD) {
            fixed.add(Pattern.compile(Pattern.quote(text)));
        }
        texts.addAll(fixed);
    }

    /** Catalogue entries (each in two languages). */
    int size() {
        return (texts.size() - fixed.size()) / 2;
    }

    int fixedTexts() {
        return fixed.size();
    }

    boolean contains(String message) {
        if (message == null || message.isEmpty()) {
            return false;
        }
        for (Pattern text : texts) {
            if (text.matcher(message).matches()) {
                return true;
            }
        }
        return false;
    }

    /**
     * A catalogue text whose value ends early: what() is read as a C string,
     * so a NUL the caller put into a value ends the message inside it.
     */
    boolean containsCut(String message) {
        for (Pattern text : cut) {
            if (text.matcher(message).matches()) {
                return true;
            }
        }
        return false;
    }

    private static Pattern toPattern(String text) {
        StringBuilder regex = new StringBuilder();
        Matcher m = PLACEHOLDER.matcher(text);
        int last = 0;
        while (m.find()) {
            regex.append(Pattern.quote(text.substring(last, m.start()))).append(".*");
            last = m.end();
        }
        regex.append(Pattern.quote(text.substring(last)));
        return Pattern.compile(regex.toString(), Pattern.DOTALL);
    }

    private static String unescape(String s) {
        return s.replace("\\\"", "\"").replace("\\\\", "\\");
    }
}
