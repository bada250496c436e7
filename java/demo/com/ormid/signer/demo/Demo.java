package com.ormid.signer.demo;

import com.ormid.signer.EnvInfo;
import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.OsInfo;
import com.ormid.signer.entities.SignData;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.Arrays;
import java.util.Base64;
import java.util.HashMap;
import java.util.Map;
import java.util.Properties;

/**
 * Signs a payment document on a USB token, the way a banking client uses the library. The work is split into
 * steps, so that a certificate authority can issue the key's certificate between them:
 *
 * <pre>
 *   Demo info                 library version and host facts
 *   Demo key   [options]      find the token, give the PIN, create a key, save its SubjectPublicKeyInfo
 *   Demo sign  [options]      import the key's certificate, sign a payment document attached and detached, verify
 *   Demo delete [options]     delete the demo key (and its certificate) from the token
 *   Demo confirm [options]    confirm the payment on the VEL-token: payment.digest (its digest) and a text are
 *                             signed by the device's own key into payment.confirmation.p7s
 *
 * options: --work DIR         folder for the files the steps hand on (default: current folder)
 *          --module-dir DIR   folder of the token makers' PKCS#11 modules (Signer.setLoadLibraryFolder)
 *          --token ID         key store id of the token (default: the first token found, Rutoken preferred)
 *          --pin PIN          user PIN of the token (default: 12345678)
 *          --password TEXT    password of the demo key (default: Демо-пароль)
 *          --vel-pin PIN      user PIN of the VEL-token (default: none, for a device that keeps its factory PIN)
 * </pre>
 */
public final class Demo {
    private static final String GOST_2012_256 = "1.2.643.7.1.1.1.1";
    private static final String PARAM_SET_A = "1.2.643.2.2.35.1";

    private final Map<String, String> options;
    private final Path work;

    private Demo(Map<String, String> options) {
        this.options = options;
        this.work = Path.of(options.getOrDefault("work", "."));
    }

    public static void main(String[] args) throws IOException {
        if (args.length == 0) {
            System.err.println("usage: Demo info|key|sign|delete|confirm [--work DIR] [--module-dir DIR] [--token ID] "
                               + "[--pin PIN] [--password TEXT] [--vel-pin PIN]");
            System.exit(2);
        }
        Map<String, String> options = new HashMap<>();
        for (int i = 1; i + 1 < args.length; i += 2) {
            options.put(args[i].replaceFirst("^--", ""), args[i + 1]);
        }
        Demo demo = new Demo(options);
        try {
            switch (args[0]) {
                case "info" -> demo.info();
                case "key" -> demo.createKey();
                case "sign" -> demo.sign();
                case "delete" -> demo.delete();
                case "confirm" -> demo.confirm();
                default -> throw new IllegalArgumentException("unknown step " + args[0]);
            }
        } catch (RuntimeException e) {
            // Every failure of the library arrives as a RuntimeException with the error text.
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        }
    }

    private static void step(String text) {
        System.out.println("== " + text);
    }

    private static void show(String name, Object value) {
        System.out.printf("   %-22s %s%n", name + ":", value);
    }

    /** The library and the host it runs on. */
    private void info() {
        step("The library");
        show("version", Signer.getVersion());
        show("computer", EnvInfo.getComputerName());
        show("user", EnvInfo.getUserName());
        OsInfo os = EnvInfo.getOsInfo();
        show("operating system", os.type + " " + os.version);
    }

