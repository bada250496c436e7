package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.CryptoTypeInfo;
import com.ormid.signer.entities.KeystoreInfo;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * {@code devices}: what the machine offers. Each part is asked on its own, so a part that fails (no CSP installed,
 * a token that cannot be read) shows its error and the others still show.
 */
public final class DevicesCommand implements Command {
    /** Where the library looks for the CSP when the environment names no other folder. */
    private static final String DEFAULT_CSP_DIR = "/opt/cprocsp/lib/";
    /** Where the library looks for the JaCarta module when no folder is set. */
    private static final String DEFAULT_JACARTA_DIR = "/usr/lib";

    /** The folder {@code --module-dir} set, or null. */
    private final String moduleDir;

    /**
     * The command.
     *
     * @param moduleDir the token module folder the tool set for the library, or null when none was set
     */
    public DevicesCommand(String moduleDir) {
        this.moduleDir = moduleDir;
    }

    @Override
    public Result run(Context context) {
        String s = context.session;
        Map<String, Object> report = new LinkedHashMap<>();
        report.put("library", Signer.getVersion());
        report.put("crypto", part(() -> cryptoMeans(s)));
        report.put("csp readers", part(() -> List.of(Session.getAvailableCspReaders(s))));
        Map<String, Object> stores = new LinkedHashMap<>();
        for (Map.Entry<String, Integer> type : new TreeMap<>(Context.STORE_TYPES).entrySet()) {
            stores.put(type.getKey(), part(() -> stores(s, type.getValue())));
        }
        report.put("key stores", stores);
        report.put("module folders", moduleFolders());
        return Result.ok(report);
    }

    private static List<Object> cryptoMeans(String s) {
        List<Object> means = new ArrayList<>();
        for (String id : Session.getAvailableCrypto(s, null)) {
            Map<String, Object> entry = new LinkedHashMap<>();
            entry.put("id", id);
            entry.put("version", part(() -> Session.getCryptoTypeVersion(s, id)));
            Object info = part(() -> Session.getCryptoTypeInfo(s, id));
            if (info instanceof CryptoTypeInfo) {
                CryptoTypeInfo names = (CryptoTypeInfo) info;
                entry.put("name", names.fullName);
                entry.put("short name", names.shortName);
                entry.put("chip type", names.chipType);
            } else {
                entry.put("info", info);
            }
            means.add(entry);
        }
        return means;
    }

    private static List<Object> stores(String s, int type) {
        List<Object> stores = new ArrayList<>();
        for (String id : Session.getKeyStoreList(s, type)) {
            Object info = part(() -> Session.setKeystore(s, type, id, false));
            if (info instanceof KeystoreInfo) {
                KeystoreInfo store = (KeystoreInfo) info;
                Map<String, Object> entry = new LinkedHashMap<>();
                entry.put("id", store.id);
                entry.put("crypto type", store.cryptoType);
                entry.put("crypto name", store.cryptoName);
                entry.put("chip type", store.chipType);
                entry.put("short name", store.shortName);
                entry.put("user PIN", store.isUserPinLocked ? "locked" : store.isUserPinDefault ? "default" : "set");
                entry.put("admin PIN", store.isAdminPinLocked ? "locked" : "usable");
                entry.put("login required", store.loginRequired);
                stores.add(entry);
            } else {
                stores.add(Map.of("id", id, "error", ((Map<?, ?>) info).get("error")));
            }
        }
        return stores;
    }

    private Map<String, Object> moduleFolders() {
        Map<String, Object> folders = new LinkedHashMap<>();
        String tokens = moduleDir != null ? moduleDir : "(not set: the system's library search path)";
        folders.put("Rutoken", tokens);
        folders.put("MS_KEY K", tokens);
        folders.put("JaCarta", moduleDir != null ? moduleDir : DEFAULT_JACARTA_DIR);
        String csp = System.getenv("ORMID_CSP_DIR");
        folders.put("CSP", csp != null && !csp.isEmpty() ? csp : DEFAULT_CSP_DIR);
        return folders;
    }

    /** The value a part gives, or its failure as {"error": text}. */
    private static Object part(java.util.function.Supplier<Object> part) {
        try {
            return part.get();
        } catch (RuntimeException e) {
            return Map.of("error", String.valueOf(e.getMessage()));
        }
    }
}
