package com.ormid.signer.veltoken;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.tokens.Texts;
import java.util.List;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Named;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.MethodSource;

/** The device as a key store: found, listed, selected and described; everything but PIN and confirmation refused. */
class StoreTest {
    @Test
    void deviceIsFoundListedSelectedAndDescribed() {
        String s = VelLab.session();
        try {
            assertAll(() -> assertTrue(List.of(Session.getAvailableCrypto(s, null)).contains("ovt")),
                      () -> assertEquals("6", Session.getCryptoTypeVersion(s, "ovt")),
                      () -> assertArrayEquals(new String[] {VelLab.SERIAL},
                                              Session.getKeyStoreList(s, Session.KEYSTORE_VEL_TOKEN)));
            KeystoreInfo selected = Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, VelLab.SERIAL, false);
            for (KeystoreInfo info : List.of(selected, Session.getKeystoreInfo(s))) {
                assertAll(() -> assertEquals(Session.KEYSTORE_VEL_TOKEN, info.type),
                          () -> assertEquals(VelLab.SERIAL, info.id),
                          () -> assertEquals("ovt", info.cryptoType),
                          () -> assertEquals("VEL_TOKEN-006", info.chipType),
                          () -> assertTrue(info.isUserPinDefault, "a new device works with its default PIN"),
                          () -> assertFalse(info.isUserPinLocked));
            }
            assertEquals(VelLab.SERIAL, Session.getKeystoreId(s));
        } finally {
            Signer.closeSession(s);
        }
    }

    private static Named<Consumer<String>> op(String name, Consumer<String> call) {
        return Named.of(name, call);
    }

    static Stream<Named<Consumer<String>>> otherOperations() {
        byte[] id = {1, 2, 3, 4};
        return Stream.of(
            op("listKeys", Session::listKeys),
            op("setKey", s -> Session.setKey(s, "ключ")),
            op("createNewKey", s -> Session.createNewKey(s, "ключ", 1, "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", "пароль")),
            op("listCertificates", s -> Session.listCertificates(s, Session.CERT_TYPE_USER)),
            op("importCertificate", s -> Session.importCertificate(s, new byte[] {0x30, 0x00}, 2)),
            op("deleteCertificate", s -> Session.deleteCertificate(s, id, 2)),
            op("setKeyByCertificate", s -> Session.setKeyByCertificate(s, id)));
    }

    @ParameterizedTest
    @MethodSource("otherOperations")
    void otherOperationsAreNotImplementedAndNeverReachTheDevice(Consumer<String> operation) {
        String s = VelLab.selected();
        try {
            VelLab.clearApdus();
            assertEquals(Texts.NOT_IMPLEMENTED, errorOf(() -> operation.accept(s)));
            assertEquals(List.of(), VelLab.apdus());
        } finally {
            Signer.closeSession(s);
        }
    }
}
