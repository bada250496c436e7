// Verifies CMS SignedData messages with Bouncy Castle.
// Usage: BcCmsVerify (<expected> <message.der> <detached-content|->)...
// where <expected> is "accept" or "reject". Prints one line per message and
// exits 0 when every message met its expectation, 1 when one did not, 2 when
// the verifier itself failed.
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.Security;
import java.util.Collection;

import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cms.CMSException;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.bouncycastle.util.Store;

public final class BcCmsVerify {
    public static void main(String[] args) {
        try {
            Security.addProvider(new BouncyCastleProvider());
            boolean allMet = true;
            for (int i = 0; i + 2 < args.length; i += 3) {
                boolean expected = args[i].equals("accept");
                String detached = args[i + 2].equals("-") ? null : args[i + 2];
                boolean accepted = verify(args[i + 1], detached);
                System.out.println((accepted == expected ? "as expected: " : "UNEXPECTED: ")
                        + (accepted ? "accepted " : "rejected ") + args[i + 1]);
                allMet &= accepted == expected;
            }
            System.exit(allMet ? 0 : 1);
        } catch (Exception e) {
            System.out.println("error: " + e);
            System.exit(2);
        }
    }

    private static boolean verify(String messagePath, String contentPath) throws Exception {
        byte[] message = Files.readAllBytes(Paths.get(messagePath));
        CMSSignedData signedData = contentPath != null
                ? new CMSSignedData(new CMSProcessableByteArray(Files.readAllBytes(Paths.get(contentPath))), message)
                : new CMSSignedData(message);
        Store<X509CertificateHolder> certificates = signedData.getCertificates();
        int verified = 0;
        for (SignerInformation signer : signedData.getSignerInfos().getSigners()) {
            @SuppressWarnings("unchecked")
            Collection<X509CertificateHolder> matches = certificates.getMatches(signer.getSID());
            if (matches.isEmpty()) {
                return false;
            }
            try {
                if (!signer.verify(new JcaSimpleSignerInfoVerifierBuilder().setProvider("BC")
                        .build(matches.iterator().next()))) {
                    return false;
                }
            } catch (CMSException e) {
                return false;
            }
            ++verified;
        }
        return verified > 0;
    }
}
