package com.ormid.signer.csp;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import java.util.Arrays;
import java.util.function.Supplier;

/**
 * Run in a JVM of its own whose ORMID_CSP_DIR names a folder without a usable CSP: prints what the Java API
 * answers, one "name=value" line per question (an error prints its message).
 */
public final class NoCspProbe {
    private NoCspProbe() {}

    private static void print(String name, Supplier<String> answer) {
        String value;
        try {
            value = answer.get();
        } catch (RuntimeException e) {
            value = "error: " + e.getMessage();
        }
        System.out.println(name + "=" + value);
    }

    public static void main(String[] args) {
        String s = Signer.openSession(false);
        print("crypto", () -> String.join(",", Session.getAvailableCrypto(s, null)));
        print("version", () -> Session.getCryptoTypeVersion(s, Csp.CRYPTO_TYPE));
        print("containers", () -> Arrays.toString(Session.getKeyStoreList(s, Csp.STORE)));
        print("newContainer", () -> Session.setKeystore(s, Csp.STORE, "", true).id);
        print("digest", () -> {
            Session.initDigest(s, Csp.CRYPTO_TYPE, "1.2.643.7.1.1.2.2");
            return "started";
        });
        print("readers", () -> Arrays.toString(Session.getAvailableCspReaders(s)));
        Signer.closeSession(s);
    }
}
