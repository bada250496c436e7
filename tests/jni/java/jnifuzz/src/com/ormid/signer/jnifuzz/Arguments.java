package com.ormid.signer.jnifuzz;

import com.ormid.signer.entities.Pkcs9Attribute;
import com.ormid.signer.entities.SignData;
import java.lang.reflect.Array;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * Arguments for the native methods: hostile values (null, empty, very long,
 * lone surrogates, extreme numbers, random bytes) mixed with values that
 * reach deeper (live session ids, PINs and names the lab knows, strings and
 * bytes earlier calls returned, mutated).
 */
final class Arguments {
    private static final int POOL_LIMIT = 512;
    private static final String[] KNOWN = {
        "12345678", "87654321", "11111111", "0000", "fuzz-key", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2",
        "1.2.643.2.2.19", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.3", "1.2.643.2.2.9", "1.2.643.2.2.35.1",
        "1.2.643.2.2.36.0", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.2.1", "1.2.840.113549.1.9.5",
        "1.2.840.113549.1.9.3", "2.5.4.3", "1.2.3", "0.0", "Rutoken", "PKCS11", "CSP", "VEL", "RU", "EN",
    };

    /** Sessions some thread opened and has not closed yet, and closed ones. */
    final List<String> open = new CopyOnWriteArrayList<>();
    final List<String> closed = new CopyOnWriteArrayList<>();
    private final List<String> strings = new CopyOnWriteArrayList<>(List.of(KNOWN));
    private final List<byte[]> blobs = new CopyOnWriteArrayList<>();
    private final List<String> keystoreIds = new CopyOnWriteArrayList<>();
    private final List<String> aliases = new CopyOnWriteArrayList<>();
    private final List<String> cryptoTypes = new CopyOnWriteArrayList<>();
    private final String labModules;

    Arguments(String labModules) {
        this.labModules = labModules;
    }

    Object[] forMethod(Method method, Random rnd) {
        Class<?>[] types = method.getParameterTypes();
        Object[] args = new Object[types.length];
        boolean sessionFirst = method.getDeclaringClass().getSimpleName().equals("Session")
            || method.getName().equals("closeSession");
        for (int i = 0; i < types.length; ++i) {
            Object hint = rnd.nextInt(10) < 7 ? hint(method.getName(), i, rnd) : null;
            if (i == 0 && sessionFirst) {
                args[i] = sessionId(rnd);
            } else if (hint != null) {
                args[i] = hint;
            } else if (method.getName().equals("setLoadLibraryFolder")) {
                args[i] = folder(rnd);
            } else if (method.getName().equals("getRandomBytes")) {
                args[i] = randomCount(rnd);
            } else {
                args[i] = value(types[i], rnd, 0);
            }
        }
        return args;
    }

    /**
     * A value that gets a call past its first checks: key store kinds and
     * ids the lab lists, PINs it knows, aliases and crypto types earlier
     * calls returned, algorithm OIDs. Null where there is no such value.
     */
    private Object hint(String method, int index, Random rnd) {
        String[] pins = {"12345678", "87654321", "11111111"};
        String[] signOids = {"1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2", "1.2.643.2.2.19"};
        String[] paramOids = {"1.2.643.2.2.35.1", "1.2.643.2.2.36.0", "1.2.643.7.1.2.1.2.1"};
        String[] digestOids = {"1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.3", "1.2.643.2.2.9"};
        switch (method + "/" + index) {
            case "setKeystore/1":
            case "getKeyStoreList/1":
                return new int[] {0, 2, 3}[rnd.nextInt(3)];
            case "setKeystore/2":
                return pick(keystoreIds, rnd);
            case "setPin/1":
            case "changePin/1":
            case "setKeyPassword/1":
            case "changeKeyPassword/1":
            case "createNewKey/5":
                return pins[rnd.nextInt(pins.length)];
            case "setKey/1":
            case "changeKeyAlias/1":
                return pick(aliases, rnd);
            case "createNewKey/1":
                return "fuzz-" + rnd.nextInt(4);
            case "createNewKey/3":
            case "verifySign/5":
                return signOids[rnd.nextInt(signOids.length)];
            case "createNewKey/4":
            case "verifySign/6":
                return paramOids[rnd.nextInt(paramOids.length)];
            case "initDigest/2":
                return digestOids[rnd.nextInt(digestOids.length)];
            case "initDigest/1":
            case "verifySign/1":
            case "getCryptoTypeInfo/1":
            case "getCryptoTypeVersion/1":
                return pick(cryptoTypes, rnd);
            case "listCertificates/1":
            case "importCertificate/2":
            case "deleteCertificate/2":
                return 1;
            default:
                return null;
        }
    }

