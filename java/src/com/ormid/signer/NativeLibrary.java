package com.ormid.signer;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Locale;

/**
 * Loads libORMIDSignerJni, once per class loader, before the first native call of
 * {@link Signer}, {@link Session}, {@link Utils} or {@link EnvInfo}.
 *
 * <p>The library is taken from the first of:
 * <ol>
 *   <li>the system property {@value #PATH_PROPERTY}: the path of the .so file; when
 *       it is set, this file is loaded or loading fails (there is no fallback);</li>
 *   <li>a folder of {@code java.library.path} that holds {@code libORMIDSignerJni.so};</li>
 *   <li>the copy this jar carries for Linux x86-64: it is extracted to a file
 *       readable by the current user only, in a new folder under
 *       {@code java.io.tmpdir}, checked against the size and SHA-256 recorded when
 *       the jar was built, loaded, and deleted when the virtual machine exits.</li>
 * </ol>
 */
public final class NativeLibrary {
    /** System property naming the library file to load; it takes precedence over every other place. */
    public static final String PATH_PROPERTY = "ormid.signer.library";
    /** Name of the library as {@link System#loadLibrary(String)} takes it. */
    public static final String NAME = "ORMIDSignerJni";

    private static final String PLATFORM = "linux-x86_64";
    private static final String RESOURCE = "/native/" + PLATFORM + "/" + System.mapLibraryName(NAME);
    private static final String DIGEST_RESOURCE = RESOURCE + ".sha256";

    private static boolean loaded;

    private NativeLibrary() {}

    /**
     * Loads the library unless this class loader already did.
     *
     * @throws UnsatisfiedLinkError when the file named by {@value #PATH_PROPERTY} cannot
     *         be loaded, when the platform is not Linux x86-64 and no library was given,
     *         or when the jar's copy is missing, fails its check or cannot be
     *         written or loaded; the message says which
     */
    public static synchronized void load() {
        if (loaded) {
            return;
        }
        String path = System.getProperty(PATH_PROPERTY);
        if (path != null && !path.isEmpty()) {
            System.load(new File(path).getAbsolutePath());
        } else if (onLibraryPath()) {
            System.loadLibrary(NAME);
        } else {
            loadFromJar();
        }
        loaded = true;
    }

    private static boolean onLibraryPath() {
        String folders = System.getProperty("java.library.path", "");
        String file = System.mapLibraryName(NAME);
        for (String folder : folders.split(File.pathSeparator)) {
            if (!folder.isEmpty() && new File(folder, file).isFile()) {
                return true;
            }
        }
        return false;
    }

    private static boolean supportedPlatform() {
        String os = System.getProperty("os.name", "");
        String arch = System.getProperty("os.arch", "");
        return os.equals("Linux") && (arch.equals("amd64") || arch.equals("x86_64"));
    }

    private static String howToGive() {
        return "give the library with -D" + PATH_PROPERTY + "=/path/to/" + System.mapLibraryName(NAME)
            + " or put its folder on java.library.path";
    }

    private static void loadFromJar() {
        if (!supportedPlatform()) {
            throw new UnsatisfiedLinkError("The jar carries " + System.mapLibraryName(NAME) + " for " + PLATFORM
                                           + " only, not for " + System.getProperty("os.name") + " "
                                           + System.getProperty("os.arch") + ": " + howToGive());
        }
        Path file = extract();
        try {
            System.load(file.toString());
        } catch (UnsatisfiedLinkError e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError(
                "Could not load the library extracted from the jar to " + file + " (java.io.tmpdir may forbid "
                + "running code): " + e.getMessage() + "; " + howToGive());
            error.initCause(e);
            throw error;
        }
    }

    // Writes the jar's copy to a new owner-only folder and checks it; the file
    // and the folder are removed when the virtual machine exits.
    private static Path extract() {
        Path folder = null;
        Path file = null;
        try {
            String[] expected = expectedDigest();
            FileAttribute<?> ownerOnly = PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"));
            if (!FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
                throw new IOException("the temporary folder cannot be made private");
            }
            folder = Files.createTempDirectory("ormid-signer-", ownerOnly);
            folder.toFile().deleteOnExit();
            file = folder.resolve(System.mapLibraryName(NAME));
            Files.createFile(file, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------")));
            file.toFile().deleteOnExit();
            MessageDigest sha256 = MessageDigest.getInstance("SHA-256");
            long size = 0;
            try (InputStream in = NativeLibrary.class.getResourceAsStream(RESOURCE);
                 OutputStream out = Files.newOutputStream(file)) {
                if (in == null) {
                    throw new IOException("the jar has no " + RESOURCE);
                }
                byte[] buffer = new byte[64 * 1024];
                for (int n; (n = in.read(buffer)) > 0;) {
                    sha256.update(buffer, 0, n);
                    out.write(buffer, 0, n);
                    size += n;
                }
            }
            String digest = hex(sha256.digest());
            if (!digest.equalsIgnoreCase(expected[0]) || size != Long.parseLong(expected[1])) {
                throw new IOException("the extracted library (" + size + " bytes, SHA-256 " + digest
                                      + ") differs from the one the jar was built with (" + expected[1]
                                      + " bytes, SHA-256 " + expected[0] + ")");
            }
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("r-x------"));
            return file;
        } catch (IOException | NoSuchAlgorithmException | RuntimeException e) {
            deleteQuietly(file);
            deleteQuietly(folder);
            UnsatisfiedLinkError error = new UnsatisfiedLinkError(
                "Could not extract " + System.mapLibraryName(NAME) + " from the jar: " + e.getMessage() + "; "
                + howToGive());
            error.initCause(e);
            throw error;
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) {
            text.append(Character.forDigit((b >> 4) & 0xf, 16)).append(Character.forDigit(b & 0xf, 16));
        }
        return text.toString();
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buffer = new byte[4096];
        for (int n; (n = in.read(buffer)) > 0;) {
            out.write(buffer, 0, n);
        }
        return out.toByteArray();
    }

    // The size and SHA-256 recorded at build time: "<hex digest> <size>".
    private static String[] expectedDigest() throws IOException {
        try (InputStream in = NativeLibrary.class.getResourceAsStream(DIGEST_RESOURCE)) {
            if (in == null) {
                throw new IOException("the jar has no " + DIGEST_RESOURCE);
            }
            String[] fields = new String(readAll(in), StandardCharsets.US_ASCII).trim().split("\\s+");
            if (fields.length != 2 || !fields[0].toLowerCase(Locale.ROOT).matches("[0-9a-f]{64}")
                || !fields[1].matches("[0-9]{1,18}")) {
                throw new IOException("the digest record " + DIGEST_RESOURCE + " is malformed");
            }
            return fields;
        }
    }

    private static void deleteQuietly(Path path) {
        if (path != null) {
            try {
                Files.deleteIfExists(path);
            } catch (IOException ignored) {
                // left for deleteOnExit
            }
        }
    }
}
