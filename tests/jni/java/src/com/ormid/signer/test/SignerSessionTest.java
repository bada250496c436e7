package com.ormid.signer.test;

import static com.ormid.signer.test.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.ormid.signer.EnvInfo;
import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.SignerException;
import com.ormid.signer.Utils;
import com.ormid.signer.entities.CryptoTypeInfo;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

class SignerSessionTest {
    private static final String HEX32 = "[0-9A-F]{32}";

    @AfterEach
    void russianAgain() {
        Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
    }

    /** Arguments of the Java defaults for every parameter after the session id. */
    private static Object[] defaults(Method method, Object first) {
        Class<?>[] types = method.getParameterTypes();
        Object[] args = new Object[types.length];
        for (int i = 0; i < types.length; ++i) {
            if (types[i] == int.class) {
                args[i] = 0;
            } else if (types[i] == boolean.class) {
                args[i] = false;
            } else if (types[i] == long.class) {
                args[i] = 0L;
            }
        }
        if (types.length > 0 && types[0] == String.class) {
            args[0] = first;
        }
        return args;
    }

    private static List<Method> natives(Class<?> cls) {
        List<Method> result = new ArrayList<>();
        for (Method method : cls.getDeclaredMethods()) {
            if (Modifier.isNative(method.getModifiers())) {
                result.add(method);
            }
        }
        return result;
    }

    @Test
    void versionIsOneNine() {
        assertEquals("1.9", Signer.getVersion());
    }

    @Test
    void sessionsGetDistinctHexIds() {
        String a = Signer.openSession(false);
        String b = Signer.openSession(true);
        try {
            assertNotEquals(a, b);
            assertTrue(a.matches(HEX32), a);
            assertTrue(b.matches(HEX32), b);
            assertEquals("", Session.getKeystoreId(a));
        } finally {
            Signer.closeSession(a);
            Signer.closeSession(b);
        }
    }

    @Test
    void closedSessionIsNotRecognized() {
        String id = Signer.openSession(false);
        Signer.closeSession(id);
        assertEquals(Texts.NOT_RECOGNIZED_RU, errorOf(() -> Signer.closeSession(id)));
        assertEquals(Texts.NOT_RECOGNIZED_RU, errorOf(() -> Signer.closeSession(null)));
    }

    @Test
    void everySessionMethodRejectsAnUnknownId() throws Exception {
        String closed = Signer.openSession(false);
        Signer.closeSession(closed);
        List<Method> methods = natives(Session.class);
        assertEquals(38, methods.size());
        for (String id : new String[] {closed, null, "", closed.toLowerCase()}) {
            for (Method method : methods) {
                try {
                    method.invoke(null, defaults(method, id));
                    fail(method.getName() + " accepted " + id);
                } catch (InvocationTargetException e) {
                    Throwable cause = e.getCause();
                    assertEquals(SignerException.class, cause.getClass(), method.getName());
                    assertEquals(Texts.NOT_RECOGNIZED_RU, cause.getMessage(), method.getName());
                    assertEquals("BS-001001", ((SignerException) cause).getCode(), method.getName());
                }
            }
        }
    }

    @Test
    void everyNativeMethodIsLinked() throws Exception {
        int count = 0;
        for (Class<?> cls : new Class<?>[] {Signer.class, Session.class, Utils.class, EnvInfo.class}) {
            for (Method method : natives(cls)) {
                ++count;
                try {
                    method.invoke(null, defaults(method, "not a session"));
                } catch (InvocationTargetException e) {
                    // UnsatisfiedLinkError is an Error, not a RuntimeException.
                    assertEquals(SignerException.class, e.getCause().getClass(),
                                 cls.getSimpleName() + "." + method.getName() + ": " + e.getCause());
                }
            }
        }
        assertEquals(49, count);
    }