    /** Keeps the ids, aliases and crypto types the calls that list them returned. */
    void harvestNamed(String method, Object result) {
        if (result instanceof String[] list
            && (method.equals("getKeyStoreList") || method.equals("getAvailableCrypto"))) {
            for (String s : list) {
                if (s != null) {
                    add(method.equals("getKeyStoreList") ? keystoreIds : cryptoTypes, s);
                }
            }
        } else if (result != null && method.equals("listKeys")) {
            for (Object key : (Object[]) result) {
                try {
                    Object alias = key == null ? null : key.getClass().getField("alias").get(key);
                    if (alias instanceof String a) {
                        add(aliases, a);
                    }
                } catch (ReflectiveOperationException e) {
                    return;
                }
            }
        }
    }

    /** Keeps the strings and bytes of a result (and of its public fields) for later calls. */
    void harvest(Object result) {
        harvest(result, 0);
    }

    private void harvest(Object o, int depth) {
        if (o == null || depth > 3) {
            return;
        }
        if (o instanceof String s) {
            add(strings, s);
        } else if (o instanceof byte[] b) {
            add(blobs, b);
        } else if (o.getClass().isArray()) {
            for (int i = 0; i < Array.getLength(o) && i < 16; ++i) {
                harvest(Array.get(o, i), depth + 1);
            }
        } else if (o.getClass().getName().startsWith("com.ormid.signer.entities.")) {
            for (Field f : o.getClass().getFields()) {
                if (!Modifier.isStatic(f.getModifiers())) {
                    try {
                        harvest(f.get(o), depth + 1);
                    } catch (IllegalAccessException e) {
                        throw new IllegalStateException(e);
                    }
                }
            }
        }
    }

    private static <T> void add(List<T> pool, T value) {
        synchronized (pool) {
            if (pool.size() >= POOL_LIMIT) {
                pool.remove(pool.size() - 1);
            }
            pool.add(pool.size() / 2, value);
        }
    }

    private String sessionId(Random rnd) {
        int roll = rnd.nextInt(100);
        // Half the calls go to the oldest live session, so every thread works
        // on it at once (Java threads sharing a session); the others spread
        // over the live ones.
        String live = roll < 50 ? first(open) : pick(open, rnd);
        if (roll < 75 && live != null) {
            return live;
        }
        String id = pick(closed, rnd);
        if (roll < 85 && id != null) {
            return rnd.nextBoolean() ? id : id.toLowerCase();
        }
        return hostileString(rnd);
    }

    private static String first(List<String> list) {
        try {
            return list.isEmpty() ? null : list.get(0);
        } catch (IndexOutOfBoundsException e) {
            return null; // another thread closed it meanwhile
        }
    }

    private String folder(Random rnd) {
        switch (rnd.nextInt(4)) {
            case 0:
                return labModules;
            case 1:
                return "/nonexistent/ormid-fuzz";
            default:
                return hostileString(rnd);
        }
    }

    private static int randomCount(Random rnd) {
        // Large valid counts would only measure the heap.
        int[] counts = {-1, Integer.MIN_VALUE, 0, 1, 32, 4096, 1 << 20};
        return rnd.nextInt(4) == 0 ? -1 - rnd.nextInt(Integer.MAX_VALUE) : counts[rnd.nextInt(counts.length)];
    }

    Object value(Class<?> type, Random rnd, int depth) {
        if (type == String.class) {
            return string(rnd);
        }
        if (type == int.class) {
            return integer(rnd);
        }
        if (type == long.class) {
            long[] edges = {0, -1, Long.MIN_VALUE, Long.MAX_VALUE, Integer.MAX_VALUE + 1L};
            return rnd.nextBoolean() ? edges[rnd.nextInt(edges.length)] : rnd.nextLong();
        }
        if (type == boolean.class) {
            return rnd.nextBoolean();
        }
        if (type == byte[].class) {
            return bytes(rnd);
        }
        if (type == String[].class) {
            return array(String.class, rnd, depth);
        }
        if (type == SignData.class) {
            return signData(rnd, depth);
        }
        if (type == SignData[].class) {
            return array(SignData.class, rnd, depth);
        }
        throw new IllegalStateException("no generator for " + type);
    }

    private Object array(Class<?> element, Random rnd, int depth) {
        int roll = rnd.nextInt(10);
        if (roll == 0 || depth > 1) {
            return null;
        }
        int n = roll == 1 ? 0 : roll == 2 ? 200 + rnd.nextInt(200) : 1 + rnd.nextInt(4);
        Object array = Array.newInstance(element, n);
        for (int i = 0; i < n; ++i) {
            Array.set(array, i, rnd.nextInt(8) == 0 ? null : value(element, rnd, depth + 1));
        }
        return array;
    }

