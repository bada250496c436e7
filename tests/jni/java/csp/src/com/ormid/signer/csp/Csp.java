package com.ormid.signer.csp;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The lab's simulated CSP as the Java API shows it, and the texts its refusals carry. */
final class Csp {
    static final String CRYPTO_TYPE = "cryptopro";
    static final int STORE = com.ormid.signer.Session.KEYSTORE_CRYPTOPRO_CONTAINER;
    /** Version and readers the lab's CSP starts with; FLASH is a reader without a medium in it. */
    static final String VERSION = "5.0";
    static final List<String> READERS = List.of("HDIMAGE", "FLASH");
    /** Container names of the tests start with it. */
    static final String PREFIX = "e2e-";

    static final String NOT_INSTALLED = "Необходимо криптосредство СКЗИ \"КриптоПро CSP\"";
    static final String SELECT_NEW_CONTAINER = "Для создания нового ключа необходимо выбрать новый контейнер";
    static final String NO_CYRILLIC_ON_HDIMAGE = "Алиас ключа ЭП не должен содержать кириллические символы";
    static final String KEYSET_MISSING = "Набор ключей не существует или доступ запрещен";

    private Csp() {}

    /** The folder the library loads the CSP from (the lab's). */
    static Path dir() {
        return Path.of(Tools.labEnv("ORMID_CSP_DIR"));
    }

    /** Changes settings of the lab's CSP (scripts/lab csp). */
    static void set(String... settings) {
        List<String> command =
            new ArrayList<>(List.of(Tools.labEnv("ORMID_LAB_SCRIPT"), "csp", Tools.labDir().toString()));
        command.addAll(List.of(settings));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab csp: " + result.text());
    }

    /** The lines of the lab CSP's certificate store "MY" of the current user, one certificate each. */
    static List<String> myStore() {
        try {
            Path store = Tools.labDir().resolve("csp").resolve("stores").resolve("MY");
            return Files.exists(store) ? Files.readAllLines(store) : List.of();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** A fully qualified container name on the reader, new to the CSP. */
    static String newName(String reader) {
        return "\\\\.\\" + reader + "\\" + PREFIX + Tools.unique() + "-"
               + Long.toHexString(System.nanoTime() & 0xFFFFF);
    }

    static String mediumMissing(String reader) {
        return "Отсутствует ключевой носитель \"" + reader + "\"";
    }
}
