package com.ormid.signer.clitest;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.TestCa;
import com.ormid.signer.tokens.Tools;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** The command-line tool on the lab: what it lists, signs, verifies, hashes and confirms, and how it fails. */
class CliTest {
    private static final String RUTOKEN = "0169552957";
    private static final String RUTOKEN_SERIAL = "0A1B2C3D";
    private static final String PIN = "12345678";
    private static final String ALIAS = "cli key";
    private static final String PASSWORD = "Пароль ключа";
    /** The PIN and key password as the tool reads them. */
    private static final Map<String, String> SECRETS = Map.of("ORMID_SIGNER_PIN", PIN, "ORMID_SIGNER_KEY_PASSWORD",
                                                              PASSWORD);

    /** A GOST R 34.10-2012 key on the Rutoken with a certificate of the test CA, as a bank's key would be. */
    @BeforeAll
    static void keyWithCertificate() {
        Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        String s = Signer.openSession(false);
        try {
            Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, RUTOKEN, false);
            Session.setPin(s, PIN);
            try {
                // A key of an earlier run on the same lab goes first.
                Session.setKey(s, ALIAS);
                Session.setKeyPassword(s, PASSWORD);
                Session.deleteKey(s);
            } catch (RuntimeException e) {
                // none there
            }
            Session.createNewKey(s, ALIAS, 1, "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", PASSWORD);
            Session.setKey(s, ALIAS);
            Session.setKeyPassword(s, PASSWORD);
            Session.importCertificate(s, TestCa.get().issue(Session.getSubjectPublicKeyInfo(s)).der(),
                                      Session.CERT_TYPE_USER);
        } finally {
            Signer.closeSession(s);
        }
    }

    /** A wrong PIN spends a try: every test starts with all of them and the factory PIN. */
    @AfterEach
    void restorePin() {
        setRutoken("user-pin=" + PIN, "user-pin-default=1", "user-tries-left=10");
    }

    private static void setRutoken(String... facts) {
        List<String> command = new ArrayList<>(List.of(Path.of(Tools.labEnv("ORMID_LAB_BUILD"), "lab", "device",
                                                               "lab-device").toString(), "set",
                                                       Tools.labDir().toString(), RUTOKEN_SERIAL));
        command.addAll(List.of(facts));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), result::text);
    }

    private static Path document(String name) {
        return Tools.file(name, ("Платёжное поручение " + name + "\n").repeat(30).getBytes(UTF_8));
    }

    private static String ca() {
        return TestCa.get().certificate.toString();
    }

    @Test
    void devicesListsTheThreeTokenMakesAndTheConfirmationToken() {
        Cli.Run text = Cli.expect(0, Map.of(), "devices");
        for (String make : List.of("rutoken_2", "angara", "jacarta_2", "ovt")) {
            assertTrue(text.out().contains("crypto type: " + make), () -> make + " missing: " + text.all());
        }
        Cli.Run json = Cli.expect(0, Map.of(), "devices", "--json");
        assertEquals("['angara', 'jacarta_2', 'rutoken_2']",
                     Cli.json(json, "sorted(s['crypto type'] for s in d['key stores']['token'])"));
        assertEquals("['ovt']", Cli.json(json, "[s['crypto type'] for s in d['key stores']['vel']]"));
        assertEquals("RUTOKEN_ECP_2-401 default",
                     Cli.json(json, "' '.join(next((s['chip type'], s['user PIN']) for s in d['key stores']['token'] "
                                    + "if s['id'] == '" + RUTOKEN + "'))"));
        assertEquals(Tools.labEnv("ORMID_LAB_PKCS11_DIR"), Cli.json(json, "d['module folders']['Rutoken']"));
    }

    @Test
    void keysShowsTheKeyWithItsCertificateSubject() {
        Cli.Run run = Cli.expect(0, SECRETS, "keys", "--store", RUTOKEN, "--json");
        assertEquals("O=ORMID, CN=Платёжный ключ",
                     Cli.json(run, "next(k['certificate subject'] for k in d['keys'] if k['alias'] == '" + ALIAS + "')"));
    }

    @ParameterizedTest
    @CsvSource({"attached, ''", "detached, --detached"})
    void signedFilesVerifyWithTheToolAndWithOpenssl(String form, String option) throws Exception {
        Path file = document(form);
        List<String> args = new ArrayList<>(List.of("sign", file.toString(), "--crypto", "rutoken_2", "--key", ALIAS));
        if (!option.isEmpty()) {
            args.add(option);
        }
        Cli.expect(0, SECRETS, args.toArray(String[]::new));
        Path signature = Path.of(file + ".p7s");

        Cli.Run verified = Cli.expect(0, Map.of(), "verify", signature.toString(), "--json");
        assertEquals("True " + form + " O=ORMID, CN=Платёжный ключ",
                     Cli.json(verified, "f\"{d['valid']} {d['form']} {d['signers'][0]['subject']}\""));

        Path out = Tools.work().resolve(form + ".from-cms");
        List<String> openssl = new ArrayList<>(List.of("cms", "-verify", "-binary", "-inform", "DER", "-in",
                                                                  signature.toString(), "-CAfile", ca(), "-out", out.toString()));
        if (form.equals("detached")) {
            openssl.addAll(List.of("-content", file.toString()));
        }
        Tools.opensslOk(openssl.toArray(String[]::new));
        assertArrayEquals(Files.readAllBytes(file), Files.readAllBytes(out));

        // The signature no longer matches a changed document.
        Path changed = Tools.file("changed", Tools.tampered(Files.readAllBytes(file), 5));
        Cli.Run invalid = Cli.expect(2, Map.of(), "verify", signature.toString(), "--content", changed.toString());
        assertTrue(invalid.out().contains("valid: false"), invalid::all);
    }

    @Test
    void severalFilesAreSignedAsOneGroup() {
        List<Path> files = List.of(document("first"), document("second"), document("third"));
        Cli.Run run = Cli.expect(0, SECRETS, "sign", "--store", RUTOKEN, "--key", ALIAS, "--json", files.get(0).toString(),
                                 files.get(1).toString(), files.get(2).toString());
        assertEquals("3", Cli.json(run, "len(d['signatures'])"));
        for (Path file : files) {
            Tools.opensslOk("cms", "-verify", "-binary", "-inform", "DER", "-in", file + ".p7s", "-CAfile", ca(),
                            "-out", "/dev/null");
        }
    }

    @ParameterizedTest
    @CsvSource({"ru, 'Пароль введен неверно. Осталось 9 попыток ввода'",
                "en, 'Incorrect password. You have 9 attempts to enter'"})
    void aWrongPinEndsWithItsStatusAndTheCatalogueText(String language, String text) {
        setRutoken("user-pin-default=0"); // a PIN the owner chose
        Map<String, String> wrong = Map.of("ORMID_SIGNER_PIN", "00000000", "ORMID_SIGNER_KEY_PASSWORD", PASSWORD);
        Path file = document("wrong-pin");
        Cli.Run run = Cli.expect(3, wrong, "sign", file.toString(), "--store", RUTOKEN, "--lang", language);
        assertEquals("ormid-signer: " + text, run.err().lines().findFirst().orElse(""), run::all);
        assertTrue(Files.notExists(Path.of(file + ".p7s")), "nothing is written on failure");

        Cli.Run json = Cli.expect(3, wrong, "keys", "--store", RUTOKEN, "--lang", language, "--json");
        assertEquals("wrong-pin " + text.replace('9', '8'),
                     Cli.json(json, "d['error']['class'] + ' ' + d['error']['message']"));
        assertEquals("CP-008007 WRONG_PIN 8 160",
                     Cli.json(json, "f\"{d['error']['code']} {d['error']['kind']} {d['error']['triesLeft']} "
                                    + "{d['error']['vendorCode']}\""));
    }

    @Test
    void aWrongPinForATokenOnItsFactoryPinIsAWrongPinToo() {
        // The library answers "PIN required" there: the token refused the PIN given all the same.
        Cli.Run run = Cli.expect(3, Map.of("ORMID_SIGNER_PIN", "00000000"), "keys", "--store", RUTOKEN, "--lang", "en");
        assertTrue(run.err().contains("PIN-code required"), run::all);
    }

    @Test
    void thePinTypedOnTheTerminalIsNeitherEchoedNorPrinted() {
        // The JaCarta tells no factory PIN, so the tool asks for it.
        Cli.Run run = Cli.onTerminal("PIN of JC2000000001: ", PIN, "keys", "--crypto", "jacarta_2");
        assertEquals(0, run.exit(), run::all);
        assertTrue(run.out().contains("store: JC2000000001"), run::all);
        assertFalse(run.out().contains(PIN), run::all);
    }

    @Test
    void failuresEndWithTheirDocumentedStatus() {
        // A store that needs its PIN, and no terminal to ask for it.
        Cli.expect(5, Map.of(), "keys", "--crypto", "jacarta_2");
        // No such store: the catalogue text names the id.
        Cli.Run missing = Cli.expect(6, Map.of(), "keys", "--store", "NOSUCHTOKEN", "--lang", "en");
        assertTrue(missing.err().contains("Hardware device with serial number \"NOSUCHTOKEN\" is not present"),
                   missing::all);
        Cli.expect(7, SECRETS, "sign", document("no-key").toString(), "--store", RUTOKEN, "--key", "no such key");
        Cli.expect(9, Map.of(), "digest", Tools.work().resolve("absent").toString());
        Cli.expect(11, Map.of(), "verify", Tools.file("not-cms.p7s", "not a signature".getBytes(UTF_8)).toString());
        Cli.expect(1, Map.of(), "frobnicate");
        Cli.expect(1, Map.of(), "sign");
        Cli.expect(1, Map.of(), "digest", "x", "--alg", "md5");
        assertEquals("usage None None -1 -1",
                     Cli.json(Cli.expect(1, Map.of(), "sign", "--bogus", "--json"),
                              "f\"{d['error']['class']} {d['error']['code']} {d['error']['kind']} "
                              + "{d['error']['triesLeft']} {d['error']['vendorCode']}\""));
        Cli.Run help = Cli.expect(0, Map.of(), "--help");
        assertTrue(help.out().contains("   3  wrong-pin"), help::all);
    }

    @ParameterizedTest
    @CsvSource({"gost2012-256, md_gost12_256", "gost2012-512, md_gost12_512", "gost94, md_gost94", "sha256, sha256"})
    void digestsAreTheOnesOpensslComputes(String algorithm, String opensslName) {
        Path file = document("digest");
        String expected = HexFormat.of().withUpperCase().formatHex(
            Tools.opensslOk("dgst", "-" + opensslName, "-binary", file.toString()));
        Cli.Run run = Cli.expect(0, Map.of(), "digest", file.toString(), "--alg", algorithm);
        assertTrue(run.out().contains("digest: " + expected + "\n"), run::all);
    }

    @Test
    void theConfirmationTokenConfirmsAFilesDigest() throws Exception {
        Path file = document("confirm");
        byte[] digest = Tools.opensslOk("dgst", "-md_gost12_256", "-binary", file.toString());
        Cli.Run run = Cli.expect(0, Map.of(), "confirm", file.toString(), "--text", "Подтверждаю платёж", "--json");
        assertEquals(HexFormat.of().withUpperCase().formatHex(digest), Cli.json(run, "d['digest']"));
        byte[] confirmation = Files.readAllBytes(Path.of(file + ".confirm.p7s"));
        assertTrue(Tools.indexOf(confirmation, digest) > 0, "the messageDigest is the file's digest");
        assertTrue(Tools.indexOf(confirmation, "Подтверждаю платёж".getBytes(UTF_8)) > 0, "the text is signed");
    }
}
