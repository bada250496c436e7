package com.ormid.signer.jnifuzz;

import com.ormid.signer.EnvInfo;
import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.Utils;
import com.ormid.signer.entities.Pkcs9Attribute;
import com.ormid.signer.entities.SignData;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Calls every native method of the Java API with generated arguments from
 * several threads for a bounded time; the threads share sessions (half the
 * calls go to the oldest live one). Every call must return or raise a
 * SignerException whose message is a text of the library's catalogue;
 * anything else is a finding (printed with the thread's seed and call number,
 * so a run repeats with -Dormid.fuzz.seed). The JVM runs under -Xcheck:jni:
 * the caller scans its output for JNI warnings.
 *
 * <p>Properties: ormid.fuzz.sources (the library's source folder, for the
 * catalogue), ormid.fuzz.seconds (60), ormid.fuzz.threads (4),
 * ormid.fuzz.seed (random), ormid.fuzz.modules (the lab's token modules).
 */
public final class JniFuzz {
    private static final int EXPORTS = 49;
    private static final int MAX_OPEN_SESSIONS = 8;

    private final Catalogue catalogue;
    private final Arguments arguments;
    private final List<Method> methods;
    private final List<Method> schedule = new ArrayList<>();
    private final Map<String, String> findings = new ConcurrentHashMap<>();
    private final Map<String, AtomicLong[]> counts = new ConcurrentHashMap<>();
    /** Per method, how often each message came back (the most frequent shows how far calls got). */
    private final Map<String, Map<String, AtomicLong>> messages = new ConcurrentHashMap<>();
    private final AtomicLong slowest = new AtomicLong();
    private volatile String slowestCall = "";

    private JniFuzz(Catalogue catalogue, Arguments arguments, List<Method> methods) {
        this.catalogue = catalogue;
        this.arguments = arguments;
        this.methods = methods;
        // The calls that select a key store, a key and log in come up more
        // often, so that sessions get far enough for the signing calls; the
        // digest steps too, so that threads sharing a session feed, start and
        // finish its digest at once.
        for (Method m : methods) {
            int weight = switch (m.getName()) {
                case "setKeystore", "setKey", "setPin", "setKeyPassword" -> 4;
                case "initDigest", "initDigestByCurrentKey", "updateDigest", "finalizeDigest" -> 3;
                default -> 1;
            };
            for (int i = 0; i < weight; ++i) {
                schedule.add(m);
            }
        }
    }

    public static void main(String[] argv) throws Exception {
        Path sources = Path.of(System.getProperty("ormid.fuzz.sources", "src"));
        long seconds = Long.getLong("ormid.fuzz.seconds", 60);
        int threads = Integer.getInteger("ormid.fuzz.threads", 4);
        long seed = Long.getLong("ormid.fuzz.seed", new Random().nextLong());
        String modules = System.getProperty("ormid.fuzz.modules", "/nonexistent");
        System.out.printf("jni fuzz: seed %d, %d threads, %d s%n", seed, threads, seconds);

        List<Method> methods = new ArrayList<>();
        for (Class<?> cls : new Class<?>[] {Signer.class, Session.class, Utils.class, EnvInfo.class}) {
            for (Method m : cls.getDeclaredMethods()) {
                if (Modifier.isNative(m.getModifiers())) {
                    methods.add(m);
                }
            }
        }
        methods.sort((a, b) -> name(a).compareTo(name(b)));
        if (methods.size() != EXPORTS) {
            System.out.println("FINDING: " + methods.size() + " native methods, expected " + EXPORTS);
            System.exit(1);
        }
        Catalogue catalogue = new Catalogue(sources);
        System.out.println("catalogue: " + catalogue.size() + " entries, " + catalogue.fixedTexts() + " fixed texts");
        JniFuzz fuzz = new JniFuzz(catalogue, new Arguments(modules), methods);
        System.exit(fuzz.run(seed, threads, seconds) ? 0 : 1);
    }

    private boolean run(long seed, int threads, long seconds) throws InterruptedException {
        long deadline = System.nanoTime() + seconds * 1_000_000_000L;
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; ++t) {
            final long threadSeed = seed + t;
            Thread worker = new Thread(() -> work(threadSeed, deadline), "fuzz-" + t);
            worker.setUncaughtExceptionHandler((th, e) -> finding(th.getName(), "fuzzer failure: " + e));
            workers.add(worker);
            worker.start();
        }
        for (Thread worker : workers) {
            worker.join();
        }
        for (String id : arguments.open) {
            try {
                Signer.closeSession(id);
            } catch (RuntimeException e) {
                // closed by a worker meanwhile
            }
        }
        report();
        return findings.isEmpty();
    }

    private void work(long seed, long deadline) {
        Random rnd = new Random(seed);
        long call = 0;
        while (System.nanoTime() < deadline) {
            ++call;
            Method method = schedule.get(rnd.nextInt(schedule.size()));
            if (arguments.open.isEmpty()) {
                method = methods.stream().filter(m -> m.getName().equals("openSession")).findFirst().get();
            }
            Object[] args = arguments.forMethod(method, rnd);
            String where = "seed " + seed + " call " + call + ": " + name(method) + describe(args);
            long start = System.nanoTime();
            AtomicLong[] count = counts.computeIfAbsent(name(method), k -> new AtomicLong[] {new AtomicLong(), new AtomicLong()});
            try {
                Object result = method.invoke(null, args);
                count[0].incrementAndGet();
                afterSuccess(method, args, result);
            } catch (InvocationTargetException e) {
                count[1].incrementAndGet();
                String text = String.valueOf(e.getCause().getMessage());
                messages.computeIfAbsent(name(method), k -> new ConcurrentHashMap<>())
                    .computeIfAbsent(text.length() > 60 ? text.substring(0, 60) : text, k -> new AtomicLong())
                    .incrementAndGet();
                check(where, e.getCause(), hasNul(args));
            } catch (IllegalAccessException e) {
                finding(where, e.toString());
            }
            long took = System.nanoTime() - start;
            if (took > slowest.get()) {
                slowest.set(took);
                slowestCall = where;
            }
        }
    }

    private void afterSuccess(Method method, Object[] args, Object result) {
        switch (method.getName()) {
            case "openSession" -> {
                arguments.open.add((String) result);
                if (arguments.open.size() > MAX_OPEN_SESSIONS) {
                    String oldest = arguments.open.remove(0);
                    try {
                        Signer.closeSession(oldest);
                        arguments.closed.add(oldest);
                    } catch (RuntimeException e) {
                        // another thread closed it first
                    }
                }
            }
            case "closeSession" -> {
                arguments.open.remove(args[0]);
                arguments.closed.add((String) args[0]);
                if (arguments.closed.size() > 64) {
                    arguments.closed.remove(0);
                }
            }
            default -> {
                arguments.harvestNamed(method.getName(), result);
                arguments.harvest(result);
            }
        }
    }

    private void check(String where, Throwable error, boolean nulInArguments) {
        if (error.getClass() != com.ormid.signer.SignerException.class) {
            finding(where, "raised " + error);
        } else if (!catalogue.contains(error.getMessage())
                   && !(nulInArguments && catalogue.containsCut(error.getMessage()))) {
            finding(where, "message outside the catalogue: " + quote(error.getMessage()));
        }
    }

    private void finding(String where, String what) {
        // One report per kind of finding (the message without its variable parts).
        String key = what.replaceAll("[0-9A-F]{16,}", "#");
        if (findings.putIfAbsent(key, where) == null) {
            System.out.println("FINDING: " + what + "\n  at " + where);
        }
    }

    private void report() {
        long calls = 0;
        Map<String, AtomicLong[]> sorted = new TreeMap<>(counts);
        for (Map.Entry<String, AtomicLong[]> e : sorted.entrySet()) {
            long ok = e.getValue()[0].get(), failed = e.getValue()[1].get();
            calls += ok + failed;
            String top = messages.getOrDefault(e.getKey(), Map.of()).entrySet().stream()
                .max((x, y) -> Long.compare(x.getValue().get(), y.getValue().get()))
                .map(x -> x.getKey()).orElse("");
            System.out.printf("  %-34s %8d returned %8d raised  %s%n", e.getKey(), ok, failed, top);
        }
        System.out.printf("jni fuzz: %d calls on %d of %d methods, slowest %.1f ms (%s), %d findings%n", calls,
                          counts.size(), EXPORTS, slowest.get() / 1e6, slowestCall, findings.size());
    }

    /** Whether a string anywhere in the arguments holds a NUL. */
    private static boolean hasNul(Object o) {
        if (o instanceof String s) {
            return s.indexOf('\0') >= 0;
        }
        if (o instanceof Object[] array) {
            return Arrays.stream(array).anyMatch(JniFuzz::hasNul);
        }
        if (o instanceof SignData d) {
            return hasNul(d.signedAttributes);
        }
        if (o instanceof Pkcs9Attribute a) {
            return hasNul(a.oid) || hasNul(a.value);
        }
        return false;
    }

    private static String name(Method m) {
        return m.getDeclaringClass().getSimpleName() + "." + m.getName();
    }

    private static String describe(Object[] args) {
        StringBuilder b = new StringBuilder("(");
        for (int i = 0; i < args.length; ++i) {
            b.append(i == 0 ? "" : ", ").append(describe(args[i]));
        }
        return b.append(")").toString();
    }

    private static String describe(Object a) {
        if (a instanceof String s) {
            return s.length() > 40 ? "string[" + s.length() + "]" : quote(s);
        }
        if (a instanceof byte[] b) {
            return "byte[" + b.length + "]";
        }
        if (a instanceof Object[] o) {
            return a.getClass().getComponentType().getSimpleName() + "[" + o.length + "]";
        }
        return String.valueOf(a);
    }

    private static String quote(String s) {
        if (s == null) {
            return "null";
        }
        StringBuilder b = new StringBuilder("\"");
        for (char c : s.toCharArray()) {
            b.append(c < 0x20 || Character.isSurrogate(c) ? String.format("\\u%04x", (int) c) : String.valueOf(c));
        }
        return b.append('"').toString();
    }
}
