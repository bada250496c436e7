package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeystoreInfo;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** What a command works with: its command line and one open session of the library. */
public final class Context {
    /** Key store kinds by the names {@code --type} takes. */
    public static final Map<String, Integer> STORE_TYPES = Map.of("token", Session.KEYSTORE_HARDWARE_DEVICE, "csp",
                                                                  Session.KEYSTORE_CRYPTOPRO_CONTAINER, "vel",
                                                                  Session.KEYSTORE_VEL_TOKEN);

    /** The command line. */
    public final Options options;
    /** The session identifier every {@link Session} call takes. */
    public final String session;

    /**
     * A context.
     *
     * @param options the command line
     * @param session an open session, closed by the caller
     */
    public Context(Options options, String session) {
        this.options = options;
        this.session = session;
    }

    /**
     * The key store kind {@code --type} names.
     *
     * @param fallback the kind when the option is not given
     * @return {@link Session#KEYSTORE_HARDWARE_DEVICE}, {@link Session#KEYSTORE_CRYPTOPRO_CONTAINER} or
     *         {@link Session#KEYSTORE_VEL_TOKEN}
     * @throws CliException {@link ExitCode#USAGE} for another name
     */
    public int storeType(String fallback) {
        String name = options.get("type", fallback);
        Integer type = STORE_TYPES.get(name);
        if (type == null) {
            throw CliException.usage("--type is token, csp or vel, not " + name);
        }
        return type;
    }

    /**
     * Selects the key store of {@code --store}, or the first one of the kind (and of the crypto type when given),
     * and gives its PIN when one is at hand or the store needs one.
     *
     * @param type the key store kind
     * @param crypto the crypto type a store found without {@code --store} must have, or null for any
     * @return the selected store
     * @throws CliException {@link ExitCode#DEVICE_NOT_FOUND} when no store of the kind (and crypto type) is present
     * @throws RuntimeException the library's errors (device missing, wrong PIN, ...)
     */
    public KeystoreInfo openStore(int type, String crypto) {
        String id = options.get("store");
        KeystoreInfo store = null;
        if (id != null) {
            store = Session.setKeystore(session, type, id, false);
        } else {
            for (String candidate : Session.getKeyStoreList(session, type)) {
                KeystoreInfo info = Session.setKeystore(session, type, candidate, false);
                if (crypto == null || crypto.equals(info.cryptoType)) {
                    store = info;
                    break;
                }
            }
            if (store == null) {
                throw new CliException(ExitCode.DEVICE_NOT_FOUND,
                                       "no key store" + (crypto == null ? "" : " of crypto type " + crypto) + " found");
            }
        }
        if (Secrets.given(Secrets.PIN_VARIABLE) || (store.loginRequired && !store.isUserPinDefault)) {
            Secrets.withPin(store.id, pin -> givePin(pin));
        }
        return store;
    }

    /**
     * Gives the store's PIN. A store that took itself to keep its factory PIN answers a refused PIN with "PIN
     * required" (the refusal spent a try all the same): the PIN given was wrong, so that is {@link
     * ExitCode#WRONG_PIN} with the library's text.
     */
    private void givePin(String pin) {
        try {
            Session.setPin(session, pin);
        } catch (RuntimeException e) {
            if (ExitCode.of(e) == ExitCode.PIN_REQUIRED) {
                throw new CliException(ExitCode.WRONG_PIN, e.getMessage());
            }
            throw e;
        }
    }

    /**
     * Selects the key of {@code --key} in the selected store, or its only key, and gives its password when the key
     * has one that is not yet given.
     *
     * @return the selected key
     * @throws CliException {@link ExitCode#USAGE} when no alias is given and the store does not hold exactly one key
     * @throws RuntimeException the library's errors (key not found, wrong password, ...)
     */
    public KeyInfo openKey() {
        String alias = options.get("key");
        if (alias == null) {
            KeyInfo[] keys = Session.listKeys(session);
            if (keys.length != 1) {
                List<String> aliases = new ArrayList<>();
                for (KeyInfo key : keys) {
                    aliases.add(key.alias);
                }
                throw CliException.usage(keys.length == 0 ? "the key store holds no key"
                                                          : "choose the key with --key: " + String.join(", ", aliases));
            }
            alias = keys[0].alias;
        }
        KeyInfo key = Session.setKey(session, alias);
        if (key.hasPassword && key.loginRequired) {
            Secrets.withKeyPassword(alias, password -> Session.setKeyPassword(session, password));
            key = Session.getKeyInfo(session);
        }
        return key;
    }

    /**
     * Reads a whole file.
     *
     * @param name the file name as given
     * @return its bytes
     * @throws CliException {@link ExitCode#FILE_ERROR} when it cannot be read
     */
    public static byte[] read(String name) {
        try {
            return Files.readAllBytes(Path.of(name));
        } catch (IOException | RuntimeException e) {
            throw new CliException(ExitCode.FILE_ERROR, "cannot read " + name + ": " + describe(e));
        }
    }

    /**
     * Writes a whole file, replacing it.
     *
     * @param name the file name
     * @param bytes its new contents
     * @throws CliException {@link ExitCode#FILE_ERROR} when it cannot be written
     */
    public static void write(String name, byte[] bytes) {
        try {
            Files.write(Path.of(name), bytes);
        } catch (IOException | RuntimeException e) {
            throw new CliException(ExitCode.FILE_ERROR, "cannot write " + name + ": " + describe(e));
        }
    }

    private static String describe(Exception e) {
        return e instanceof java.nio.file.NoSuchFileException ? "no such file" : e.toString();
    }
}
