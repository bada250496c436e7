package com.ormid.signer.tokens;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.KeyPressResult;
import com.ormid.signer.entities.KeystoreInfo;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/** What the lab's readers hold, as the Java API reports it, and selecting a token. */
class CryptoMeansTest {
    private String s;

    @BeforeEach
    void open() {
        s = Lab.session(false);
    }

    @AfterEach
    void close() {
        Signer.closeSession(s);
    }

    @Test
    void availableCryptoListsEachMakeOnceSortedAndKeepsOnlyTheFilter() {
        String[] all = Session.getAvailableCrypto(s, null);
        String[] sorted = all.clone();
        Arrays.sort(sorted);
        assertArrayEquals(sorted, all, "sorted");
        assertEquals(all.length, Arrays.stream(all).distinct().count(), "two Rutokens give one entry");
        assertTrue(Arrays.asList(all).containsAll(List.of("angara", "jacarta_2", "rutoken_2")), Arrays.toString(all));
        // The lab's CSP is there too.
        assertArrayEquals(new String[] {"angara", "cryptopro", "rutoken_2"},
                          Session.getAvailableCrypto(s, new String[] {"rutoken_2", "cryptopro", "angara"}));
        assertArrayEquals(new String[] {"angara", "rutoken_2"},
                          Session.getAvailableCrypto(s, new String[] {"rutoken_2", "rutoken_3", "angara"}));
        assertArrayEquals(new String[0], Session.getAvailableCrypto(s, new String[] {"rutoken_3"}));
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void versionIsThePackageNumberOfThePresentToken(Make make) {
        assertEquals(make.version, Session.getCryptoTypeVersion(s, make.id));
    }

    @Test
    void versionOfAnAbsentCryptoMeansIsNull() {
        assertEquals("null", Session.getCryptoTypeVersion(s, "rutoken_3"));
    }

    @Test
    void keyStoreListHoldsEveryToken() {
        List<String> ids = Arrays.asList(Session.getKeyStoreList(s, Session.KEYSTORE_HARDWARE_DEVICE));
        for (Make make : Make.values()) {
            assertTrue(ids.contains(make.storeId), make + " in " + ids);
        }
        assertTrue(ids.contains(Lab.SECOND_RUTOKEN_ID), ids.toString());
        assertEquals(ids.size(), ids.stream().distinct().count(), ids.toString());
    }

    @Test
    void selectingAMissingTokenNamesItsId() {
        assertEquals(Texts.missingDevice("0000000001"),
                     errorOf(() -> Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, "0000000001", false)));
        assertEquals("", Session.getKeystoreId(s));
    }

    @ParameterizedTest
    @EnumSource(Make.class)
    void keystoreInfoDescribesTheTokenUntilItIsForgotten(Make make) {
        KeystoreInfo info = Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, make.storeId, false);
        assertAll(() -> assertEquals(Session.KEYSTORE_HARDWARE_DEVICE, info.type),
                  () -> assertEquals(make.storeId, info.id),
                  () -> assertEquals(make.id, info.cryptoType),
                  () -> assertEquals(make.chipType, info.chipType),
                  () -> assertEquals(make.shortName, info.shortName),
                  () -> assertTrue(info.cryptoName.contains(make.shortName.split(" ")[0]), info.cryptoName),
                  () -> assertEquals(make.tellsDefaultPin, info.isUserPinDefault, "the lab tokens keep their first PIN"),
                  () -> assertFalse(info.isUserPinLocked),
                  () -> assertFalse(info.isAdminPinLocked));
        Session.setPin(s, make.pin);
        assertFalse(Session.getKeystoreInfo(s).loginRequired);
        assertEquals(make.storeId, Session.getKeystoreId(s));

        KeyPressResult keyPress = Session.sendKeyPressEvent(s, 0);
        assertEquals(-1, keyPress.requestedChar, "tokens need no key-press seeding");
        assertEquals(0, keyPress.currentCharNum);

        Session.forgetKeystore(s);
        assertEquals("", Session.getKeystoreId(s));
        assertEquals(Texts.KEYSTORE_NOT_SELECTED, errorOf(() -> Session.getKeystoreInfo(s)));
    }
}
