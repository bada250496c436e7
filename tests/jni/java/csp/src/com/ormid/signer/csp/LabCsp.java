package com.ormid.signer.csp;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.ormid.signer.tokens.Tools;
import org.junit.jupiter.api.extension.AfterAllCallback;
import org.junit.jupiter.api.extension.ExtensionContext;

/**
 * The lab CSP's count of open provider, key, hash, store and certificate handles in this JVM. Registered on a
 * test class, it checks that none is left once the class's sessions are closed.
 */
final class LabCsp implements AfterAllCallback {
    static {
        System.load(Tools.labEnv("ORMID_CSP_HANDLES_PROBE"));
    }

    /** The count, -2 when the library has not loaded the CSP, -3 when the CSP keeps no count. */
    private static native int openHandles(String cspDir);

    static int openHandles() {
        return openHandles(Csp.dir().toString());
    }

    @Override
    public void afterAll(ExtensionContext context) {
        assertEquals(0, openHandles(), "CSP handles left open after " + context.getDisplayName());
    }
}
