package com.ormid.signer.bench;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.SignData;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.ByteOrder;
import java.nio.MappedByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicLong;

/**
 * Signing benchmarks through the Java API on lab tokens (bench/jni/run.sh starts it). Each command prints
 * "key=value" lines for the script's table.
 *
 * <pre>
 * stores                              the ids of the hardware key stores the library finds
 * setup STORE PIN ALIAS CERT_DIR      a GOST R 34.10-2012 256 key with a certificate (openssl, gost engine)
 * time STORE PIN ALIAS MODE BYTES N   N cmsSign runs: wall, module and library milliseconds of each
 * memory STORE PIN ALIAS MODE BYTES   one cmsSign: peak resident growth after the document exists
 * calls STORE PIN ALIAS N             PKCS#11 calls of one cmsSign (N=1) or of groupCmsSign of N documents
 * concurrent PIN ALIAS SECONDS STORE...  one thread and session per store signing 1 KiB documents
 * stall STORE_A STORE_B PIN ALIAS BYTES N  N 1 KiB cmsSign on B idle, then N while A signs BYTES over and over
 * </pre>
 * MODE is attached or detached. The module time comes from the timing module's counter file
 * (-Dormid.bench.timing), the call counts from the lab's call log (-Dormid.bench.calls); with
 * -Dormid.bench.trace=true calls also prints the calls themselves ("# " lines).
 */
public final class SignBench {
    static final String GOST_2012_256 = "1.2.643.7.1.1.1.1";
    static final String PARAM_SET_A = "1.2.643.2.2.35.1";
    static final String PASSWORD = "bench-1";

