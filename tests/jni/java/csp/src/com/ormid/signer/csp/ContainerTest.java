package com.ormid.signer.csp;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.tokens.Texts;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.extension.ExtendWith;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

/** CSP containers as key stores: a key created in a new container, reopening it, refusals, deletion. */
@ExtendWith(LabCsp.class)
class ContainerTest {
    private static List<String> containers(Container c) {
        return Arrays.asList(Session.getKeyStoreList(c.s, Csp.STORE));
    }

    @ParameterizedTest
    @EnumSource(Kind.class)
    void aNewContainerTakesTheCspUniqueNameOfItsKeyAndOpensByNameOrId(Kind kind) {
        String name = Csp.newName("HDIMAGE");
        String id;
        KeyInfo created;
        byte[] publicKey;
        try (Container c = Container.session(false)) {
            KeystoreInfo fresh = Session.setKeystore(c.s, Csp.STORE, "", true);
            assertTrue(fresh.id.matches("[0-9A-F]{32}"), fresh.id);
            assertAll(() -> assertEquals(Csp.STORE, fresh.type), () -> assertEquals(Csp.CRYPTO_TYPE, fresh.cryptoType),
                      () -> assertEquals("СКЗИ \"КриптоПро CSP\"", fresh.cryptoName),
                      () -> assertEquals("", fresh.chipType, "not a hardware device"),
                      () -> assertEquals("", fresh.shortName, "not a hardware device"),
                      () -> assertFalse(fresh.loginRequired, "the CSP asks for its own PINs"));

            Session.createNewKey(c.s, name, 7, kind.signAlgorithm, kind.paramSet, Container.PASSWORD);
            id = Session.getKeystoreId(c.s);
            created = Session.getKeyInfo(c.s);
            publicKey = Session.getPublicKey(c.s);
            assertNotEquals(fresh.id, id, "the store id becomes the container's unique name");
            assertEquals(id, Session.getKeystoreInfo(c.s).id);
            assertAll(() -> assertEquals(name, created.alias),
                      () -> assertTrue(kind.isSignAlgorithm(created.signAlgorithmOid), created.signAlgorithmOid),
                      () -> assertEquals(kind.paramSet, created.algParamsOid),
                      () -> assertEquals(Csp.CRYPTO_TYPE, created.cryptoType),
                      () -> assertEquals(kind.bits / 4, publicKey.length));
            assertTrue(containers(c).contains(name), containers(c).toString());
        }

        // Another session finds the container by its name and by its unique name, with its one key selected.
        for (String selector : List.of(name, id)) {
            try (Container c = Container.open(selector, false)) {
                assertEquals(id, Session.getKeystoreId(c.s), selector);
                KeyInfo key = Session.getKeyInfo(c.s);
                assertEquals(created.alias, key.alias, selector);
                assertEquals(created.algParamsOid, key.algParamsOid, selector);
                assertEquals(1, Session.listKeys(c.s).length, selector);
                assertArrayEquals(publicKey, Session.getPublicKey(c.s), selector);
            }
        }
    }

    @Test
    void anExistingContainerTakesNoSecondKey() {
        String name = Csp.newName("HDIMAGE");
        try (Container c = Container.create(name, Kind.GOST_2012_256_B)) {
            String id = Session.getKeystoreId(c.s);
            byte[] publicKey = Session.getPublicKey(c.s);
            Session.setKeystore(c.s, Csp.STORE, id, true);
            assertEquals(Csp.SELECT_NEW_CONTAINER, errorOf(() -> Session.createNewKey(
                c.s, Csp.newName("HDIMAGE"), 7, Kind.GOST_2012_256_B.signAlgorithm, Kind.GOST_2012_256_B.paramSet,
                Container.PASSWORD)));
            try (Container other = Container.open(id, false)) {
                assertEquals(name, Session.getKeyInfo(other.s).alias, "the container is untouched");
                assertArrayEquals(publicKey, Session.getPublicKey(other.s));
            }
        }
    }

