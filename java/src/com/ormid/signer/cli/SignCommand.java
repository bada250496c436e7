package com.ormid.signer.cli;

import com.ormid.signer.Session;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.SignData;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * {@code sign}: CMS signatures of one or more files with one key, written next to each file as
 * {@code <file>.p7s}. Several files are signed in one group call, so the device asks for its PIN once.
 */
public final class SignCommand implements Command {
    /** The command. */
    public SignCommand() {}

    @Override
    public Result run(Context context) {
        List<String> files = context.options.files();
        if (files.isEmpty()) {
            throw CliException.usage("sign needs at least one file");
        }
        boolean attached = !context.options.has("detached");
        SignData[] items = new SignData[files.size()];
        for (int i = 0; i < items.length; ++i) {
            items[i] = new SignData(Context.read(files.get(i)));
            items[i].attached = attached;
        }
        KeystoreInfo store = context.openStore(context.storeType("token"), context.options.get("crypto"));
        KeyInfo key = context.openKey();
        byte[][] signatures = items.length == 1 ? new byte[][] {Session.cmsSign(context.session, items[0])}
                                                : Session.groupCmsSign(context.session, items);
        List<Object> written = new ArrayList<>();
        for (int i = 0; i < signatures.length; ++i) {
            String output = files.get(i) + ".p7s";
            Context.write(output, signatures[i]);
            written.add(output);
        }
        Map<String, Object> report = new LinkedHashMap<>();
        report.put("store", store.id);
        report.put("key", key.alias);
        report.put("form", attached ? "attached" : "detached");
        report.put("signatures", written);
        return Result.ok(report);
    }
}
