package com.ormid.signer.veltoken;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The lab's confirmation token vel1 in its reader: its state, its APDU log and the lab script that drives it. */
final class VelLab {
    static final String READER = "ORMID VEL-token 00 00";
    static final String DEVICE = "vel1";
    /** Serial text of the device (serial bytes 87 D6 12 00). */
    static final String SERIAL = "01-23-45-67";
    /** The device's factory PIN, the one the library builds in. */
    static final String DEFAULT_PIN = "123456";

    private VelLab() {}

    static Path dir() {
        return Tools.labDir();
    }

    private static void script(String... args) {
        List<String> command = new ArrayList<>(List.of(Tools.labEnv("ORMID_LAB_SCRIPT")));
        command.addAll(List.of(args));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab " + String.join(" ", args) + ": " + result.text());
    }

    /** Changes the device's state (scripts/lab set). */
    static void set(String... facts) {
        List<String> args = new ArrayList<>(List.of("set", dir().toString(), DEVICE));
        args.addAll(List.of(facts));
        script(args.toArray(String[]::new));
    }

    /** Pulls the device out and puts it back: its ATR shows the life-cycle state it has now. */
    static void replug() {
        script("replug", dir().toString(), READER);
    }

    /** Puts the device back into its first state: working, default PIN, all tries, no faults. */
    static void reset() {
        set("lifecycle=working", "pin=" + DEFAULT_PIN, "default_pin=1", "tries=10", "max_tries=10",
            "info_without_tries=", "mute=", "pull_at=");
    }

    /** A value of the device's state file. */
    static String state(String key) {
        try {
            for (String line : Files.readAllLines(dir().resolve("vel").resolve(DEVICE + ".state"))) {
                if (line.startsWith(key + "=")) {
                    return line.substring(key.length() + 1);
                }
            }
            throw new IllegalStateException("no " + key + " in the device state");
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The device's public key as its state holds it: X‖Y, each coordinate little-endian. */
    static byte[] publicKey() {
        return Tools.unhex(state("public"));
    }

    private static Path apduLog() {
        return dir().resolve("vel").resolve(DEVICE + ".apdu.log");
    }

    /** Starts the device's APDU log afresh. */
    static void clearApdus() {
        try {
            Files.deleteIfExists(apduLog());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The commands the device received since the log was last cleared, in order. */
    static List<Apdu> apdus() {
        try {
            List<Apdu> commands = new ArrayList<>();
            if (Files.exists(apduLog())) {
                for (String line : Files.readAllLines(apduLog())) {
                    commands.add(Apdu.parse(line));
                }
            }
            return commands;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** A session of the library; the lab's token modules are at hand for the other devices of the lab. */
    static String session() {
        Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        return Signer.openSession(false);
    }

    /** A session with the confirmation token selected. */
    static String selected() {
        String s = session();
        try {
            Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, SERIAL, false);
            return s;
        } catch (RuntimeException e) {
            Signer.closeSession(s);
            throw e;
        }
    }
}
