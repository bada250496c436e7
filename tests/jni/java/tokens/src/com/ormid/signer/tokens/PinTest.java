package com.ormid.signer.tokens;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.KeystoreInfo;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/** PIN entry and change on each make: tries left in the message, the lock, the changed-PIN state. */
class PinTest {
    private static final String WRONG_PIN = "00000000";

    /** A new session with the token selected (the store reads the PIN state when it is made). */
    private static String select(Make make) {
        String s = Lab.session(false);
        Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, make.storeId, false);
        return s;
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void wrongPinTellsTheTriesLeftAndTheRightOneRestoresThem(Make make) {
        Lab.set(make.labSerial, "user-pin-default=0");
        String s = select(make);
        try {
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(s, WRONG_PIN)));
            assertEquals(Texts.wrongPassword(8), errorOf(() -> Session.setPin(s, WRONG_PIN)));
            Session.setPin(s, make.pin);
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(s, WRONG_PIN)));
        } finally {
            Signer.closeSession(s);
            Lab.resetPins(make);
        }
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void lastWrongPinBlocksTheToken(Make make) {
        Lab.set(make.labSerial, "user-pin-default=0", "user-tries-left=1");
        String s = select(make);
        String after = null;
        try {
            assertFalse(Session.getKeystoreInfo(s).isUserPinLocked);
            assertEquals(Texts.PIN_BLOCKED, errorOf(() -> Session.setPin(s, WRONG_PIN)));
            after = select(make);
            String blocked = after;
            assertTrue(Session.getKeystoreInfo(blocked).isUserPinLocked);
            assertEquals(Texts.PIN_BLOCKED, errorOf(() -> Session.setPin(blocked, make.pin)));
        } finally {
            Signer.closeSession(s);
            if (after != null) {
                Signer.closeSession(after);
            }
            Lab.resetPins(make);
        }
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void changedPinIsTheOneThatWorksAfterwards(Make make) {
        String newPin = "24681357";
        String s = select(make);
        String after = null;
        try {
            Session.setPin(s, make.pin);
            Session.changePin(s, newPin);
            after = select(make);
            String changed = after;
            KeystoreInfo info = Session.getKeystoreInfo(changed);
            assertFalse(info.isUserPinDefault, "the PIN is no longer the factory one");
            assertEquals(Texts.wrongPassword(9), errorOf(() -> Session.setPin(changed, make.pin)));
            Session.setPin(changed, newPin);
            Session.listKeys(changed);
        } finally {
            Signer.closeSession(s);
            if (after != null) {
                Signer.closeSession(after);
            }
            Lab.resetPins(make);
        }
    }
}
