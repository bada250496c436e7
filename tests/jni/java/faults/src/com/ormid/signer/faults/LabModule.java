package com.ormid.signer.faults;

import com.ormid.signer.tokens.Tools;
import java.nio.file.Path;
import java.util.List;

/**
 * A lab token module as the fault tests see it: its fault rules, its call log, and its count of open sessions
 * and session objects in this JVM (read through a small native probe).
 */
enum LabModule {
    RUTOKEN("rutoken", "librtpkcs11ecp.so"),
    ANGARA("angara", "libpkcs11-angara.so"),
    JACARTA("jacarta", "libjcPKCS11-2.so");

    static {
        System.load(Tools.labEnv("ORMID_LAB_MODULES_PROBE"));
    }

    /** The family name the call log and the fault rules use. */
    final String family;
    final String file;

    LabModule(String family, String file) {
        this.family = family;
        this.file = file;
    }

    private static native long[] openHandles(String dir, String file);

    private static native void closeAllSessions(String dir, String file);

    /** Sessions and session objects open in the module now: {sessions, objects}; -2 when it is not loaded. */
    long[] openHandles() {
        return openHandles(Tools.labEnv("ORMID_LAB_PKCS11_DIR"), file);
    }

    /** Closes what the module kept open when it was told to refuse a close. */
    void closeAllSessions() {
        closeAllSessions(Tools.labEnv("ORMID_LAB_PKCS11_DIR"), file);
    }

    /** Replaces the lab's PKCS#11 fault rules (no rule ends the faults); the counts start afresh. */
    static void faults(String... rules) {
        LabFiles.writeAtomically(Tools.labDir().resolve("faults"),
                                 String.join("\n", rules) + (rules.length > 0 ? "\n" : ""));
    }

    private static Path log() {
        return Tools.labDir().resolve("calls.log");
    }

    /** Size of the call log now: a mark to read the calls made after it. */
    static long callMark() {
        return LabFiles.mark(log());
    }

    /** The functions this JVM called in the module since the mark, in order. */
    List<String> callsSince(long mark) {
        return LabFiles.ownLinesSince(log(), mark).stream().filter(f -> f[1].equals(family)).map(f -> f[2]).toList();
    }
}
