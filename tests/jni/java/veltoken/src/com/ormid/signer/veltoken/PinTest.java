package com.ormid.signer.veltoken;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Texts;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** The device's PIN through setPin and changePin: tries told by the device, the lock, a changed PIN. */
class PinTest {
    private static final String WRONG_PIN = "000000";
    private static final String KEY_BLOCKED = "Истекло число попыток ввода пароля. Ключ блокирован";
    private static final String PIN_REQUIRED = "Требуется ввод PIN-кода";

    @AfterEach
    void reset() {
        VelLab.reset();
    }

    private static List<String> headers() {
        return VelLab.apdus().stream().map(Apdu::header).filter(h -> !h.equals("00F50000")).collect(Collectors.toList());
    }

    @Test
    void wrongPinTellsTheDevicesTriesAndTheRightOneRestoresThem() {
        VelLab.set("default_pin=0");
        String s = VelLab.selected();
        try {
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(s, WRONG_PIN)));
            assertEquals(Texts.wrongPassword(8), errorOf(() -> Session.setPin(s, WRONG_PIN)));
            VelLab.clearApdus();
            Session.setPin(s, VelLab.DEFAULT_PIN);
            assertEquals("10", VelLab.state("tries"));
            assertEquals(List.of("00200101", "00200201"), headers(), "the PIN check opens a session and ends it");
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void lastWrongPinBlocksTheDevice() {
        VelLab.set("default_pin=0", "tries=1");
        String s = VelLab.selected();
        try {
            assertFalse(Session.getKeystoreInfo(s).isUserPinLocked);
            assertEquals(KEY_BLOCKED, errorOf(() -> Session.setPin(s, WRONG_PIN)));
            assertTrue(Session.getKeystoreInfo(s).isUserPinLocked, "the store shows the lock");
            assertEquals(KEY_BLOCKED, errorOf(() -> Session.setPin(s, VelLab.DEFAULT_PIN)),
                         "the right PIN cannot open a blocked device");
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void changedPinReplacesTheBuiltInOne() {
        // Cyrillic: the device gets the PIN in UTF-8.
        String newPin = "пин-42";
        String s = VelLab.selected();
        String after = null;
        try {
            VelLab.clearApdus();
            Session.changePin(s, newPin);
            byte[] current = VelLab.DEFAULT_PIN.getBytes(StandardCharsets.UTF_8);
            byte[] next = newPin.getBytes(StandardCharsets.UTF_8);
            String change = "00240101" + String.format("%02X", 4 + current.length + next.length) + "01"
                            + String.format("%02X", current.length) + Confirmations.hex(current) + "02"
                            + String.format("%02X", next.length) + Confirmations.hex(next);
            List<Apdu> log = VelLab.apdus().stream().filter(a -> !a.header().equals("00F50000")).collect(Collectors.toList());
            assertEquals(3, log.size(), () -> "PIN check, change, end of session: " + log);
            assertAll(() -> assertEquals("00200101", log.get(0).header()),
                      () -> assertEquals(change + " 9000", log.get(1).toString()),
                      () -> assertEquals("00200201", log.get(2).header()),
                      () -> assertEquals(newPin, VelLab.state("pin")),
                      () -> assertEquals("0", VelLab.state("default_pin")));

            byte[] data = new byte[32];
            VelLab.clearApdus();
            Confirmations.check(Session.confirmByOrmidVeltoken(s, data, "после смены PIN"), data, "после смены PIN");
            assertEquals(1, Confirmations.signCommands(VelLab.apdus(), newPin).size(),
                         "the session that changed the PIN goes on with the new one");

            after = VelLab.selected();
            String changed = after;
            assertFalse(Session.getKeystoreInfo(changed).isUserPinDefault, "the device no longer has its default PIN");
            VelLab.clearApdus();
            assertEquals(PIN_REQUIRED, errorOf(() -> Session.confirmByOrmidVeltoken(changed, data, "без PIN")));
            assertEquals(List.of(), VelLab.apdus(), "nothing is sent without a PIN");
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(changed, VelLab.DEFAULT_PIN)));
            Session.setPin(changed, newPin);
            Confirmations.check(Session.confirmByOrmidVeltoken(changed, data, "с новым PIN"), data, "с новым PIN");
        } finally {
            Signer.closeSession(s);
            if (after != null) {
                Signer.closeSession(after);
            }
        }
    }
}
