package com.ormid.signer.logging;

import static com.ormid.signer.tokens.Texts.errorOf;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Texts;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.function.Predicate;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * A whole working session with the library's log on at DEBUG: PIN, key password, their changes, a wrong PIN and a
 * wrong password, a key made, a CMS message signed and verified, a payment confirmed on the confirmation token. Then
 * the library's log and the lab's records are searched for every secret used, in every form text takes.
 */
class SecretsStayOutOfTheLogTest {
    private static final String RUTOKEN_SERIAL = "0A1B2C3D";
    private static final String RUTOKEN_STORE = "0169552957";
    private static final String GOST_2012_256 = "1.2.643.7.1.1.1.1";
    private static final String CRYPTOPRO_A = "1.2.643.2.2.35.1";
    private static final String VEL_SERIAL = "01-23-45-67";
    private static final String VEL_DEVICE = "vel1";
    /** The confirmation token's factory PIN, which the library builds in. */
    private static final String VEL_DEFAULT_PIN = "123456";

    private static final String PIN = "Lg-PIN-7391";
    private static final String NEW_PIN = "Пин-8462-Ж";
    private static final String WRONG_PIN = "Lg-BAD-5150";
    private static final String PASSWORD = "Ключ-пароль-917";
    private static final String NEW_PASSWORD = "Ключ-пароль-268";
    private static final String WRONG_PASSWORD = "Неверный-пароль-33";
    private static final String VEL_PIN = "Вел-пин-55";
    private static final String VEL_WRONG_PIN = "vel-bad-4711";

    private static Path log() {
        return Path.of(System.getProperty("ormid.signer.log"));
    }

    private static Path lab(String... parts) {
        return Path.of(Tools.labDir().toString(), parts);
    }

