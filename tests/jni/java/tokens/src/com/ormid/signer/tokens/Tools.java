package com.ormid.signer.tokens;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.SignData;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Callable;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Runs the independent tools (openssl with the gost engine, the lab's device tool), handles files and holds the
 * small session helpers every lab suite needs; the confirmation token and CSP suites use them too.
 */
public final class Tools {
    private static final AtomicLong counter = new AtomicLong();

    private Tools() {}

    public static final class Result {
        private final int exit;
        private final byte[] out;
        private final String err;

        public Result(int exit, byte[] out, String err) {
            this.exit = exit;
            this.out = out;
            this.err = err;
        }

        public int exit() {
            return exit;
        }

        public byte[] out() {
            return out;
        }

        public String err() {
            return err;
        }

        public boolean ok() {
            return exit == 0;
        }

        public String text() {
            return new String(out, UTF_8) + err;
        }
    }

    public static Result run(List<String> command, Map<String, String> env) {
        try {
            ProcessBuilder builder = new ProcessBuilder(command);
            builder.environment().putAll(env);
            Path err = Files.createTempFile(work(), "err", ".txt");
            builder.redirectError(err.toFile());
            Process process = builder.start();
            process.getOutputStream().close();
            byte[] out = process.getInputStream().readAllBytes();
            int exit = process.waitFor();
            String errText = Files.readString(err);
            Files.delete(err);
            return new Result(exit, out, errText);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }

    /** A variable of the lab's environment, which must be set. */
    public static String labEnv(String name) {
        String value = System.getenv(name);
        assertTrue(value != null && !value.isEmpty(), name + " is not set: the tests need the lab");
        return value;
    }

    /** The lab's state directory. */
    public static Path labDir() {
        return Path.of(labEnv("ORMID_LAB_DIR"));
    }

    /** Runs the tasks on threads of their own, started together; returns their results in task order. */
    public static <T> List<T> together(List<Callable<T>> tasks) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(tasks.size());
        CyclicBarrier start = new CyclicBarrier(tasks.size());
        try {
            List<Future<T>> futures = new ArrayList<>();
            for (Callable<T> task : tasks) {
                futures.add(pool.submit(() -> {
                    start.await();
                    return task.call();
                }));
            }
            List<T> results = new ArrayList<>();
            for (Future<T> future : futures) {
                results.add(future.get(10, TimeUnit.MINUTES));
            }
            return results;
        } finally {
            pool.shutdownNow();
        }
    }

    /** openssl with the gost engine loaded. */
    public static Result openssl(String... args) {
        List<String> command = new ArrayList<>(List.of("openssl"));
        command.addAll(Arrays.asList(args));
        return run(command, Map.of("OPENSSL_CONF", System.getProperty("ormid.test.gostconf")));
    }

    /** openssl that must succeed; returns its standard output. */
    public static byte[] opensslOk(String... args) {
        Result result = openssl(args);
        assertEquals(0, result.exit(), () -> "openssl " + String.join(" ", args) + ": " + result.text());
        return result.out();
    }

    public static Path work() {
        return Path.of(System.getProperty("ormid.test.work"));
    }

    /** A new file in the work directory holding the bytes. */
    public static Path file(String name, byte[] content) {
        try {
            return Files.write(work().resolve(counter.incrementAndGet() + "-" + name), content);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    public static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Upper-case hex of bytes[from, to). */
    public static String hex(byte[] bytes, int from, int to) {
        StringBuilder text = new StringBuilder();
        for (int i = from; i < to; ++i) {
            text.append(String.format("%02X", bytes[i] & 0xFF));
        }
        return text.toString();
    }

    /** Upper-case hex of the bytes. */
    public static String hex(byte[] bytes) {
        return hex(bytes, 0, bytes.length);
    }

    /** Bytes of hex text (either case). */
    public static byte[] unhex(String text) {
        if (text.length() % 2 != 0) {
            throw new IllegalArgumentException("odd hex length: " + text);
        }
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; ++i) {
            int high = Character.digit(text.charAt(2 * i), 16);
            int low = Character.digit(text.charAt(2 * i + 1), 16);
            if (high < 0 || low < 0) {
                throw new IllegalArgumentException("not hex: " + text);
            }
            bytes[i] = (byte) (high << 4 | low);
        }
        return bytes;
    }

    /** A GOST signature A‖B as B‖A (the two signature orders in use). */
    public static byte[] swapHalves(byte[] signature) {
        int half = signature.length / 2;
        byte[] swapped = new byte[signature.length];
        System.arraycopy(signature, half, swapped, 0, half);
        System.arraycopy(signature, 0, swapped, half, half);
        return swapped;
    }

    /** A copy with one byte changed. */
    public static byte[] tampered(byte[] data, int index) {
        byte[] copy = data.clone();
        copy[index] ^= 0x01;
        return copy;
    }

    /** Position of the first occurrence of needle in haystack, -1 when absent. */
    public static int indexOf(byte[] haystack, byte[] needle) {
        outer:
        for (int i = 0; i + needle.length <= haystack.length; ++i) {
            for (int j = 0; j < needle.length; ++j) {
                if (haystack[i + j] != needle[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
    }

    public static long unique() {
        return counter.incrementAndGet();
    }

    /** One document to sign, attached to its CMS message or not. */
    public static SignData signData(byte[] data, boolean attached) {
        SignData item = new SignData(data);
        item.attached = attached;
        return item;
    }

    /** A document of forty lines of Cyrillic text, the input of the digest tests. */
    public static byte[] multiLineDocument() {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < 40; ++i) {
            out.writeBytes(("строка " + i + " платёжного документа\n").getBytes(UTF_8));
        }
        return out.toByteArray();
    }

    /** The session's digest in progress fed the data in uneven pieces, an empty one among them, and finished. */
    public static byte[] digestInSteps(String s, byte[] data) {
        int[] cuts = {0, 1, 1, 70, data.length};
        for (int i = 1; i < cuts.length; ++i) {
            Session.updateDigest(s, Arrays.copyOfRange(data, cuts[i - 1], cuts[i]));
        }
        return Session.finalizeDigest(s);
    }
}
