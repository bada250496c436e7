package com.ormid.signer.tokens;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.SignData;

/** A session on one lab token with its PIN given; closing it closes the session. */
final class Token implements AutoCloseable {
    /** Password of every key the tests make (Cyrillic: the makes encode it differently). */
    static final String PASSWORD = "Пароль-1";
    /** Aliases of test keys start with it, so a sweep finds them. */
    static final String PREFIX = "e2e-";

    final Make make;
    final String s;

    private Token(Make make, String s) {
        this.make = make;
        this.s = s;
    }

    static Token open(Make make, boolean kalvaMode) {
        return open(make, make.storeId, kalvaMode);
    }

    static Token open(Make make, String storeId, boolean kalvaMode) {
        return new Token(make, Lab.tokenSession(storeId, make.pin, kalvaMode));
    }

    static String newAlias() {
        return PREFIX + Tools.unique() + "-" + Long.toHexString(System.nanoTime() & 0xFFFFF);
    }

    /** Creates a key of the kind with {@link #PASSWORD} and selects it. */
    KeyInfo createKey(Make.Kind kind) {
        return createKey(newAlias(), kind);
    }

    KeyInfo createKey(String alias, Make.Kind kind) {
        Session.createNewKey(s, alias, 7, kind.signAlgorithm(), kind.paramSet, PASSWORD);
        return Session.setKey(s, alias);
    }

    /** Selects a key made in another session and gives its password. */
    KeyInfo useKey(String alias) {
        KeyInfo key = Session.setKey(s, alias);
        Session.setKeyPassword(s, PASSWORD);
        return key;
    }

    static SignData signData(byte[] data, boolean attached) {
        return Tools.signData(data, attached);
    }

    @Override
    public void close() {
        Signer.closeSession(s);
    }

    /** Deletes every test key still on the token (best effort: a key whose password changed stays). */
    static void sweep(Make make, String storeId) {
        try (Token token = open(make, storeId, false)) {
            for (KeyInfo key : Session.listKeys(token.s)) {
                if (!key.alias.startsWith(PREFIX)) {
                    continue;
                }
                try {
                    token.useKey(key.alias);
                    Session.deleteKey(token.s);
                } catch (RuntimeException e) {
                    System.out.println("sweep: " + key.alias + " stays: " + e.getMessage());
                }
            }
        }
    }

    static void sweep(Make make) {
        sweep(make, make.storeId);
    }
}
