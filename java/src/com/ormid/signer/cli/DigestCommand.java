package com.ormid.signer.cli;

import com.ormid.signer.Session;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;

/** {@code digest}: the hash of a file computed by the library, in hexadecimal. */
public final class DigestCommand implements Command {
    /** Digest algorithm OIDs by the names {@code --alg} takes. */
    public static final Map<String, String> ALGORITHMS = Map.of("gost2012-256", "1.2.643.7.1.1.2.2", "gost2012-512",
                                                                "1.2.643.7.1.1.2.3", "gost94", "1.2.643.2.2.9",
                                                                "sha256", "2.16.840.1.101.3.4.2.1");
    /** The algorithm when {@code --alg} is not given. */
    public static final String DEFAULT_ALGORITHM = "gost2012-256";
    private static final int CHUNK = 1 << 20;

    /** The command. */
    public DigestCommand() {}

    @Override
    public Result run(Context context) {
        String file = context.options.singleFile("file");
        String algorithm = context.options.get("alg", DEFAULT_ALGORITHM);
        Map<String, Object> report = new LinkedHashMap<>();
        report.put("file", file);
        report.put("algorithm", algorithm);
        report.put("digest", Der.hex(digest(context, file)));
        return Result.ok(report);
    }

    /**
     * Hashes a file with the session's digest, the algorithm chosen by {@code --alg}, the crypto type by
     * {@code --crypto} (default: the software one).
     *
     * @param context the command line and the session
     * @param file the file name
     * @return the digest in the byte order the algorithm's standard gives
     * @throws CliException {@link ExitCode#USAGE} for an unknown algorithm, {@link ExitCode#FILE_ERROR} for an
     *                      unreadable file
     */
    public static byte[] digest(Context context, String file) {
        String name = context.options.get("alg", DEFAULT_ALGORITHM);
        String oid = ALGORITHMS.get(name);
        if (oid == null) {
            throw CliException.usage("--alg is one of " + String.join(", ", ALGORITHMS.keySet()) + ", not " + name);
        }
        Session.initDigest(context.session, context.options.get("crypto", VerifyCommand.SOFTWARE_CRYPTO), oid);
        try (InputStream in = Files.newInputStream(Path.of(file))) {
            byte[] buffer = new byte[CHUNK];
            for (int n; (n = in.readNBytes(buffer, 0, CHUNK)) > 0;) {
                Session.updateDigest(context.session, n == CHUNK ? buffer : Arrays.copyOf(buffer, n));
            }
        } catch (IOException e) {
            throw new CliException(ExitCode.FILE_ERROR, "cannot read " + file + ": " + e);
        }
        return Session.finalizeDigest(context.session);
    }
}