    private static byte[] read(Path path) {
        try {
            return Files.exists(path) ? Files.readAllBytes(path) : new byte[0];
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static List<String> lines(Path path) {
        return List.of(new String(read(path), UTF_8).split("\n"));
    }

    private static void labDevice(String... args) {
        List<String> command = new ArrayList<>(List.of(
            Path.of(Tools.labEnv("ORMID_LAB_BUILD"), "lab", "device", "lab-device").toString()));
        command.addAll(List.of(args));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab-device: " + result.text());
    }

    private static void labScript(String... args) {
        List<String> command = new ArrayList<>(List.of(Tools.labEnv("ORMID_LAB_SCRIPT")));
        command.addAll(List.of(args));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab " + String.join(" ", args) + ": " + result.text());
    }

    /** A secret as the bytes it may be written in: its raw forms, each also as hex in either case. */
    record Secret(String name, List<byte[]> raw) {
        /** Text: UTF-8, UTF-16 both ways, UTF-32 (wide text), CP1251. */
        static Secret text(String name, String secret) {
            List<byte[]> raw = new ArrayList<>();
            for (Charset charset : List.of(UTF_8, StandardCharsets.UTF_16LE, StandardCharsets.UTF_16BE,
                                           Charset.forName("UTF-32LE"), Charset.forName("windows-1251"))) {
                raw.add(secret.getBytes(charset));
            }
            return new Secret(name, raw);
        }

        static Secret binary(String name, byte[] secret) {
            return new Secret(name, List.of(secret));
        }

        List<byte[]> forms() {
            List<byte[]> forms = new ArrayList<>();
            for (byte[] bytes : raw) {
                forms.add(bytes);
                forms.add(HexFormat.of().formatHex(bytes).getBytes(UTF_8));
                forms.add(HexFormat.of().withUpperCase().formatHex(bytes).getBytes(UTF_8));
            }
            return forms;
        }
    }

    /** The names of the secrets any form of which `text` holds. */
    static List<String> leaks(byte[] text, List<Secret> secrets) {
        List<String> found = new ArrayList<>();
        for (Secret secret : secrets) {
            if (secret.forms().stream().anyMatch(form -> Tools.indexOf(text, form) >= 0)) {
                found.add(secret.name());
            }
        }
        return found;
    }

    @Test
    void theSearchFindsEveryFormOfASecret() {
        Secret pin = Secret.text("pin", "Пин-1");
        Secret token = Secret.binary("token", new byte[] {(byte) 0x9A, 0x01, (byte) 0xFF});
        for (Secret secret : List.of(pin, token)) {
            for (byte[] form : secret.forms()) {
                byte[] record = ("2026 1 DEBUG X: <" + new String(form, StandardCharsets.ISO_8859_1) + ">")
                                    .getBytes(StandardCharsets.ISO_8859_1);
                assertEquals(List.of(secret.name()), leaks(record, List.of(pin, token)));
            }
        }
        assertEquals(List.of(), leaks("Пин-2 Пи н-1 9a01fe".getBytes(UTF_8), List.of(pin, token)));
    }

    @Test
    void aWholeSessionLeavesNoSecretInTheLogs() throws Throwable {
        labDevice("set", Tools.labDir().toString(), RUTOKEN_SERIAL, "user-pin=" + PIN, "user-pin-default=0",
                  "user-tries-left=10");
        labScript("set", Tools.labDir().toString(), VEL_DEVICE, "pin=" + VEL_DEFAULT_PIN, "default_pin=1",
                  "tries=10");
        String alias = "log-key-" + System.nanoTime();
        byte[] document = "Платёжное поручение № 7".getBytes(UTF_8);

        // A wrong PIN, then the right one; a key with a password; the PIN and the password changed.
        String[] s = new String[1];
        Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        s[0] = Signer.openSession(false);
        try {
            Session.setKeystore(s[0], Session.KEYSTORE_HARDWARE_DEVICE, RUTOKEN_STORE, false);
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(s[0], WRONG_PIN)));
            Session.setPin(s[0], PIN);
            Session.createNewKey(s[0], alias, 3, GOST_2012_256, CRYPTOPRO_A, PASSWORD);
            Session.setKey(s[0], alias);
            Session.changePin(s[0], NEW_PIN);
            Session.changeKeyPassword(s[0], NEW_PASSWORD);
        } finally {
            Signer.closeSession(s[0]);
        }

        // A new session: a wrong password, the right one, a signed and verified message, the key deleted.
        s[0] = Signer.openSession(false);
        try {
            Session.setKeystore(s[0], Session.KEYSTORE_HARDWARE_DEVICE, RUTOKEN_STORE, false);
            Session.setPin(s[0], NEW_PIN);
            Session.setKey(s[0], alias);
            errorOf(() -> Session.setKeyPassword(s[0], WRONG_PASSWORD));
            Session.setKeyPassword(s[0], NEW_PASSWORD);
            byte[] cms = Session.cmsSign(s[0], Tools.signData(document, false));
            assertTrue(Session.verifySign(s[0], "rutoken_2", cms, document, Session.getPublicKey(s[0]),
                                          GOST_2012_256, CRYPTOPRO_A));
            Session.deleteKey(s[0]);
        } finally {
            Signer.closeSession(s[0]);
        }

        // The confirmation token: a confirmation with the built-in PIN, the PIN changed, a wrong one, a confirmation.
        s[0] = Signer.openSession(false);
        try {
            Session.setKeystore(s[0], Session.KEYSTORE_VEL_TOKEN, VEL_SERIAL, false);
            Session.confirmByOrmidVeltoken(s[0], new byte[32], "Подтверждаю платёж № 7");
            Session.changePin(s[0], VEL_PIN);
        } finally {
            Signer.closeSession(s[0]);
        }
        s[0] = Signer.openSession(false);
        try {
            Session.setKeystore(s[0], Session.KEYSTORE_VEL_TOKEN, VEL_SERIAL, false);
            errorOf(() -> Session.setPin(s[0], VEL_WRONG_PIN));
            Session.setPin(s[0], VEL_PIN);
            Session.confirmByOrmidVeltoken(s[0], new byte[32], "Подтверждаю платёж № 8");
        } finally {
            Signer.closeSession(s[0]);
        }

        List<Secret> pins = new ArrayList<>();
        Map.of("PIN", PIN, "new PIN", NEW_PIN, "wrong PIN", WRONG_PIN, "key password", PASSWORD,
               "new key password", NEW_PASSWORD, "wrong key password", WRONG_PASSWORD,
               "VEL factory PIN", VEL_DEFAULT_PIN, "VEL PIN", VEL_PIN, "wrong VEL PIN", VEL_WRONG_PIN)
            .forEach((name, secret) -> pins.add(Secret.text(name, secret)));
        List<Secret> secrets = new ArrayList<>(pins);
        for (String line : lines(lab("vel", VEL_DEVICE + ".state"))) {
            if (line.startsWith("d=")) {
                secrets.add(Secret.binary("VEL private key", HexFormat.of().parseHex(line.substring(2))));
            }
        }
        // The device's session tokens: what each end-of-session command gave back to it.
        List<String> wire = lines(lab("vel", VEL_DEVICE + ".apdu.log"));
        for (String line : wire) {
            if (line.startsWith("0020020108")) {
                secrets.add(Secret.binary("VEL session token " + line.substring(10, 26),
                                          HexFormat.of().parseHex(line.substring(10, 26))));
            }
        }
        assertTrue(secrets.size() >= pins.size() + 3, () -> "the device's key and sessions: " + wire);

        byte[] libraryLog = read(log());
        List<String> records = lines(log());
        Pattern line = Pattern.compile("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z \\d+ "
                                       + "(DEBUG|INFO|RESULT|WARNING|ERROR|FATAL) \\S.*: .*");
        Predicate<String> has = text -> records.stream().anyMatch(r -> r.contains(text));
        assertAll(
            () -> assertEquals("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(log()))),
            () -> assertTrue(records.stream().allMatch(r -> line.matcher(r).matches()),
                             () -> "a record out of form: " + records.stream()
                                       .filter(r -> !line.matcher(r).matches()).findFirst().orElse("")),
            // The session really went through the log: logins, the wrong PIN, the device's commands.
            () -> assertTrue(has.test(" DEBUG Pkcs11"), "token calls at DEBUG"),
            () -> assertTrue(has.test(" ERROR Pkcs11Token::handlePinError: " + Texts.wrongPassword(9)), "the wrong PIN"),
            () -> assertTrue(has.test("apdu::Command::getRequest"), "the device's commands"),
            () -> assertEquals(List.of(), leaks(libraryLog, secrets), "secrets in the library's log"),
            () -> assertEquals(List.of(), leaks(read(lab("calls.log")), secrets),
                               "secrets in the token modules' call log"),
            () -> {
                // The device's own record of its wire: a PIN reaches it only in the commands that carry one
                // (verify 0020 01, change 0024), the session token in the later commands of its session.
                List<String> others = wire.stream()
                                          .filter(l -> !l.startsWith("00200101") && !l.startsWith("00240101"))
                                          .toList();
                assertEquals(List.of(), leaks(String.join("\n", others).getBytes(UTF_8), pins),
                             "PINs in other commands of the device's wire");
            });
    }
}
