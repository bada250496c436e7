package com.ormid.signer.csp;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.faults.Catalogue;
import com.ormid.signer.faults.LabFiles;
import com.ormid.signer.tokens.TestCa;
import com.ormid.signer.tokens.Tools;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Each call the library makes into the lab's CSP while it creates a key, signs or imports a certificate failing in
 * turn, seen from Java: a catalogue error, the CSP's count of open handles as before, and the operation working
 * again once the fault is gone.
 */
class CspFaultTest {
    private static final List<String> FAILURES = List.of("NTE_BAD_KEYSET", "NTE_FAIL", "NTE_NO_MEMORY", "NTE_PERM");
    private static final String GOST_256 = "1.2.643.7.1.1.1.1";
    private static final String PARAMSET_B = "1.2.643.2.2.35.2";
    private static final String PASSWORD = "Пароль-1";
    /** Release calls: a refused one leaves its handle open in the CSP, which is the CSP's doing. */
    private static final List<String> RELEASES = List.of("CryptReleaseContext", "CryptDestroyKey", "CryptDestroyHash",
                                                         "CertCloseStore", "CertFreeCertificateContext");
    private static String s;
    private static byte[] certificate;
    private static String signerStore;

    private static Path cspDir() {
        return Tools.labDir().resolve("csp");
    }

    private static void faults(String rules) {
        LabFiles.writeAtomically(cspDir().resolve("faults"), rules);
    }

    /** "library function" of each call this JVM made since the mark. */
    private static List<String> callsSince(long mark) {
        return LabFiles.ownLinesSince(cspDir().resolve("calls.log"), mark).stream()
            .filter(f -> !f[2].equals("GetLastError"))
            .map(f -> f[1] + " " + f[2])
            .toList();
    }

    @BeforeAll
    static void signer() {
        s = Signer.openSession(false);
        Session.setKeystore(s, Csp.STORE, "", true);
        Session.createNewKey(s, Csp.newName("HDIMAGE"), 7, GOST_256, PARAMSET_B, PASSWORD);
        certificate = TestCa.get().issue(Session.getSubjectPublicKeyInfo(s)).der();
        Session.importCertificate(s, certificate, Session.CERT_TYPE_USER);
        signerStore = Session.getKeystoreId(s);
    }

    @AfterAll
    static void close() {
        faults("");
        Signer.closeSession(s);
    }

    /** Runs the operation clean, then with each of its CSP calls failing in turn. */
    private static void sweep(String name, Supplier<Runnable> arrange) {
        Runnable clean = arrange.get();
        long mark = LabFiles.mark(cspDir().resolve("calls.log"));
        clean.run();
        List<String> calls = callsSince(mark);
        assertTrue(!calls.isEmpty(), name + " calls the CSP");
        Map<String, Integer> seen = new HashMap<>();
        List<String> problems = new ArrayList<>();
        int turn = 0;
        for (String call : calls) {
            String[] libraryFunction = call.split(" ");
            int nth = seen.merge(call, 1, Integer::sum);
            String failure = FAILURES.get(turn++ % FAILURES.size());
            String where = name + ": " + libraryFunction[1] + "#" + nth + " " + failure + ": ";
            Runnable action = arrange.get();
            int handles = LabCsp.openHandles();
            faults(libraryFunction[1] + " nth " + nth + " " + failure + " module=" + libraryFunction[0] + "\n");
            String outcome = "ok";
            try {
                action.run();
            } catch (RuntimeException e) {
                outcome = e.getMessage();
            } finally {
                faults("");
            }
            if (!outcome.equals("ok") && !Catalogue.isCatalogueText(outcome)) {
                problems.add(where + "not a catalogue text: " + outcome);
            }
            if (RELEASES.contains(libraryFunction[1])) {
                outcome += " (the CSP kept the handle whose release it refused)";
            } else if (LabCsp.openHandles() != handles) {
                problems.add(where + "handles " + handles + " -> " + LabCsp.openHandles());
            }
            try {
                arrange.get().run();
            } catch (RuntimeException e) {
                problems.add(where + "the run after the fault failed: " + e.getMessage());
            }
            System.out.println("csp " + where + outcome);
        }
        assertEquals(List.of(), problems);
    }

    @Test
    void creatingAKey() {
        sweep("createNewKey", () -> {
            Session.setKeystore(s, Csp.STORE, "", true);
            String name = Csp.newName("HDIMAGE");
            return () -> Session.createNewKey(s, name, 7, GOST_256, PARAMSET_B, PASSWORD);
        });
    }

    @Test
    void signing() {
        sweep("cmsSign", () -> {
            Session.setKeystore(s, Csp.STORE, signerStore, false);
            return () -> Session.cmsSign(s, Tools.signData("Платёжное поручение № 5".getBytes(UTF_8), true));
        });
    }

    @Test
    void importingTheCertificate() {
        sweep("importCertificate", () -> {
            Session.setKeystore(s, Csp.STORE, signerStore, false);
            return () -> Session.importCertificate(s, certificate, Session.CERT_TYPE_USER);
        });
    }
}
