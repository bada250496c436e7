package com.ormid.signer.demo;

import com.ormid.signer.EnvInfo;
import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.OsInfo;

/** Loads the signer library and walks through what it can do on this host. */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        System.out.println("library version: " + Signer.getVersion());

        System.out.println("computer name:   " + EnvInfo.getComputerName());
        System.out.println("user name:       " + EnvInfo.getUserName());
        String ip = EnvInfo.getLocalIp();
        System.out.println("local IPv4:      " + (ip.isEmpty() ? "(none)" : ip));
        System.out.println("MAC addresses:   " + String.join(", ", EnvInfo.getMacAdresses()));
        OsInfo os = EnvInfo.getOsInfo();
        System.out.println("OS:              " + os.type + " " + os.version + (os.isAdmin ? " (administrator)" : ""));

        String session = Signer.openSession(false);
        System.out.println("session opened:  " + session);
        System.out.println("key store id:    \"" + Session.getKeystoreId(session) + "\" (none selected)");
        Signer.closeSession(session);
        System.out.println("session closed");

        Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
        System.out.println("closed session, Russian: " + errorOf(() -> Session.getKeystoreId(session)));
        Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
        System.out.println("closed session, English: " + errorOf(() -> Session.getKeystoreId(session)));
        Signer.setLanguage(Signer.LANGUAGE_RUSSIAN);
    }

    private static String errorOf(Runnable call) {
        try {
            call.run();
            return "(no error)";
        } catch (RuntimeException e) {
            return e.getMessage();
        }
    }
}
