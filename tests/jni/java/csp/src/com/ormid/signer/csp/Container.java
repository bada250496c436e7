package com.ormid.signer.csp;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.KeyInfo;

/** A session working on CSP containers; closing it closes the session. */
final class Container implements AutoCloseable {
    /** Password given to the keys the tests create. */
    static final String PASSWORD = "Пароль-1";

    final String s;

    private Container(String s) {
        this.s = s;
    }

    static Container session(boolean legacyMode) {
        return new Container(Signer.openSession(legacyMode));
    }

    /** A session with the container of the given name or store id selected. */
    static Container open(String container, boolean legacyMode) {
        Container c = session(legacyMode);
        Session.setKeystore(c.s, Csp.STORE, container, false);
        return c;
    }

    /** A session with a key of the kind created in a new container named `name`; the key is selected. */
    static Container create(String name, Kind kind) {
        Container c = session(false);
        c.createInNew(name, kind);
        return c;
    }

    /** Selects a new container and creates a key of the kind in it; returns the selected key. */
    KeyInfo createInNew(String name, Kind kind) {
        Session.setKeystore(s, Csp.STORE, "", true);
        Session.createNewKey(s, name, 7, kind.signAlgorithm, kind.paramSet, PASSWORD);
        return Session.getKeyInfo(s);
    }

    @Override
    public void close() {
        Signer.closeSession(s);
    }
}
