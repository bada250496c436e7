package com.ormid.signer.veltoken;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Texts;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The device's life-cycle states, read from its ATR when it is plugged in. */
class LifecycleTest {
    private static final String RECONNECT = "VEL-токен ORMID активирован. Необходимо переподключить устройство";
    private static final String ACTIVATION_CODE = "12345678";

    @AfterEach
    void reset() {
        VelLab.reset();
        VelLab.replug();
    }

    private static void plugInWith(String lifecycle) {
        VelLab.set("lifecycle=" + lifecycle);
        VelLab.replug();
    }

    static Stream<Arguments> unusableStates() {
        return Stream.of(Arguments.of("3", "Устройство не инициализировано"), Arguments.of("4", Texts.PIN_BLOCKED));
    }

    @ParameterizedTest
    @MethodSource("unusableStates")
    void unusableDeviceIsRefusedByItsState(String lifecycle, String error) {
        plugInWith(lifecycle);
        String s = VelLab.session();
        try {
            VelLab.clearApdus();
            assertAll(() -> assertEquals(error, errorOf(() -> Session.getKeyStoreList(s, Session.KEYSTORE_VEL_TOKEN))),
                      () -> assertEquals(error, errorOf(() -> Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN,
                                                                                  VelLab.SERIAL, false))),
                      () -> assertFalse(List.of(Session.getAvailableCrypto(s, null)).contains("ovt")));
            assertEquals(List.of(), VelLab.apdus(), "the ATR alone tells the state");
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void deviceWaitingForActivationIsActivatedAndWorksOnceReconnected() {
        plugInWith("6");
        String s = VelLab.session();
        try {
            VelLab.clearApdus();
            assertEquals(RECONNECT, errorOf(() -> Session.getKeyStoreList(s, Session.KEYSTORE_VEL_TOKEN)));
            List<Apdu> log = VelLab.apdus();
            assertEquals(1, log.size(), () -> "the activation alone: " + log);
            Apdu activation = log.get(0);
            String start = "01" + "08" + Confirmations.hex(ACTIVATION_CODE.getBytes(StandardCharsets.US_ASCII))
                           + "02" + "000190";
            assertAll(() -> assertEquals("00F00100", activation.header()),
                      () -> assertTrue(activation.extended(), "414 bytes of data: extended Lc"),
                      () -> assertEquals(414, activation.data().length),
                      () -> assertEquals("", activation.le(), "no Le"),
                      () -> assertTrue(Confirmations.hex(activation.data()).startsWith(start),
                                       "TLV 01 the code, TLV 02 400 random bytes"),
                      () -> assertEquals("9000", activation.sw()),
                      () -> assertEquals("working", VelLab.state("lifecycle")));

            VelLab.replug();
            assertArrayEquals(new String[] {VelLab.SERIAL}, Session.getKeyStoreList(s, Session.KEYSTORE_VEL_TOKEN));
            Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, VelLab.SERIAL, false);
            byte[] data = new byte[32];
            Confirmations.check(Session.confirmByOrmidVeltoken(s, data, "первый платёж"), data, "первый платёж");
        } finally {
            Signer.closeSession(s);
        }
    }
}
