package com.ormid.signer.faults;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.SignerException;
import com.ormid.signer.SignerException.Kind;
import com.ormid.signer.faults.TokenFaultSweepTest.Device;
import com.ormid.signer.tokens.Tools;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * What a Java program can tell apart about each failure: one row per kind of failure, each run in Russian and in
 * English. The exception is a SignerException whose code, kind, tries left, vendor value, alias and serial are
 * those of the failure, and whose message is the catalogue text of the code in the language of the call (its
 * %1, %2 filled with the row's arguments).
 */
class SignerExceptionTest {
    private static final Device TOKEN = Device.RUTOKEN;
    private static final String WRONG_PIN = "00000000";
    private static final String PASSWORD = "Пароль-1";
    private static final String VEL_READER = "ORMID VEL-token 00 00";
    private static final String VEL_SERIAL = "01-23-45-67";
    private static final long CKR_PIN_INCORRECT = 0xA0;
    private static final long CKR_DEVICE_ERROR = 0x30;
    private static final long CKR_DEVICE_REMOVED = 0x32;
    private static final long NTE_FAIL = 0x80090020L;
    private static final long SCARD_E_NOT_TRANSACTED = 0x80100016L;
    private static final List<String> sessions = new ArrayList<>();
    private static Map<String, String[]> catalogue;
    private static String passwordKey;

    /**
     * What the failure must carry; args fill the catalogue text's placeholders. A platform text (the PC/SC
     * client's, which the library passes on where it has no catalogue entry) stands in place of the catalogue's.
     */
    record Expected(String code, Kind kind, int tries, long vendor, String alias, String serial, String platformText,
                    String... args) {
        static Expected of(String code, Kind kind, String... args) {
            return new Expected(code, kind, -1, -1, null, null, null, args);
        }

        Expected tries(int n) {
            return new Expected(code, kind, n, vendor, alias, serial, platformText, args);
        }

        Expected vendor(long value) {
            return new Expected(code, kind, tries, value, alias, serial, platformText, args);
        }

        Expected alias(String value) {
            return new Expected(code, kind, tries, vendor, value, serial, platformText, args);
        }

        Expected serial(String value) {
            return new Expected(code, kind, tries, vendor, alias, value, platformText, args);
        }

        Expected platformText(String text) {
            return new Expected(code, kind, tries, vendor, alias, serial, text, args);
        }

        String message(int language) {
            return platformText != null ? platformText : text(code, language, args);
        }
    }

    /** One failure: the lab and session state it needs (made again before each language), and the call. */
    record Row(String name, Runnable arrange, Executable call, Expected expected) {
        @Override
        public String toString() {
            return name;
        }
    }

    // ---- the lab ----

    private static String session() {
        String s = Signer.openSession(false);
        sessions.add(s);
        return s;
    }

    private static String token(boolean withPin) {
        Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        String s = session();
        Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, TOKEN.storeId, false);
        if (withPin) {
            Session.setPin(s, TOKEN.pin);
        }
        return s;
    }

    /** Changes the state of the lab's VEL-token. */
    private static void vel(String... facts) {
        ConfirmationFaultTest.set(facts);
    }

    /** The VEL-token back in its reader, working, with its factory PIN and all tries. */
    private static void velReset() {
        // Back in its reader after a row that pulled it out (refused when it is there).
        Tools.run(List.of(Tools.labEnv("ORMID_LAB_SCRIPT"), "insert", Tools.labDir().toString(), VEL_READER, "vel",
                          "vel1"), Map.of());
        vel("lifecycle=working", "pin=123456", "default_pin=1", "tries=10", "max_tries=10", "info_without_tries=",
            "mute=", "pull_at=", "sw_at=");
    }

    private static String velSession() {
        String s = session();
        Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, VEL_SERIAL, false);
        return s;
    }

    private static void tokenState(String... facts) {
        LabModule.faults();
        TOKEN.set(facts);
    }

    private static void tokenReset() {
        tokenState("user-pin=" + TOKEN.pin, "user-pin-default=1", "user-tries-left=10", "present=1");
    }

    private static void cspFaults(String rules) {
        LabFiles.writeAtomically(Tools.labDir().resolve("csp").resolve("faults"), rules);
    }

    @BeforeAll
    static void keys() {
        tokenReset();
        String s = token(true);
        passwordKey = "errors-password-" + System.nanoTime();
        Session.createNewKey(s, passwordKey, 7, "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", PASSWORD);
    }

    @AfterAll
    static void restore() {
        Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
        cspFaults("");
        tokenReset();
        velReset();
        try {
            String s = token(true);
            Session.setKey(s, passwordKey);
            Session.setKeyPassword(s, PASSWORD);
            Session.deleteKey(s);
        } finally {
            sessions.forEach(Signer::closeSession);
        }
    }

    // ---- the catalogue ----

    /** Code -> {Russian, English} from the catalogue tables in the sources. */
    private static synchronized Map<String, String[]> catalogue() {
        if (catalogue == null) {
            Pattern row = Pattern.compile("\\{\"([A-Za-z0-9]+-[0-9]+)\", \"((?:[^\"\\\\]|\\\\.)*)\", "
                                          + "\"((?:[^\"\\\\]|\\\\.)*)\"\\}");
            Map<String, String[]> found = new HashMap<>();
            try (Stream<Path> files = Files.walk(Path.of(Tools.labEnv("ORMID_SOURCE_DIR")))) {
                for (Path file : files.filter(p -> p.getFileName().toString().equals("errors.cpp")).toList()) {
                    for (String line : Files.readAllLines(file)) {
                        Matcher m = row.matcher(line);
                        if (m.find()) {
                            found.put(m.group(1), new String[] {unescape(m.group(2)), unescape(m.group(3))});
                        }
                    }
                }
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            catalogue = found;
        }
        return catalogue;
    }

    private static String unescape(String literal) {
        return literal.replace("\\\"", "\"").replace("\\\\", "\\");
    }

    /** The text of the code in the language; an argument "@CODE" is the text of that code in the language. */
    private static String text(String code, int language, String... args) {
        String[] texts = catalogue().get(code);
        assertNotNull(texts, "no catalogue row " + code);
        String text = texts[language];
        for (int i = 0; i < args.length; ++i) {
            String arg = args[i].startsWith("@") ? text(args[i].substring(1), language) : args[i];
            text = text.replace("%" + (i + 1), arg);
        }
        return text;
    }

    // ---- the rows ----

    /** A SEQUENCE whose length runs past the end. */
    private static final byte[] NOT_DER = {0x30, (byte) 0x82, 0x7F};
    /** A well-formed SignedData without signers. */
    private static final byte[] NO_SIGNERS = java.util.HexFormat.of().parseHex(
        "3023" + "06092A864886F70D010702" + "A016" + "3014" + "020101" + "3100" + "300B06092A864886F70D010701" + "3100");

    private static String s;

    static List<Row> rows() {
        List<Row> rows = new ArrayList<>();
        Runnable none = () -> {};
        rows.add(new Row("wrong token PIN", () -> {
            tokenState("user-pin-default=0", "user-tries-left=10");
            s = token(false);
        }, () -> Session.setPin(s, WRONG_PIN), Expected.of("CP-008007", Kind.WRONG_PIN, "9").tries(9)
                                                   .vendor(CKR_PIN_INCORRECT)));
        rows.add(new Row("the last token PIN try", () -> {
            tokenState("user-pin-default=0", "user-tries-left=2");
            s = token(false);
        }, () -> Session.setPin(s, WRONG_PIN), Expected.of("CP-008009", Kind.WRONG_PIN).tries(1)
                                                   .vendor(CKR_PIN_INCORRECT)));
        rows.add(new Row("a blocked token PIN", () -> {
            tokenState("user-pin-default=0", "user-tries-left=1");
            s = token(false);
        }, () -> Session.setPin(s, WRONG_PIN), Expected.of("CP-008030", Kind.PIN_BLOCKED).tries(0)
                                                   .vendor(0x6983))); // the chip's answer to the tries query
        rows.add(new Row("PIN required", () -> {
            tokenState("user-pin-default=0", "user-tries-left=10");
            s = token(false);
        }, () -> Session.listKeys(s), Expected.of("CP-008013", Kind.PIN_REQUIRED)));
        rows.add(new Row("wrong VEL-token PIN", () -> {
            velReset();
            vel("default_pin=0", "tries=10");
            s = velSession();
        }, () -> Session.setPin(s, "000000"), Expected.of("CP-008007", Kind.WRONG_PIN, "9").tries(9).vendor(0x63C9)));
        rows.add(new Row("a blocked VEL-token PIN", () -> {
            velReset();
            vel("default_pin=0", "tries=1");
            s = velSession();
        }, () -> Session.setPin(s, "000000"), Expected.of("CP-008006", Kind.KEY_BLOCKED).tries(0).vendor(0x63C0)));
        rows.add(new Row("a blocked key password", () -> {
            tokenReset();
            s = token(true);
            // Stays on the suite's token: a blocked key takes no password, and deleting needs one.
            String alias = "errors-blocked-" + System.nanoTime();
            Session.createNewKey(s, alias, 7, "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", PASSWORD);
            Session.setKey(s, alias);
            for (int i = 0; i < 20; ++i) {
                try {
                    Session.setKeyPassword(s, "не тот");
                } catch (SignerException e) {
                    if (e.getKind() == Kind.KEY_BLOCKED) {
                        return;
                    }
                }
            }
        }, () -> Session.setKeyPassword(s, PASSWORD), Expected.of("CP-008006", Kind.KEY_BLOCKED).tries(0)));
        rows.add(new Row("password required", () -> {
            tokenReset();
            s = token(true);
            Session.setKey(s, passwordKey);
        }, () -> Session.rawSign(s, new byte[32]), Expected.of("CP-008014", Kind.PASSWORD_REQUIRED).alias(passwordKey)));
        rows.add(new Row("token pulled out", () -> {
            tokenReset();
            s = token(true);
            Session.setKey(s, passwordKey);
            Session.setKeyPassword(s, PASSWORD);
            LabModule.faults("C_Sign nth 1 CKR_DEVICE_REMOVED module=rutoken remove=" + TOKEN.labSerial);
        }, () -> Session.rawSign(s, new byte[32]), Expected.of("CP-017013", Kind.DEVICE_NOT_FOUND)
                                                       .vendor(CKR_DEVICE_REMOVED)));
        rows.add(new Row("VEL-token pulled out", () -> {
            velReset();
            vel("default_pin=0", "pull_at=20");
            s = velSession();
        }, () -> Session.setPin(s, "123456"), Expected.of("CP-008027", Kind.DEVICE_ERROR).vendor(SCARD_E_NOT_TRANSACTED)
                                                  .platformText(Catalogue.pcscText(SCARD_E_NOT_TRANSACTED))));
        rows.add(new Row("a device error", () -> {
            tokenReset();
            s = token(true);
            Session.setKey(s, passwordKey);
            Session.setKeyPassword(s, PASSWORD);
            LabModule.faults("C_Sign nth 1 CKR_DEVICE_ERROR module=rutoken");
        }, () -> Session.rawSign(s, new byte[32]), Expected.of("CP-017011", Kind.DEVICE_ERROR).vendor(CKR_DEVICE_ERROR)));
        rows.add(new Row("an unknown alias", () -> {
            tokenReset();
            s = token(true);
        }, () -> Session.setKey(s, "no such key"), Expected.of("CP-008017", Kind.KEY_NOT_FOUND).alias("no such key")));
        rows.add(new Row("no store selected", () -> s = session(), () -> Session.listKeys(s),
                         Expected.of("CP-008005", Kind.NOT_SELECTED)));
        rows.add(new Row("an unknown session", none, () -> Session.listKeys("00000000000000000000000000000000"),
                         Expected.of("BS-001001", Kind.SESSION_CLOSED)));
        rows.add(new Row("a device that is not there", () -> s = session(),
                         () -> Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, "NOSUCHTOKEN", false),
                         Expected.of("BS-008005", Kind.DEVICE_NOT_FOUND, "NOSUCHTOKEN").serial("NOSUCHTOKEN")));
        rows.add(new Row("malformed DER", () -> {
            tokenReset();
            s = token(true);
            Session.setKey(s, passwordKey);
            Session.setKeyPassword(s, PASSWORD);
        }, () -> Session.importCertificate(s, NOT_DER, Session.CERT_TYPE_USER),
                         Expected.of("X509-002001", Kind.MALFORMED_INPUT)));
        rows.add(new Row("a CMS message without signers", () -> s = session(),
                         () -> Session.verifySign(s, "angara", NO_SIGNERS, "x".getBytes(UTF_8), null, "", ""),
                         Expected.of("PKCS-000002", Kind.MALFORMED_INPUT, "@PKCS-001002")));
        rows.add(new Row("a CSP error with its value", () -> {
            cspFaults("");
            s = session();
            long mark = LabFiles.mark(Tools.labDir().resolve("csp").resolve("calls.log"));
            Session.getKeyStoreList(s, Session.KEYSTORE_CRYPTOPRO_CONTAINER);
            String[] call = LabFiles.ownLinesSince(Tools.labDir().resolve("csp").resolve("calls.log"), mark).stream()
                                .filter(f -> f[2].equals("CryptAcquireContextA"))
                                .findFirst()
                                .orElseThrow();
            cspFaults("CryptAcquireContextA nth 1 NTE_FAIL module=" + call[1] + "\n");
        }, () -> Session.getKeyStoreList(s, Session.KEYSTORE_CRYPTOPRO_CONTAINER),
                         Expected.of("CAPI-000017", Kind.DEVICE_ERROR).vendor(NTE_FAIL)));
        rows.add(new Row("not implemented", () -> {
            velReset();
            s = velSession();
        }, () -> Session.listKeys(s), Expected.of("CP-008053", Kind.NOT_IMPLEMENTED)));
        return rows;
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rows")
    void theFailureCarriesItsCodeKindAndData(Row row) {
        try {
            for (int language : new int[] {Signer.LANGUAGE_RUSSIAN, Signer.LANGUAGE_ENGLISH}) {
                Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
                row.arrange().run();
                Signer.setLanguage(language);
                RuntimeException raised = assertThrows(RuntimeException.class, row.call());
                assertEquals(SignerException.class, raised.getClass(), raised::toString);
                SignerException e = (SignerException) raised;
                Expected x = row.expected();
                String where = row.name() + " (language " + language + ")";
                assertAll(where, () -> assertEquals(x.code(), e.getCode(), "code"),
                          () -> assertEquals(x.kind(), e.getKind(), "kind"),
                          () -> assertEquals(x.tries(), e.getTriesLeft(), "tries left"),
                          () -> assertEquals(x.vendor(), e.getVendorCode(), () -> "vendor code " + Long.toHexString(
                                                                                e.getVendorCode())),
                          () -> assertEquals(x.alias(), e.getAlias(), "alias"),
                          () -> assertEquals(x.serial(), e.getSerial(), "serial"),
                          () -> assertEquals(x.message(language), e.getMessage(), "message"));
            }
        } finally {
            Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
            cspFaults("");
            LabModule.faults();
        }
    }

    @Test
    void aFailureWithoutACatalogueEntryCarriesTheInternalCodeAndItsOwnText() {
        String session = token(true);
        SignerException e = assertThrows(SignerException.class, () -> Session.setKeyId(session, "not a number"));
        assertEquals(SignerException.INTERNAL_ERROR_CODE, e.getCode());
        assertEquals(Kind.INTERNAL, e.getKind());
        assertEquals(-1, e.getTriesLeft());
        assertEquals(-1, e.getVendorCode());
        assertEquals("stoull", e.getMessage());
    }

    @Test
    void theExceptionSurvivesSerialization() throws Exception {
        SignerException e = new SignerException("Требуется ввод пароля", "CP-008014", -1, -1, "ключ", null);
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
            out.writeObject(e);
        }
        try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(bytes.toByteArray()))) {
            SignerException back = (SignerException) in.readObject();
            assertEquals(e.getMessage(), back.getMessage());
            assertEquals(Kind.PASSWORD_REQUIRED, back.getKind());
            assertEquals("ключ", back.getAlias());
        }
    }
}
