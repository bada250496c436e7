import com.ormid.signer.Session;
import com.ormid.signer.Signer;

/**
 * Runs in a fresh virtual machine (source-file mode) on the API classes with or without SignerException and
 * checks what a failure reaches Java as: the text of "Session is not recognized or already closed" either way,
 * as a SignerException when the class is there and as a plain RuntimeException when it is not.
 * usage: OlderJarProbe signer-exception|runtime-exception
 */
public final class OlderJarProbe {
    public static void main(String[] args) {
        Signer.setLanguage(Signer.LANGUAGE_ENGLISH);
        RuntimeException raised = null;
        try {
            Session.getKeystoreId("00000000000000000000000000000000");
        } catch (RuntimeException e) {
            raised = e;
        }
        String expected = args[0].equals("signer-exception") ? "com.ormid.signer.SignerException"
                                                              : "java.lang.RuntimeException";
        if (raised == null || !raised.getClass().getName().equals(expected)
            || !"Session is not recognized or already closed".equals(raised.getMessage())) {
            System.out.println("FAIL expected " + expected + " with the catalogue text, got " + raised);
            System.exit(1);
        }
        System.out.println("ok " + raised);
    }
}