    @Test
    void languageSwitchReachesEverySession() {
        String a = Signer.openSession(false);
        String b = Signer.openSession(true);
        try {
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.getKeystoreInfo(a)));
            Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_EN, errorOf(() -> Session.getKeystoreInfo(a)));
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_EN, errorOf(() -> Session.getKeystoreInfo(b)));
            assertEquals(Texts.NOT_RECOGNIZED_EN, errorOf(() -> Session.getKeystoreInfo("x")));
            Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.getKeystoreInfo(b)));
            assertEquals(Texts.NOT_RECOGNIZED_RU, errorOf(() -> Session.getKeystoreInfo("x")));
        } finally {
            Signer.closeSession(a);
            Signer.closeSession(b);
        }
    }

    @Test
    void unknownLanguageIsRejectedAndKeepsTheCurrentOne() {
        Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
        errorOf(() -> Signer.setLanguage(7));
        assertEquals(Texts.NOT_RECOGNIZED_EN, errorOf(() -> Signer.closeSession("x")));
    }

    @Test
    void keyIdMustBeAnUnsigned64BitDecimal() {
        String s = Signer.openSession(false);
        try {
            // Texts the standard conversion rejects reach Java as RuntimeException.
            for (String bad : new String[] {"12ab", "abc", "", null, "-1", " 7", "+7", "0x10", "18446744073709551616",
                                            "99999999999999999999999"}) {
                assertEquals("stoull", errorOf(() -> Session.setKeyId(s, bad)), String.valueOf(bad));
            }
            // Accepted numbers reach the provider, which wants a selected key (and refuses 0 first).
            for (String good : new String[] {"18446744073709551615", "42", "007"}) {
                assertEquals(Texts.KEY_NOT_SELECTED_RU, errorOf(() -> Session.setKeyId(s, good)), good);
            }
            assertEquals(Texts.EMPTY_EXT_KEY_ID_RU, errorOf(() -> Session.setKeyId(s, "0")));
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void verifySignWantsSignatureAndCryptoType() {
        String s = Signer.openSession(false);
        try {
            byte[] data = {1, 2, 3};
            byte[] key = new byte[64];
            assertEquals(Texts.EMPTY_DATA_RU,
                         errorOf(() -> Session.verifySign(s, "rutoken_2", new byte[0], data, key, "1.2", "1.3")));
            assertEquals(Texts.EMPTY_DATA_RU,
                         errorOf(() -> Session.verifySign(s, "rutoken_2", null, data, key, "1.2", "1.3")));
            assertEquals(Texts.EMPTY_DATA_RU,
                         errorOf(() -> Session.verifySign(s, null, new byte[] {1}, data, key, "1.2", "1.3")));
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void keyOperationsWithoutKeyStore() {
        String s = Signer.openSession(false);
        try {
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU,
                         errorOf(() -> Session.createNewKey(s, "key", 65537, "1.2.643.7.1.1.1.1", "", "pw")));
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.listKeys(s)));
            // The store is asked for before the key.
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.getKeyInfo(s)));
            Session.forgetKey(s);
            Session.forgetKeystore(s);
            assertEquals("", Session.getKeystoreId(s));
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void digestStepsNeedAnInitializedDigest() {
        String s = Signer.openSession(false);
        try {
            assertEquals(Texts.DIGEST_NOT_INITIALIZED_RU, errorOf(() -> Session.updateDigest(s, new byte[] {1})));
            assertEquals(Texts.DIGEST_NOT_INITIALIZED_RU, errorOf(() -> Session.finalizeDigest(s)));
            assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.initDigestByCurrentKey(s)));
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void cryptoTypeInfoComesBackAsEntity() {
        String s = Signer.openSession(false);
        try {
            CryptoTypeInfo info = Session.getCryptoTypeInfo(s, "rutoken_2");
            assertEquals("СКЗИ \"Рутокен ЭЦП 2.0\"", info.fullName);
            assertEquals("Рутокен ЭЦП 2.0", info.shortName);
            assertEquals("RUTOKEN_ECP_2-401", info.chipType);
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void randomBytes() {
        byte[] a = Utils.getRandomBytes(32);
        byte[] b = Utils.getRandomBytes(32);
        assertEquals(32, a.length);
        assertFalse(java.util.Arrays.equals(a, b));
        assertArrayEquals(new byte[0], Utils.getRandomBytes(0));
        errorOf(() -> Utils.getRandomBytes(-1));
    }

    @Test
    void concurrentSessionsFromManyThreads() throws Exception {
        final int threads = 8;
        final int perThread = 500;
        ConcurrentHashMap<String, Boolean> ids = new ConcurrentHashMap<>();
        ExecutorService pool = Executors.newFixedThreadPool(threads);
        List<Future<?>> results = new ArrayList<>();
        for (int t = 0; t < threads; ++t) {
            results.add(pool.submit(() -> {
                for (int i = 0; i < perThread; ++i) {
                    String s = Signer.openSession(i % 2 == 0);
                    if (ids.putIfAbsent(s, Boolean.TRUE) != null) {
                        throw new AssertionError("repeated id " + s);
                    }
                    Session.setKalvaMode(s, i % 3 == 0);
                    assertEquals("", Session.getKeystoreId(s));
                    assertEquals("MSKEY_K-202", Session.getCryptoTypeInfo(s, "angara").chipType);
                    assertEquals(Texts.KEYSTORE_NOT_SELECTED_RU, errorOf(() -> Session.getKeystoreInfo(s)));
                    Signer.closeSession(s);
                    assertEquals(Texts.NOT_RECOGNIZED_RU, errorOf(() -> Session.getKeystoreId(s)));
                }
                return null;
            }));
        }
        pool.shutdown();
        for (Future<?> result : results) {
            result.get(); // rethrows a failed assertion of a worker
        }
        assertTrue(pool.awaitTermination(1, TimeUnit.MINUTES));
        assertEquals(threads * perThread, ids.size());
    }
}
