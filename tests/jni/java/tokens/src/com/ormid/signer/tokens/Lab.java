package com.ormid.signer.tokens;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** The lab the tests run on: its state directory, its module folder and its device tool. */
final class Lab {
    /** Serial and store id of the second Rutoken the test fixture adds. */
    static final String SECOND_RUTOKEN_SERIAL = "0B2C3D4E";
    static final String SECOND_RUTOKEN_ID = "0187448654";

    private Lab() {}

    private static String env(String name) {
        return Tools.labEnv(name);
    }

    static Path dir() {
        return Tools.labDir();
    }

    /** Folder of the lab's PKCS#11 modules, named as the vendors name theirs. */
    static String modules() {
        return env("ORMID_LAB_PKCS11_DIR");
    }

    /** A session of the library pointed at the lab's modules. */
    static String session(boolean kalvaMode) {
        Signer.setLoadLibraryFolder(modules());
        return Signer.openSession(kalvaMode);
    }

    /** A session with the token of the given store id selected and its PIN given. */
    static String tokenSession(String storeId, String pin, boolean kalvaMode) {
        String s = session(kalvaMode);
        Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, storeId, false);
        Session.setPin(s, pin);
        return s;
    }

    /** Changes facts of a lab device (lab-device set). */
    static void set(String serial, String... facts) {
        List<String> command = new ArrayList<>(List.of(Path.of(env("ORMID_LAB_BUILD"), "lab", "device", "lab-device")
                                                            .toString(), "set", dir().toString(), serial));
        command.addAll(List.of(facts));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab-device set: " + result.text());
    }

    /** Puts a token back into its first state: default PIN, all tries. */
    static void resetPins(Make make) {
        set(make.labSerial, "user-pin=" + make.pin, "user-pin-default=1", "user-tries-left=10", "so-tries-left=10");
    }

    /** The lines of the PKCS#11 call log. */
    static List<String> calls() {
        try {
            Path log = dir().resolve("calls.log");
            return Files.exists(log) ? Files.readAllLines(log) : List.of();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
