package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import java.io.ByteArrayInputStream;
import java.math.BigInteger;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * {@code verify}: checks a CMS signature with the library. The signer's key comes from the certificate the message
 * carries, from {@code --cert}, or from a key of a store ({@code --store}/{@code --key}). A detached signature is
 * checked against {@code --content}, or against the file the signature is named after ({@code x.p7s}: {@code x}).
 */
public final class VerifyCommand implements Command {
    /** Crypto type whose verifier works in software, with no device selected. */
    public static final String SOFTWARE_CRYPTO = "angara";

    /** The command. */
    public VerifyCommand() {}

    @Override
    public Result run(Context context) {
        Options options = context.options;
        String file = options.singleFile("signature file");
        byte[] cms = Context.read(file);
        CmsMessage message = CmsMessage.parse(cms);
        byte[] content = content(options, file, message);

        String cryptoType = options.get("crypto", SOFTWARE_CRYPTO);
        X509Certificate certificate = null;
        CmsMessage.GostKey key;
        if (options.get("store") != null || options.get("key") != null) {
            context.openStore(context.storeType("token"), null);
            KeyInfo keyInfo = context.openKey();
            key = new CmsMessage.GostKey(Session.getPublicKey(context.session), keyInfo.algParamsOid,
                                         keyInfo.signAlgorithmOid);
            cryptoType = options.get("crypto", keyInfo.cryptoType);
        } else {
            certificate = options.get("cert") != null ? certificateFile(options.get("cert")) : signerCertificate(message);
            key = CmsMessage.gostKey(certificate);
        }
        boolean valid = Session.verifySign(context.session, cryptoType, cms, content, key.octets(), key.algorithm(),
                                           key.paramSet());

        Map<String, Object> report = new LinkedHashMap<>();
        report.put("file", file);
        report.put("form", message.attached ? "attached" : "detached");
        report.put("valid", valid);
        report.put("signers", signers(message, certificate));
        return new Result(report, valid ? ExitCode.OK : ExitCode.INVALID_SIGNATURE);
    }

    private static byte[] content(Options options, String file, CmsMessage message) {
        String named = options.get("content");
        if (named != null) {
            return Context.read(named);
        }
        if (message.attached) {
            return null;
        }
        if (file.endsWith(".p7s") && Files.isRegularFile(Path.of(file.substring(0, file.length() - 4)))) {
            return Context.read(file.substring(0, file.length() - 4));
        }
        throw CliException.usage("the signature is detached: name the signed file with --content");
    }

    private static X509Certificate signerCertificate(CmsMessage message) {
        for (BigInteger serial : message.signerSerials) {
            X509Certificate certificate = message.certificateOf(serial);
            if (certificate != null) {
                return certificate;
            }
        }
        throw CliException.usage("the message carries no signer certificate: give --cert FILE or --store and --key");
    }

    private static X509Certificate certificateFile(String name) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(Context.read(name)));
        } catch (CertificateException | ClassCastException e) {
            throw new CliException(ExitCode.MALFORMED_INPUT, name + " is not a certificate (DER or PEM)");
        }
    }

    private static List<Object> signers(CmsMessage message, X509Certificate given) {
        List<Object> signers = new ArrayList<>();
        for (BigInteger serial : message.signerSerials) {
            X509Certificate certificate = message.certificateOf(serial);
            if (certificate == null && given != null && given.getSerialNumber().equals(serial)) {
                certificate = given;
            }
            Map<String, Object> signer = new LinkedHashMap<>();
            signer.put("serial", serial == null ? null : serial.toString(16).toUpperCase());
            signer.put("subject", certificate == null ? null : certificate.getSubjectX500Principal().toString());
            signers.add(signer);
        }
        return signers;
    }
}