    private SignBench() {}

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
        case "stores" -> stores();
        case "setup" -> setup(args[1], args[2], args[3], Path.of(args[4]));
        case "time" -> time(args[1], args[2], args[3], args[4].equals("attached"), Integer.parseInt(args[5]),
                            Integer.parseInt(args[6]));
        case "memory" -> memory(args[1], args[2], args[3], args[4].equals("attached"), Integer.parseInt(args[5]));
        case "calls" -> calls(args[1], args[2], args[3], Integer.parseInt(args[4]));
        case "concurrent" -> concurrent(args[1], args[2], Double.parseDouble(args[3]),
                                        Arrays.copyOfRange(args, 4, args.length));
        case "stall" -> stall(args[1], args[2], args[3], args[4], Integer.parseInt(args[5]),
                              Integer.parseInt(args[6]));
        default -> throw new IllegalArgumentException("unknown command " + args[0]);
        }
    }

    static String session(String store, String pin) {
        Signer.setLoadLibraryFolder(System.getProperty("ormid.bench.modules"));
        String s = Signer.openSession(false);
        Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, store, false);
        Session.setPin(s, pin);
        return s;
    }

    static void stores() {
        Signer.setLoadLibraryFolder(System.getProperty("ormid.bench.modules"));
        String s = Signer.openSession(false);
        System.out.println(String.join("\n", Session.getKeyStoreList(s, Session.KEYSTORE_HARDWARE_DEVICE)));
        Signer.closeSession(s);
    }

    static String keySession(String store, String pin, String alias) {
        String s = session(store, pin);
        Session.setKey(s, alias);
        Session.setKeyPassword(s, PASSWORD);
        return s;
    }

    static SignData item(byte[] data, boolean attached) {
        SignData item = new SignData(data);
        item.attached = attached;
        return item;
    }

    static byte[] document(int size) {
        byte[] data = new byte[size];
        for (int i = 0; i < size; ++i) {
            data[i] = (byte) (i * 131 + 7);
        }
        return data;
    }

    static void setup(String store, String pin, String alias, Path dir) throws Exception {
        String s = session(store, pin);
        Session.createNewKey(s, alias, 7, GOST_2012_256, PARAM_SET_A, PASSWORD);
        Session.setKey(s, alias);
        byte[] spki = Session.getSubjectPublicKeyInfo(s);
        Path publicKey = dir.resolve(alias + ".pub.pem");
        Files.writeString(publicKey, "-----BEGIN PUBLIC KEY-----\n" + Base64.getMimeEncoder().encodeToString(spki)
                                         + "\n-----END PUBLIC KEY-----\n");
        Path certificate = dir.resolve(alias + ".der");
        openssl(dir, "x509", "-req", "-in", "subject.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-force_pubkey",
                publicKey.toString(), "-set_serial", Long.toString(System.nanoTime() & 0xFFFFFFFL), "-days", "30",
                "-outform", "DER", "-out", certificate.toString());
        Session.importCertificate(s, Files.readAllBytes(certificate), Session.CERT_TYPE_USER);
        Signer.closeSession(s);
    }

    static void openssl(Path dir, String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of("openssl"));
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command).directory(dir.toFile()).redirectErrorStream(true);
        Process process = builder.start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (process.waitFor() != 0) {
            throw new IllegalStateException("openssl " + String.join(" ", args) + ": " + out);
        }
    }

    /** Nanoseconds spent inside the PKCS#11 module so far (the timing module's counter). */
    static final class ModuleClock {
        private final MappedByteBuffer counters;

        ModuleClock() throws IOException {
            try (RandomAccessFile file = new RandomAccessFile(System.getProperty("ormid.bench.timing"), "rw")) {
                file.setLength(16);
                counters = file.getChannel().map(FileChannel.MapMode.READ_WRITE, 0, 16);
                counters.order(ByteOrder.LITTLE_ENDIAN);
            }
        }

        long nanoseconds() {
            return counters.getLong(0);
        }
    }

    static void time(String store, String pin, String alias, boolean attached, int size, int runs)
        throws Exception {
        String s = keySession(store, pin, alias);
        ModuleClock clock = new ModuleClock();
        Session.cmsSign(s, item(document(1024), attached));
        byte[] data = document(size);
        for (int run = 0; run < runs; ++run) {
            long module = clock.nanoseconds();
            long start = System.nanoTime();
            byte[] cms = Session.cmsSign(s, item(data, attached));
            long wall = System.nanoTime() - start;
            module = clock.nanoseconds() - module;
            if (cms.length < (attached ? size : 0)) {
                throw new IllegalStateException("short message");
            }
            System.out.printf("wall_ms=%.3f module_ms=%.3f library_ms=%.3f%n", wall / 1e6, module / 1e6,
                              (wall - module) / 1e6);
        }
        Signer.closeSession(s);
    }

    static long peakResidentKiB() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IllegalStateException("no VmHWM");
    }

    static void memory(String store, String pin, String alias, boolean attached, int size) throws Exception {
        String s = keySession(store, pin, alias);
        Session.cmsSign(s, item(document(1024), attached));
        byte[] data = document(size);
        System.gc();
        long before = peakResidentKiB();
        byte[] cms = Session.cmsSign(s, item(data, attached));
        long after = peakResidentKiB();
        System.out.printf("document_mib=%.1f growth_mib=%.1f ratio=%.2f message_bytes=%d%n", size / 1048576.0,
                          (after - before) / 1024.0, (after - before) * 1024.0 / size, cms.length);
        Signer.closeSession(s);
    }

    static void calls(String store, String pin, String alias, int documents) throws Exception {
        String s = keySession(store, pin, alias);
        Session.cmsSign(s, item(document(1024), false));
        Path log = Path.of(System.getProperty("ormid.bench.calls"));
        int before = Files.readAllLines(log).size();
        if (documents == 1) {
            Session.cmsSign(s, item(document(1024), false));
        } else {
            SignData[] items = new SignData[documents];
            for (int i = 0; i < documents; ++i) {
                items[i] = item(document(1024 + i), false);
            }
            Session.groupCmsSign(s, items);
        }
        List<String> lines = Files.readAllLines(log);
        String pid = Long.toString(ProcessHandle.current().pid());
        Map<String, Integer> counts = new TreeMap<>();
        boolean trace = Boolean.getBoolean("ormid.bench.trace");
        for (String line : lines.subList(before, lines.size())) {
            String[] fields = line.split(" ");
            if (fields.length >= 3 && fields[0].equals(pid)) {
                counts.merge(fields[2], 1, Integer::sum);
                if (trace) {
                    System.out.println("# " + line.substring(line.indexOf(' ') + 1));
                }
            }
        }
        int total = counts.values().stream().mapToInt(Integer::intValue).sum();
        StringBuilder text = new StringBuilder("total=" + total);
        counts.forEach((call, n) -> text.append(' ').append(call).append('=').append(n));
        System.out.println(text);
        Signer.closeSession(s);
    }

    static void concurrent(String pin, String alias, double seconds, String[] stores) throws Exception {
        List<String> sessions = new ArrayList<>();
        for (String store : stores) {
            String s = keySession(store, pin, alias);
            Session.cmsSign(s, item(document(1024), false));
            sessions.add(s);
        }
        AtomicLong signatures = new AtomicLong();
        CountDownLatch start = new CountDownLatch(1);
        long deadline = System.nanoTime() + (long) (seconds * 1e9);
        List<Thread> threads = new ArrayList<>();
        byte[] data = document(1024);
        for (String s : sessions) {
            Thread thread = new Thread(() -> {
                try {
                    start.await();
                } catch (InterruptedException e) {
                    return;
                }
                while (System.nanoTime() < deadline) {
                    Session.cmsSign(s, item(data, false));
                    signatures.incrementAndGet();
                }
            });
            thread.start();
            threads.add(thread);
        }
        long begin = System.nanoTime();
        start.countDown();
        for (Thread thread : threads) {
            thread.join();
        }
        double elapsed = (System.nanoTime() - begin) / 1e9;
        System.out.printf("sessions=%d signatures=%d per_second=%.1f%n", stores.length, signatures.get(),
                          signatures.get() / elapsed);
        for (String s : sessions) {
            Signer.closeSession(s);
        }
    }

    static double median(List<Double> values) {
        List<Double> sorted = new ArrayList<>(values);
        sorted.sort(null);
        int n = sorted.size();
        return n % 2 == 1 ? sorted.get(n / 2) : (sorted.get(n / 2 - 1) + sorted.get(n / 2)) / 2;
    }

    /**
     * A 1 KiB detached signature on token B, first with B alone (idle), then while a thread signs a large
     * detached document on token A over and over: one B signature starts 20 ms into each of A's requests.
     */
    static void stall(String storeA, String storeB, String pin, String alias, int size, int runs)
        throws Exception {
        String a = keySession(storeA, pin, alias);
        String b = keySession(storeB, pin, alias);
        byte[] small = document(1024);
        Session.cmsSign(a, item(small, false));
        Session.cmsSign(b, item(small, false));
        List<Double> idle = new ArrayList<>();
        for (int run = 0; run < runs; ++run) {
            long start = System.nanoTime();
            Session.cmsSign(b, item(small, false));
            idle.add((System.nanoTime() - start) / 1e6);
        }
        byte[] large = document(size);
        AtomicLong largeSigns = new AtomicLong(); // odd while A is inside cmsSign
        List<Double> largeMs = new ArrayList<>();
        AtomicBoolean stop = new AtomicBoolean();
        Thread onA = new Thread(() -> {
            while (!stop.get()) {
                largeSigns.incrementAndGet();
                long start = System.nanoTime();
                Session.cmsSign(a, item(large, false));
                long took = System.nanoTime() - start;
                largeSigns.incrementAndGet();
                synchronized (largeMs) {
                    largeMs.add(took / 1e6);
                }
            }
        });
        onA.start();
        List<Double> busy = new ArrayList<>();
        long used = 0;
        while (busy.size() < runs) {
            long current = largeSigns.get();
            if (current % 2 == 0 || current == used) {
                Thread.sleep(1);
                continue;
            }
            used = current;
            Thread.sleep(20); // A is hashing its document by now
            long start = System.nanoTime();
            Session.cmsSign(b, item(small, false));
            busy.add((System.nanoTime() - start) / 1e6);
        }
        stop.set(true);
        onA.join();
        double idleMs = median(idle);
        double busyMs = median(busy);
        System.out.printf("idle_ms=%.3f busy_ms=%.3f ratio=%.2f large_ms=%.1f%n", idleMs, busyMs, busyMs / idleMs,
                          median(largeMs));
        Signer.closeSession(a);
        Signer.closeSession(b);
    }
}