    static Stream<Arguments> refusedNames() {
        return Stream.of(Arguments.of(Csp.newName("HDIMAGE") + "-ключ", Csp.NO_CYRILLIC_ON_HDIMAGE),
                         Arguments.of(Csp.newName("FLASH"), Csp.mediumMissing("FLASH")),
                         Arguments.of(Csp.newName("FLASH") + "-ключ", Csp.mediumMissing("FLASH")));
    }

    /** A refused name leaves the new container new: the next key is created in it. */
    @ParameterizedTest
    @MethodSource("refusedNames")
    void refusedNamesLeaveTheNewContainerUsable(String name, String error) {
        Kind kind = Kind.GOST_2012_256_B;
        try (Container c = Container.session(false)) {
            String fresh = Session.setKeystore(c.s, Csp.STORE, "", true).id;
            assertEquals(error, errorOf(() -> Session.createNewKey(c.s, name, 7, kind.signAlgorithm, kind.paramSet,
                                                                 Container.PASSWORD)));
            assertEquals(fresh, Session.getKeystoreId(c.s));
            assertFalse(containers(c).contains(name));
            String good = Csp.newName("HDIMAGE");
            Session.createNewKey(c.s, good, 7, kind.signAlgorithm, kind.paramSet, Container.PASSWORD);
            assertEquals(good, Session.getKeyInfo(c.s).alias);
        }
    }

    @Test
    void aMissingContainerIsNotSelected() {
        try (Container c = Container.session(false)) {
            assertEquals(Texts.KEYSTORE_NOT_SELECTED,
                         errorOf(() -> Session.setKeystore(c.s, Csp.STORE, Csp.newName("HDIMAGE"), false)));
            assertEquals("", Session.getKeystoreId(c.s));
        }
    }

    /** PINs, passwords, aliases and external ids belong to the CSP's own dialogs: the library refuses them. */
    @Test
    void keyStoreOperationsTheCspKeepsToItselfAreNotImplemented() {
        try (Container c = Container.create(Csp.newName("HDIMAGE"), Kind.GOST_2012_256_B)) {
            List<Executable> calls = List.of(() -> Session.setPin(c.s, "12345678"),
                                             () -> Session.changePin(c.s, "87654321"),
                                             () -> Session.setKeyPassword(c.s, Container.PASSWORD),
                                             () -> Session.changeKeyPassword(c.s, "Новый пароль"),
                                             () -> Session.changeKeyAlias(c.s, Csp.newName("HDIMAGE")),
                                             () -> Session.setKeyId(c.s, "5"));
            assertAll(calls.stream().map(call -> () -> assertEquals(Texts.NOT_IMPLEMENTED, errorOf(call))));
            assertEquals("0", Session.getKeyInfo(c.s).id);
        }
    }

    /**
     * The session forgets a container whose key it deleted; it keeps the container object under its id, so
     * selecting that id again reaches the CSP, which no longer has it.
     */
    @Test
    void deletingTheKeyDeletesTheContainerAndForgetsIt() {
        String name = Csp.newName("HDIMAGE");
        String id;
        try (Container c = Container.create(name, Kind.GOST_2001_A)) {
            id = Session.getKeystoreId(c.s);
            Session.deleteKey(c.s);
            assertEquals("", Session.getKeystoreId(c.s));
            assertEquals(Texts.KEYSTORE_NOT_SELECTED, errorOf(() -> Session.getKeyInfo(c.s)));
            assertFalse(containers(c).contains(name), containers(c).toString());
            assertEquals(Csp.KEYSET_MISSING, errorOf(() -> Session.setKeystore(c.s, Csp.STORE, id, false)));
        }
        try (Container c = Container.session(false)) {
            for (String selector : List.of(name, id)) {
                assertEquals(Texts.KEYSTORE_NOT_SELECTED,
                             errorOf(() -> Session.setKeystore(c.s, Csp.STORE, selector, false)), selector);
            }
        }
    }
}