    /** A session with the token selected and the PIN given. The first step also chooses the token. */
    private String openTokenSession() {
        String moduleDir = options.get("module-dir");
        if (moduleDir != null) {
            // Where the token makers' PKCS#11 modules are (Rutoken, MS_KEY K and JaCarta alike).
            Signer.setLoadLibraryFolder(moduleDir);
        }
        String s = Signer.openSession(false);
        String tokenId = options.getOrDefault("token", savedState().getProperty("token"));
        if (tokenId == null) {
            tokenId = chooseToken(s);
        }
        KeystoreInfo store = Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, tokenId, false);
        show("token", store.id + " (" + store.cryptoName + ", " + store.chipType + ")");
        Session.setPin(s, options.getOrDefault("pin", "12345678"));
        return s;
    }

    private static String chooseToken(String s) {
        show("crypto means present", String.join(", ", Session.getAvailableCrypto(s, null)));
        String[] tokens = Session.getKeyStoreList(s, Session.KEYSTORE_HARDWARE_DEVICE);
        show("tokens", String.join(", ", tokens));
        if (tokens.length == 0) {
            throw new IllegalStateException("no token found: is it plugged in, is pcscd running?");
        }
        for (String id : tokens) {
            if (Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, id, false).cryptoType.startsWith("rutoken_")) {
                return id;
            }
        }
        return tokens[0];
    }

    /** Creates the demo key and hands its public key to the certificate authority. */
    private void createKey() throws IOException {
        step("Find the token, give the PIN");
        String s = openTokenSession();
        try {
            step("Create a GOST R 34.10-2012 (256 bit) key on the token");
            String alias = "Демо " + LocalDateTime.now().format(DateTimeFormatter.ofPattern("yyyy-MM-dd HH.mm.ss"));
            Session.createNewKey(s, alias, 1, GOST_2012_256, PARAM_SET_A, password());
            KeyInfo key = Session.setKey(s, alias);
            show("key", key.alias);
            show("algorithm", key.signAlgorithmName + ", " + key.algParamsName);

            Path spki = work.resolve("key.spki.der");
            Files.write(spki, Session.getSubjectPublicKeyInfo(s));
            show("public key written to", spki);

            Properties state = new Properties();
            state.setProperty("token", Session.getKeystoreId(s));
            state.setProperty("alias", alias);
            saveState(state);
        } finally {
            Signer.closeSession(s);
        }
    }

    /** Imports the certificate, signs the payment document and verifies what was signed. */
    private void sign() throws IOException {
        step("Select the demo key");
        String s = openTokenSession();
        try {
            KeyInfo key = Session.setKey(s, savedState().getProperty("alias"));
            Session.setKeyPassword(s, password());
            show("key", key.alias);

            step("Import the certificate the CA issued for the key");
            byte[] certificateId = Session.importCertificate(s, Files.readAllBytes(work.resolve("key.cert.der")),
                                                             Session.CERT_TYPE_USER);
            for (CertInfo certificate : Session.listCertificates(s, Session.CERT_TYPE_USER)) {
                if (Arrays.equals(certificate.id, certificateId)) {
                    show("subject", certificate.properties.subject);
                    show("issuer", certificate.properties.issuer);
                }
            }

            step("Sign a payment document");
            byte[] document = paymentDocument();
            Files.write(work.resolve("payment.txt"), document);
            SignData attachedRequest = new SignData(document);
            attachedRequest.attached = true;
            byte[] attached = Session.cmsSign(s, attachedRequest);
            byte[] detached = Session.cmsSign(s, new SignData(document));
            Files.write(work.resolve("payment.attached.p7s"), attached);
            Files.write(work.resolve("payment.detached.p7s"), detached);
            show("attached CMS", attached.length + " bytes, payment.attached.p7s");
            show("detached CMS", detached.length + " bytes, payment.detached.p7s");

            step("Verify with the library");
            byte[] publicKey = Session.getPublicKey(s);
            byte[] changed = document.clone();
            changed[changed.length - 2] ^= 1;
            show("attached", verdict(verify(s, key, attached, null, publicKey)));
            show("detached", verdict(verify(s, key, detached, document, publicKey)));
            show("detached, changed text", verify(s, key, detached, changed, publicKey)
                                                ? "signature valid: WRONG, the text was changed"
                                                : "rejected, as it must be");
        } finally {
            Signer.closeSession(s);
        }
    }

    private void delete() throws IOException {
        step("Delete the demo key");
        String s = openTokenSession();
        try {
            String alias = savedState().getProperty("alias");
            Session.setKey(s, alias);
            Session.setKeyPassword(s, password());
            Session.deleteKey(s);
            show("deleted", alias);
        } finally {
            Signer.closeSession(s);
        }
    }

    /** Confirms the payment on the VEL-token: a detached CMS message signed with the device's own key. */
    private void confirm() throws IOException {
        step("Confirm the payment on the VEL-token");
        String s = Signer.openSession(false);
        try {
            String[] devices = Session.getKeyStoreList(s, Session.KEYSTORE_VEL_TOKEN);
            if (devices.length == 0) {
                show("VEL-token", "none found, nothing to confirm");
                return;
            }
            KeystoreInfo device = Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, devices[0], false);
            show("VEL-token", device.id + " (" + device.chipType + ", "
                                  + (device.isUserPinDefault ? "factory PIN" : "own PIN") + ")");
            String pin = options.get("vel-pin");
            if (pin != null) {
                Session.setPin(s, pin);
            }
            // The bank confirms the document's digest, with a text the customer reads on the screen.
            byte[] digest = Files.readAllBytes(work.resolve("payment.digest"));
            String text = "Подтверждаю платёжное поручение № 42: 125 000-00 руб., АО \"Василёк\"";
            byte[] confirmation = Session.confirmByOrmidVeltoken(s, digest, text);
            Files.write(work.resolve("payment.confirmation.p7s"), confirmation);
            show("text", text);
            show("confirmation", confirmation.length + " bytes, payment.confirmation.p7s (CMS, Base64 below)");
            System.out.println(Base64.getMimeEncoder(76, new byte[] {'\n'}).encodeToString(confirmation)
                                   .replaceAll("(?m)^", "   "));
        } finally {
            Signer.closeSession(s);
        }
    }

    private static boolean verify(String s, KeyInfo key, byte[] signature, byte[] data, byte[] publicKey) {
        return Session.verifySign(s, key.cryptoType, signature, data, publicKey, key.signAlgorithmOid,
                                  key.algParamsOid);
    }

    private static String verdict(boolean valid) {
        return valid ? "signature valid" : "signature INVALID";
    }

    private static byte[] paymentDocument() {
        String text = "ПЛАТЁЖНОЕ ПОРУЧЕНИЕ № 42 от " + LocalDateTime.now().format(DateTimeFormatter.ISO_LOCAL_DATE) + "\n"
                      + "Плательщик: ООО \"Ромашка\", ИНН 7701000000, счёт 40702810000000000001\n"
                      + "Получатель: АО \"Василёк\", ИНН 7802000000, счёт 40702810000000000002\n"
                      + "Сумма: 125 000-00 руб.\n"
                      + "Назначение платежа: оплата по договору № 7 от 01.02.2025, НДС не облагается\n";
        return text.getBytes(StandardCharsets.UTF_8);
    }

    private String password() {
        return options.getOrDefault("password", "Демо-пароль");
    }

    private Properties savedState() {
        Properties state = new Properties();
        Path file = work.resolve("demo.properties");
        if (Files.exists(file)) {
            try (var reader = Files.newBufferedReader(file, StandardCharsets.UTF_8)) {
                state.load(reader);
            } catch (IOException e) {
                throw new IllegalStateException("cannot read " + file, e);
            }
        }
        return state;
    }

    private void saveState(Properties state) throws IOException {
        try (var writer = Files.newBufferedWriter(work.resolve("demo.properties"), StandardCharsets.UTF_8)) {
            state.store(writer, "the demo key");
        }
    }
}
