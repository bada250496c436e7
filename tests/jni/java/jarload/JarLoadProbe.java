import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.Utils;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermission;
import java.util.List;
import java.util.Set;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Runs in a fresh virtual machine whose class path is ormid-signer.jar alone
 * (started in source-file mode, Java 11 and later) and checks where the library came from.
 * usage: JarLoadProbe from-jar|library-path|refused TEMP_DIR [EXPECTED]
 *   from-jar      the library was extracted from the jar into TEMP_DIR, privately
 *   library-path  the library EXPECTED (a file on java.library.path) was loaded, nothing extracted
 *   refused       loading fails with an UnsatisfiedLinkError naming each word of EXPECTED
 *                 (separated by '|'), and nothing is left in TEMP_DIR
 */
public final class JarLoadProbe {
    public static void main(String[] args) throws Exception {
        Path temp = Path.of(args[1]);
        switch (args[0]) {
            case "from-jar": {
                callExports();
                List<Path> folders = extractedFolders(temp);
                check(folders.size() == 1, "one extraction folder expected, found " + folders);
                Path library = folders.get(0).resolve("libORMIDSignerJni.so");
                check(Files.isRegularFile(library), "no extracted library in " + folders.get(0));
                checkOwnerOnly(folders.get(0));
                checkOwnerOnly(library);
                checkMapped(library);
                break;
            }
            case "library-path": {
                callExports();
                check(extractedFolders(temp).isEmpty(), "a library given on java.library.path was extracted again");
                checkMapped(Path.of(args[2]));
                break;
            }
            case "refused": {
                try {
                    Signer.getVersion();
                    throw new AssertionError("the library loaded");
                } catch (UnsatisfiedLinkError e) {
                    for (String word : args[2].split("\\|")) {
                        check(e.getMessage().contains(word), "'" + word + "' missing from: " + e.getMessage());
                    }
                }
                check(extractedFolders(temp).isEmpty(), "a refused load left files in " + temp);
                break;
            }
            default:
                throw new IllegalArgumentException(args[0]);
        }
        System.out.println("ok " + args[0]);
    }

    // A few exports, a result and an error each way through the native frame.
    private static void callExports() {
        check("1.9".equals(Signer.getVersion()), "version");
        byte[] random = Utils.getRandomBytes(32);
        check(random.length == 32, "random bytes");
        Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
        String s = Signer.openSession(false);
        check(s.matches("[0-9A-F]{32}"), "session id " + s);
        check("Hash-function context is not initialized".equals(errorOf(() -> Session.finalizeDigest(s))),
              "digest before init");
        Signer.closeSession(s);
        check("Session is not recognized or already closed".equals(errorOf(() -> Signer.closeSession(s))),
              "closed session");
        check(System.getProperty("user.name").equals(com.ormid.signer.EnvInfo.getUserName()), "user name");
    }

    private static String errorOf(Runnable call) {
        try {
            call.run();
        } catch (RuntimeException e) {
            return e.getMessage();
        }
        throw new AssertionError("no error raised");
    }

    private static List<Path> extractedFolders(Path temp) throws IOException {
        try (Stream<Path> entries = Files.list(temp)) {
            return entries.filter(p -> p.getFileName().toString().startsWith("ormid-signer-")).collect(Collectors.toList());
        }
    }

    private static void checkOwnerOnly(Path path) throws IOException {
        Set<PosixFilePermission> others = Files.getPosixFilePermissions(path).stream()
                                              .filter(p -> !p.name().startsWith("OWNER_"))
                                              .collect(Collectors.toSet());
        check(others.isEmpty(), path + " is open to " + others);
    }

    private static void checkMapped(Path library) throws IOException {
        String maps = Files.readString(Path.of("/proc/self/maps"));
        check(maps.contains(library.toRealPath().toString()), library + " is not the library mapped");
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            throw new AssertionError(what);
        }
    }
}
