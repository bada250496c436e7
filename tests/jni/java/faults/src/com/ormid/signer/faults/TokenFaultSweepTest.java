package com.ormid.signer.faults;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.SignData;
import com.ormid.signer.tokens.TestCa;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Function;
import java.util.function.Predicate;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Each PKCS#11 call of each token operation failing in turn, with each of the failures a token gives when it
 * breaks or leaves: the operation throws a catalogue error (or succeeds when the call did not matter), the module
 * has no more sessions or session objects open than before, the token's keys and certificates are as they were or
 * as the operation leaves them, and the operation works again in the same session once the fault is gone. The
 * Rutoken runs the full table (see {@link #rows}); the other makes a sample of it. The outcome table goes to
 * token-fault-sweep.txt in the report folder.
 */
class TokenFaultSweepTest {
    static final List<String> FAILURES = List.of("CKR_DEVICE_ERROR", "CKR_DEVICE_REMOVED", "CKR_SESSION_HANDLE_INVALID",
                                                 "CKR_TOKEN_NOT_PRESENT", "CKR_GENERAL_ERROR");
    private static final String P1 = "Пароль-1";
    private static final String P2 = "Пароль-2";
    private static final String GOST_256 = "1.2.643.7.1.1.1.1";
    private static final String PARAMSET_A = "1.2.643.2.2.35.1";
    private static final AtomicInteger counter = new AtomicInteger();
    /** Prefixes of the keys rows make for themselves. */
    private static final List<String> ROW_KEYS = List.of("sweep-new-", "sweep-id-", "sweep-delete-");
    /** Outcomes by "make operation" then "call#n" then failure. */
    private static final Map<String, Map<String, Map<String, String>>> table = new TreeMap<>();

    /** What a lab device is for the sweep: the library's store id, its PIN, its module. */
    enum Device {
        RUTOKEN("0169552957", "0A1B2C3D", "12345678", LabModule.RUTOKEN),
        ANGARA("MSK00000001", "MSK00000001", "11111111", LabModule.ANGARA),
        JACARTA("JC2000000001", "JC2000000001", "12345678", LabModule.JACARTA);

        final String storeId;
        final String labSerial;
        /** The factory PIN the library assumes for the make (the lab device is given it). */
        final String pin;
        final LabModule module;

        Device(String storeId, String labSerial, String pin, LabModule module) {
            this.storeId = storeId;
            this.labSerial = labSerial;
            this.pin = pin;
            this.module = module;
        }

        /** Changes facts of the lab device (lab-device set). */
        void set(String... facts) {
            List<String> command = new ArrayList<>(List.of(Path.of(Tools.labEnv("ORMID_LAB_BUILD"), "lab", "device",
                                                                   "lab-device").toString(),
                                                           "set", Tools.labDir().toString(), labSerial));
            command.addAll(List.of(facts));
            Tools.Result result = Tools.run(command, Map.of());
            assertTrue(result.ok(), () -> "lab-device set: " + result.text());
        }

        String open() {
            com.ormid.signer.Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
            String s = com.ormid.signer.Signer.openSession(false);
            Session.setKeystore(s, Session.KEYSTORE_HARDWARE_DEVICE, storeId, false);
            Session.setPin(s, pin);
            return s;
        }
    }

    /**
     * An operation made ready (faults off): the action to run, and how the token's keys and certificates show that
     * it took effect (null for an operation that leaves the token as it is).
     */
    record Step(Runnable action, Predicate<Set<String>> done) {}

    /** One library session on a device with the keys the operations work on. */
    static final class Bench {
        final Device device;
        final String s;
        final byte[] certificate;
        final byte[] certificateId;
        final Map<String, String> lastKeys = new HashMap<>();

        Bench(Device device) {
            this.device = device;
            device.set("user-pin=" + device.pin, "present=1");
            this.s = device.open();
            // Keys rows of an earlier run left behind (a run stopped halfway) would take the names and ids.
            for (String alias : aliases()) {
                if (ROW_KEYS.stream().anyMatch(alias::startsWith)) {
                    select(alias, P1);
                    Session.deleteKey(s);
                }
            }
            List<String> present = aliases();
            for (String alias : List.of("sweep-sign", "sweep-rename-a", "sweep-password", "sweep-cert")) {
                boolean renamed = alias.equals("sweep-rename-a") && present.contains("sweep-rename-b");
                if (!present.contains(alias) && !renamed) {
                    Session.createNewKey(s, alias, 7, GOST_256, PARAMSET_A, P1);
                }
            }
            select("sweep-cert", P1);
            byte[] der = null;
            for (CertInfo cert : Session.listCertificates(s, Session.CERT_TYPE_USER)) {
                der = cert.x509;
            }
            certificate = der != null ? der : TestCa.get().issue(Session.getSubjectPublicKeyInfo(s)).der();
            certificateId = der != null ? certificateId() : Session.importCertificate(s, certificate, Session.CERT_TYPE_USER);
        }

        List<String> aliases() {
            return Arrays.stream(Session.listKeys(s)).map(k -> k.alias).toList();
        }

        void select(String alias, String password) {
            Session.setKey(s, alias);
            Session.setKeyPassword(s, password);
        }

        /** Removes the keys left by earlier rows of an operation that makes new keys. */
        /** A new alias for a row, the key the previous row made under the prefix deleted. */
        String newAlias(String prefix) {
            String alias = prefix + counter.incrementAndGet();
            String previous = lastKeys.put(prefix, alias);
            if (previous != null && aliases().contains(previous)) {
                select(previous, P1);
                Session.deleteKey(s);
            }
            return alias;
        }

        /** A new key for a row, selected. */
        String newKey(String prefix) {
            String alias = newAlias(prefix);
            Session.createNewKey(s, alias, 7, GOST_256, PARAMSET_A, P1);
            select(alias, P1);
            return alias;
        }

        byte[] certificateId() {
            for (CertInfo cert : Session.listCertificates(s, Session.CERT_TYPE_USER)) {
                if (Arrays.equals(cert.x509, certificate)) {
                    return cert.id;
                }
            }
            return null;
        }

        /** The token's objects as the lab keeps them (read from its files: no PKCS#11 call). */
        List<String> objects() {
            try {
                return Files.readAllLines(Tools.labDir().resolve("devices").resolve(device.labSerial)
                                              .resolve("objects.txt"))
                    .stream()
                    .filter(line -> !line.startsWith("next-handle"))
                    .toList();
            } catch (IOException e) {
                throw new java.io.UncheckedIOException(e);
            }
        }

        /** The token's keys and user certificates, as a fresh session lists them. */
        TreeSet<String> state() {
            String fresh = device.open();
            try {
                TreeSet<String> state = new TreeSet<>();
                for (KeyInfo key : Session.listKeys(fresh)) {
                    state.add(entry(key.alias, key.id, key.hasPassword));
                }
                for (CertInfo cert : Session.listCertificates(fresh, Session.CERT_TYPE_USER)) {
                    state.add(certificateEntry(cert.id));
                }
                return state;
            } finally {
                com.ormid.signer.Signer.closeSession(fresh);
            }
        }
    }

    static String entry(String alias, String id, boolean hasPassword) {
        return "key " + alias + " id=" + id + " password=" + hasPassword;
    }

    private static SignData document(int i) {
        return Tools.signData(("Платёжное поручение № " + i).getBytes(UTF_8), true);
    }

    /** The operations, each made ready on a bench (faults off) as a step. */
    static final Map<String, Function<Bench, Step>> OPERATIONS = new java.util.LinkedHashMap<>();

    static {
        OPERATIONS.put("setPin", b -> new Step(() -> Session.setPin(b.s, b.device.pin), null));
        OPERATIONS.put("createNewKey", b -> {
            String alias = b.newAlias("sweep-new-");
            return new Step(() -> Session.createNewKey(b.s, alias, 7, GOST_256, PARAMSET_A, P1),
                            st -> st.contains(entry(alias, "0", true)));
        });
        OPERATIONS.put("changeKeyAlias", b -> {
            boolean atA = b.aliases().contains("sweep-rename-a");
            String from = atA ? "sweep-rename-a" : "sweep-rename-b";
            String to = atA ? "sweep-rename-b" : "sweep-rename-a";
            b.select(from, P1);
            return new Step(() -> Session.changeKeyAlias(b.s, to),
                            st -> st.contains(entry(to, "0", true)) && !st.contains(entry(from, "0", true)));
        });
        OPERATIONS.put("setKeyId", b -> {
            String alias = b.newKey("sweep-id-");
            String id = Integer.toString(4200 + counter.incrementAndGet());
            return new Step(() -> Session.setKeyId(b.s, id), st -> st.contains(entry(alias, id, true)));
        });
        OPERATIONS.put("changeKeyPassword", b -> {
            // The key opens with exactly one of the two passwords: the one it has now.
            Session.setKey(b.s, "sweep-password");
            String now = P1;
            try {
                Session.setKeyPassword(b.s, P1);
            } catch (RuntimeException e) {
                Session.setKeyPassword(b.s, P2);
                now = P2;
            }
            String next = now.equals(P1) ? P2 : P1;
            // The listing does not show the password: which one opens the key is checked as the next row begins.
            return new Step(() -> Session.changeKeyPassword(b.s, next), st -> true);
        });
        OPERATIONS.put("deleteKey", b -> {
            String alias = b.newKey("sweep-delete-");
            return new Step(() -> Session.deleteKey(b.s),
                            st -> st.stream().noneMatch(e -> e.startsWith("key " + alias + " ")));
        });
        OPERATIONS.put("cmsSign", b -> {
            b.select("sweep-sign", P1);
            return new Step(() -> Session.cmsSign(b.s, document(1)), null);
        });
        OPERATIONS.put("groupCmsSign", b -> {
            b.select("sweep-sign", P1);
            return new Step(() -> Session.groupCmsSign(b.s, new SignData[] {document(1), document(2), document(3)}),
                            null);
        });
        OPERATIONS.put("importCertificate", b -> {
            b.select("sweep-cert", P1);
            if (b.certificateId() != null) {
                Session.deleteCertificate(b.s, b.certificateId, Session.CERT_TYPE_USER);
            }
            return new Step(() -> Session.importCertificate(b.s, b.certificate, Session.CERT_TYPE_USER),
                            st -> st.contains(certificateEntry(b.certificateId)));
        });
        OPERATIONS.put("deleteCertificate", b -> {
            b.select("sweep-cert", P1);
            if (b.certificateId() == null) {
                Session.importCertificate(b.s, b.certificate, Session.CERT_TYPE_USER);
            }
            return new Step(() -> Session.deleteCertificate(b.s, b.certificateId, Session.CERT_TYPE_USER),
                            st -> !st.contains(certificateEntry(b.certificateId)));
        });
    }

    static String certificateEntry(byte[] id) {
        return "certificate " + HexFormat.of().formatHex(id);
    }

    /** One row of the sweep: the Nth call of a function fails with a value. */
    record Fault(String function, int nth, String failure) {
        String rule(LabModule module) {
            return function + " nth " + nth + " " + failure + " module=" + module.family;
        }
    }

    /** The calls the operation makes, learnt from a clean run: each function with its occurrence, in order. */
    private static List<Fault> callsOf(Bench bench, Function<Bench, Step> operation) {
        Step step = operation.apply(bench);
        long mark = LabModule.callMark();
        step.action().run();
        List<String> functions = bench.device.module.callsSince(mark);
        assertTrue(!functions.isEmpty(), "the operation calls the module");
        Map<String, Integer> seen = new HashMap<>();
        List<Fault> calls = new ArrayList<>();
        for (String function : functions) {
            calls.add(new Fault(function, seen.merge(function, 1, Integer::sum), null));
        }
        return calls;
    }

    static Stream<Arguments> sweeps() {
        List<Arguments> all = new ArrayList<>();
        for (Device device : Device.values()) {
            for (String operation : OPERATIONS.keySet()) {
                all.add(Arguments.of(device, operation));
            }
        }
        return all.stream();
    }

    /**
     * The rows of an operation's table. A stretch of one function called again and again (attributes read object
     * by object) is stood for by its first call. On the Rutoken the first call of each function fails with each
     * failure and the other calls with one failure each, taken in turn; the other makes fail the first call of
     * each function with one failure, taken in turn.
     */
    private static List<Fault> rows(Device device, List<Fault> calls) {
        List<Fault> rows = new ArrayList<>();
        int turn = 0;
        for (int i = 0; i < calls.size(); ++i) {
            Fault call = calls.get(i);
            if (i > 0 && calls.get(i - 1).function().equals(call.function())) {
                continue;
            }
            if (device == Device.RUTOKEN && call.nth() == 1) {
                for (String failure : FAILURES) {
                    rows.add(new Fault(call.function(), 1, failure));
                }
            } else if (device == Device.RUTOKEN || call.nth() == 1) {
                rows.add(new Fault(call.function(), call.nth(), FAILURES.get(turn++ % FAILURES.size())));
            }
        }
        return rows;
    }

    private static final Map<Device, Bench> benches = new HashMap<>();

    private static synchronized Bench bench(Device device) {
        return benches.computeIfAbsent(device, Bench::new);
    }

    @AfterAll
    static void writeTable() throws IOException {
        LabModule.faults();
        for (Bench bench : benches.values()) {
            com.ormid.signer.Signer.closeSession(bench.s);
        }
        StringBuilder text = new StringBuilder();
        table.forEach((operation, calls) -> {
            text.append(operation).append('\n');
            calls.forEach((call, outcomes) -> {
                text.append("  ").append(call);
                outcomes.forEach((failure, outcome) -> text.append(" | ").append(failure).append(": ").append(outcome));
                text.append('\n');
            });
        });
        Path reports = Path.of(System.getProperty("ormid.test.reports"));
        Files.createDirectories(reports);
        Files.writeString(reports.resolve("token-fault-sweep.txt"), text.toString());
    }

    @ParameterizedTest(name = "{0} {1}")
    @MethodSource("sweeps")
    void everyFailingCallEndsInACatalogueErrorAndLeavesNothingBehind(Device device, String name) {
        Bench bench = bench(device);
        Function<Bench, Step> operation = OPERATIONS.get(name);
        LabModule module = device.module;
        List<String> problems = new ArrayList<>();
        for (Fault fault : rows(device, callsOf(bench, operation))) {
            Step step = operation.apply(bench);
            List<String> before = bench.objects();
            long[] handles = module.openHandles();
            LabModule.faults(fault.rule(module));
            String outcome;
            try {
                step.action().run();
                outcome = "ok";
            } catch (RuntimeException e) {
                outcome = Catalogue.isCatalogueText(e.getMessage()) ? "error: " + e.getMessage()
                                                                    : "NOT A CATALOGUE ERROR: " + e;
            } finally {
                LabModule.faults();
            }
            String where = fault.function() + "#" + fault.nth() + " " + fault.failure() + ": ";
            if (outcome.startsWith("NOT")) {
                problems.add(where + outcome);
            }
            long[] left = module.openHandles();
            if (!Arrays.equals(handles, left) && fault.function().equals("C_CloseSession")) {
                // The lab keeps a session whose close it was told to refuse: that one is the module's.
                module.closeAllSessions();
                left = module.openHandles();
                outcome += " (the module kept the refused session)";
            }
            if (!Arrays.equals(handles, left)) {
                problems.add(where + outcome + "; sessions and session objects " + Arrays.toString(handles) + " -> "
                             + Arrays.toString(left));
            }
            // The token holds what it held, or what the operation leaves: nothing half-written.
            boolean unchanged = bench.objects().equals(before);
            boolean consistent = step.done() == null ? unchanged
                                                     : unchanged && !outcome.equals("ok") || step.done().test(bench.state());
            if (!consistent) {
                problems.add(where + outcome + "; the token is neither as it was nor as the operation leaves it: "
                             + bench.state());
            }
            if (!outcome.equals("ok")) {
                try {
                    Step again = operation.apply(bench);
                    again.action().run();
                    if (again.done() != null && !again.done().test(bench.state())) {
                        problems.add(where + "the run after the fault left " + bench.state());
                    }
                } catch (RuntimeException e) {
                    problems.add(where + "the run after the fault failed: " + e.getMessage());
                }
            }
            table.computeIfAbsent(device + " " + name, k -> new TreeMap<>())
                .computeIfAbsent(fault.function() + "#" + fault.nth(), k -> new TreeMap<>())
                .put(fault.failure(), outcome);
        }
        assertEquals(List.of(), problems);
    }
}
