package com.ormid.signer.csp;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.tokens.Texts;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** Whether the CSP is there, as the Java API tells: crypto means, version, readers; and a machine without it. */
@ExtendWith(LabCsp.class)
class CspDetectionTest {
    @Test
    void theCspIsListedWithItsVersionAndReaders() {
        try (Container c = Container.session(false)) {
            List<String> all = Arrays.asList(Session.getAvailableCrypto(c.s, null));
            assertTrue(all.contains(Csp.CRYPTO_TYPE), all.toString());
            assertArrayEquals(new String[] {Csp.CRYPTO_TYPE},
                              Session.getAvailableCrypto(c.s, new String[] {"rutoken_2", Csp.CRYPTO_TYPE}),
                              "the lab of these tests has no token");
            assertEquals(Csp.READERS, Arrays.asList(Session.getAvailableCspReaders(c.s)));
            assertEquals(Csp.VERSION, Session.getCryptoTypeVersion(c.s, Csp.CRYPTO_TYPE));
            try {
                Csp.set("version=4.12");
                assertEquals("4.12", Session.getCryptoTypeVersion(c.s, Csp.CRYPTO_TYPE), "read from the CSP each time");
            } finally {
                Csp.set("version=" + Csp.VERSION);
            }
        }
    }

    @Test
    void aCspOfAnotherMakerIsNotTakenForIt() {
        try (Container c = Container.session(false)) {
            Csp.set("vendor=Lab Crypto");
            assertFalse(Arrays.asList(Session.getAvailableCrypto(c.s, null)).contains(Csp.CRYPTO_TYPE));
            assertEquals("null", Session.getCryptoTypeVersion(c.s, Csp.CRYPTO_TYPE));
            assertEquals(Csp.NOT_INSTALLED, Texts.errorOf(() -> Session.getKeyStoreList(c.s, Csp.STORE)));
        } finally {
            Csp.set("vendor=Crypto-Pro");
        }
    }

    /** The answers of a JVM whose CSP folder is the one given (NoCspProbe). */
    private static Map<String, String> probe(Path cspDir) {
        // The library this JVM was given, if any; else the probe too loads the jar's own.
        String library = System.getProperty("ormid.signer.library");
        String classPath = jarOf(NoCspProbe.class) + ":" + jarOf(Session.class);
        String java = Path.of(System.getProperty("java.home"), "bin", "java").toString();
        List<String> command = new ArrayList<>(List.of(java, "-Xcheck:jni"));
        if (library != null) {
            command.add("-Dormid.signer.library=" + library);
        }
        command.addAll(List.of("-cp", classPath, NoCspProbe.class.getName()));
        Tools.Result result = Tools.run(command, Map.of("ORMID_CSP_DIR", cspDir.toString()));
        String text = result.text();
        assertEquals(0, result.exit(), text);
        assertFalse(text.contains("WARNING"), "JNI warnings:\n" + text);
        Map<String, String> answers = new HashMap<>();
        for (String line : text.split("\n")) {
            int eq = line.indexOf('=');
            if (eq > 0) {
                answers.put(line.substring(0, eq), line.substring(eq + 1));
            }
        }
        return answers;
    }

    private static String jarOf(Class<?> type) {
        try {
            return Path.of(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
        } catch (URISyntaxException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * A CSP folder that is empty, or whose libcapi20 lacks an entry point (the lab's csp-broken): the CSP is left
     * out of the crypto means and every CSP request says it is not installed.
     */
    @ParameterizedTest
    @ValueSource(strings = {"empty", "csp-broken"})
    void withoutAUsableCspItIsLeftOutAndCalledNotInstalled(String folder) throws IOException {
        Path dir = folder.equals("empty") ? Files.createTempDirectory(Tools.work(), "no-csp")
                                          : Csp.dir().resolveSibling(folder);
        assertTrue(Files.isDirectory(dir), dir.toString());
        Map<String, String> answers = probe(dir);
        assertAll(() -> assertFalse(answers.get("crypto").contains(Csp.CRYPTO_TYPE), answers.toString()),
                  () -> assertEquals("null", answers.get("version")),
                  () -> assertEquals("error: " + Csp.NOT_INSTALLED, answers.get("containers")),
                  () -> assertEquals("error: " + Csp.NOT_INSTALLED, answers.get("newContainer")),
                  () -> assertEquals("error: " + Csp.NOT_INSTALLED, answers.get("digest")),
                  () -> assertTrue(answers.get("readers").startsWith("error: "), answers.toString()));
    }
}