    private SignData signData(Random rnd, int depth) {
        if (rnd.nextInt(10) == 0) {
            return null;
        }
        SignData d = new SignData(bytes(rnd));
        d.attached = rnd.nextBoolean();
        d.computeDigest = rnd.nextInt(4) != 0;
        if (rnd.nextBoolean() && depth < 2) {
            int n = rnd.nextInt(6) == 0 ? 0 : 1 + rnd.nextInt(3);
            d.signedAttributes = new Pkcs9Attribute[n];
            for (int i = 0; i < n; ++i) {
                d.signedAttributes[i] =
                    rnd.nextInt(8) == 0 ? null : new Pkcs9Attribute(string(rnd), integer(rnd), string(rnd));
            }
        }
        return d;
    }

    private int integer(Random rnd) {
        int roll = rnd.nextInt(10);
        if (roll < 6) {
            return rnd.nextInt(7) - 1;
        }
        int[] edges = {Integer.MIN_VALUE, Integer.MAX_VALUE, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 256, 255};
        return roll < 9 ? edges[rnd.nextInt(edges.length)] : rnd.nextInt();
    }

    private String string(Random rnd) {
        return rnd.nextInt(100) < 55 ? pick(strings, rnd) : hostileString(rnd);
    }

    String hostileString(Random rnd) {
        switch (rnd.nextInt(10)) {
            case 0:
                return null;
            case 1:
                return "";
            case 2:
                return "\uD800" + pick(strings, rnd) + "\uDFFF";
            case 3:
                return "x".repeat(rnd.nextInt(50) == 0 ? 1 << 20 : 4096 + rnd.nextInt(4096));
            case 4:
                return "a\u0000b";
            case 5: {
                char[] c = new char[rnd.nextInt(64)];
                for (int i = 0; i < c.length; ++i) {
                    c[i] = (char) rnd.nextInt(0x10000);
                }
                return new String(c);
            }
            case 6:
                return "%1%2%s%n\\\"'";
            case 7:
                return "../".repeat(8) + "etc/passwd";
            default:
                return mutate(pick(strings, rnd), rnd);
        }
    }

    private static String mutate(String s, Random rnd) {
        if (s.isEmpty()) {
            return "\uDBFF";
        }
        StringBuilder b = new StringBuilder(s);
        int pos = rnd.nextInt(b.length());
        switch (rnd.nextInt(4)) {
            case 0:
                b.setCharAt(pos, (char) (b.charAt(pos) ^ (1 << rnd.nextInt(16))));
                break;
            case 1:
                b.setLength(pos);
                break;
            case 2:
                b.insert(pos, (char) (0xD800 + rnd.nextInt(0x800)));
                break;
            default:
                b.append(b);
                break;
        }
        return b.toString();
    }

    private byte[] bytes(Random rnd) {
        int roll = rnd.nextInt(10);
        if (roll == 0) {
            return null;
        }
        if (roll == 1) {
            return new byte[0];
        }
        byte[] kept = pick(blobs, rnd);
        if (roll < 6 && kept != null) {
            byte[] seed = kept.clone();
            return rnd.nextInt(3) == 0 ? seed : mutate(seed, rnd);
        }
        byte[] b = new byte[rnd.nextInt(40) == 0 ? (1 << 20) : rnd.nextInt(2048)];
        rnd.nextBytes(b);
        if (b.length > 2 && rnd.nextBoolean()) {
            b[0] = 0x30; // looks like DER
            b[1] = (byte) 0x82;
        }
        return b;
    }

    private static byte[] mutate(byte[] b, Random rnd) {
        if (b.length == 0) {
            return b;
        }
        switch (rnd.nextInt(4)) {
            case 0: {
                for (int i = 0; i < 1 + rnd.nextInt(4); ++i) {
                    b[rnd.nextInt(b.length)] ^= (byte) (1 << rnd.nextInt(8));
                }
                return b;
            }
            case 1:
                return java.util.Arrays.copyOf(b, rnd.nextInt(b.length));
            case 2:
                return java.util.Arrays.copyOf(b, b.length + 1 + rnd.nextInt(64));
            default: {
                int pos = rnd.nextInt(b.length);
                b[pos] = (byte) (rnd.nextBoolean() ? 0xFF : 0x80);
                return b;
            }
        }
    }

    private static <T> T pick(List<T> list, Random rnd) {
        List<T> copy = new ArrayList<>(list);
        return copy.isEmpty() ? null : copy.get(rnd.nextInt(copy.size()));
    }
}
