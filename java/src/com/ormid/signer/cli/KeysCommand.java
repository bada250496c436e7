package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeystoreInfo;
import java.io.ByteArrayInputStream;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** {@code keys}: the keys of one key store, with the subject of each key's certificate where the store has one. */
public final class KeysCommand implements Command {
    /** The command. */
    public KeysCommand() {}

    @Override
    public Result run(Context context) {
        String s = context.session;
        KeystoreInfo store = context.openStore(context.storeType("token"), context.options.get("crypto"));
        KeyInfo[] keys = Session.listKeys(s);
        Map<String, String> subjects = subjectsByAlias(s);
        List<Object> list = new ArrayList<>();
        for (KeyInfo key : keys) {
            Map<String, Object> entry = new LinkedHashMap<>();
            entry.put("alias", key.alias);
            entry.put("id", key.id);
            entry.put("algorithm", key.signAlgorithmName);
            entry.put("algorithm oid", key.signAlgorithmOid);
            entry.put("parameters", key.algParamsName);
            entry.put("crypto type", key.cryptoType);
            entry.put("password", key.hasPassword);
            entry.put("certificate subject", subjects.get(key.alias));
            list.add(entry);
        }
        Map<String, Object> report = new LinkedHashMap<>();
        report.put("store", store.id);
        report.put("keys", list);
        return Result.ok(report);
    }

    /** The subjects of the store's user certificates by the alias of the key each belongs to. */
    private static Map<String, String> subjectsByAlias(String s) {
        Map<String, String> subjects = new HashMap<>();
        CertInfo[] certificates;
        try {
            certificates = Session.listCertificates(s, Session.CERT_TYPE_USER);
        } catch (RuntimeException e) {
            return subjects; // a store without certificate support lists its keys all the same
        }
        for (CertInfo certificate : certificates) {
            try {
                subjects.put(Session.setKeyByCertificate(s, certificate.id).alias, subject(certificate));
            } catch (RuntimeException e) {
                // a certificate whose key is not in the store belongs to no listed key
            }
        }
        return subjects;
    }

    /** The subject name in the form {@code verify} shows it, else as the library gives it. */
    private static String subject(CertInfo certificate) {
        try {
            return ((X509Certificate) CertificateFactory.getInstance("X.509")
                        .generateCertificate(new ByteArrayInputStream(certificate.x509)))
                .getSubjectX500Principal()
                .toString();
        } catch (CertificateException | RuntimeException e) {
            return certificate.properties == null ? null : certificate.properties.subject;
        }
    }
}
