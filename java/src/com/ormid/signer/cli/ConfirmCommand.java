package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeystoreInfo;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * {@code confirm}: the confirmation token signs a digest (given in hexadecimal with {@code --digest}, or the digest
 * of a file) together with a text the customer reads, into a detached CMS message made with the device's own key.
 */
public final class ConfirmCommand implements Command {
    /** The command. */
    public ConfirmCommand() {}

    @Override
    public Result run(Context context) {
        Options options = context.options;
        String hex = options.get("digest");
        if ((hex == null) == options.files().isEmpty()) {
            throw CliException.usage("confirm takes either a file or --digest HEX");
        }
        String file = hex == null ? options.singleFile("file") : null;
        byte[] digest;
        try {
            digest = hex != null ? Der.unhex(hex) : DigestCommand.digest(context, file);
        } catch (IllegalArgumentException e) {
            throw CliException.usage("--digest is hexadecimal text");
        }
        String text = options.get("text", file != null ? "Подтверждаю документ " + file : "Подтверждаю " + hex);
        KeystoreInfo device = context.openStore(Session.KEYSTORE_VEL_TOKEN, null);
        byte[] confirmation = Session.confirmByOrmidVeltoken(context.session, digest, text);

        Map<String, Object> report = new LinkedHashMap<>();
        report.put("device", device.id);
        report.put("digest", Der.hex(digest));
        report.put("text", text);
        String out = options.get("out", file != null ? file + ".confirm.p7s" : null);
        if (out != null) {
            Context.write(out, confirmation);
            report.put("confirmation", out);
        } else {
            report.put("confirmation", Base64.getEncoder().encodeToString(confirmation));
        }
        return Result.ok(report);
    }
}
