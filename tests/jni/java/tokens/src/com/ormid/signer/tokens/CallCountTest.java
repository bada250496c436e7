package com.ormid.signer.tokens;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.entities.SignData;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Test;

/**
 * The PKCS#11 calls one CMS signature and one group of ten make on a Rutoken, counted from the lab's call log
 * and written to pkcs11-call-counts.txt in the report folder.
 */
class CallCountTest {
    /** Calls that change the token or its login: none belongs in signing. */
    private static final Set<String> NOT_FOR_SIGNING =
        Set.of("C_CreateObject", "C_DestroyObject", "C_SetAttributeValue", "C_GenerateKeyPair", "C_SetPIN",
               "C_InitPIN", "C_InitToken", "C_Initialize", "C_Finalize");

    @AfterAll
    static void sweep() {
        Token.sweep(Make.RUTOKEN);
    }

    /** Counts by "family function" of this process's calls made while the action ran. */
    private static Map<String, Integer> count(Runnable action) {
        int before = Lab.calls().size();
        action.run();
        List<String> lines = Lab.calls();
        String pid = Long.toString(ProcessHandle.current().pid());
        Map<String, Integer> counts = new TreeMap<>();
        for (String line : lines.subList(before, lines.size())) {
            String[] fields = line.split(" ");
            if (fields.length >= 3 && fields[0].equals(pid)) {
                counts.merge(fields[1] + " " + fields[2], 1, Integer::sum);
            }
        }
        return counts;
    }

    private static int calls(Map<String, Integer> counts, String function) {
        return counts.entrySet().stream().filter(e -> e.getKey().endsWith(" " + function)).mapToInt(Map.Entry::getValue)
            .sum();
    }

    private static String report(String title, Map<String, Integer> counts) {
        StringBuilder text = new StringBuilder(title + " (" + counts.values().stream().mapToInt(i -> i).sum()
                                               + " calls)\n");
        counts.forEach((call, n) -> text.append(String.format("  %-32s %d%n", call, n)));
        return text.toString();
    }

    @Test
    void signingLogsInOncePerRequestAndChangesNothing() throws IOException {
        try (Token token = Token.open(Make.RUTOKEN, false)) {
            token.createKey(Make.Kind.A);
            Session.importCertificate(token.s, TestCa.get().issue(Session.getSubjectPublicKeyInfo(token.s)).der(),
                                      Session.CERT_TYPE_USER);
            Session.cmsSign(token.s, Token.signData("warm-up".getBytes(UTF_8), true));

            Map<String, Integer> one = count(() -> Session.cmsSign(token.s, Token.signData(document(0), true)));
            SignData[] ten = new SignData[10];
            for (int i = 0; i < ten.length; ++i) {
                ten[i] = Token.signData(document(i), true);
            }
            Map<String, Integer> group = count(() -> Session.groupCmsSign(token.s, ten));

            String text = report("cmsSign, one document, Rutoken ECP 2.0, GOST R 34.10-2012 256", one) + "\n"
                          + report("groupCmsSign, ten documents, Rutoken ECP 2.0, GOST R 34.10-2012 256", group);
            System.out.println(text);
            Path reports = Path.of(System.getProperty("ormid.test.reports"));
            Files.writeString(reports.resolve("pkcs11-call-counts.txt"), text);

            for (Map<String, Integer> counts : List.of(one, group)) {
                assertEquals(1, calls(counts, "C_Login"), "one login per request\n" + text);
                for (String call : NOT_FOR_SIGNING) {
                    assertEquals(0, calls(counts, call), call + "\n" + text);
                }
                assertEquals(calls(counts, "C_OpenSession"), calls(counts, "C_CloseSession"), "no session left\n" + text);
            }
            assertEquals(1, calls(one, "C_SignInit"), text);
            assertEquals(10, calls(group, "C_SignInit"), text);
            assertTrue(calls(group, "C_Sign") <= 20, "at most a size query and the signature per document\n" + text);
        }
    }

    private static byte[] document(int i) {
        return ("Платёжное поручение №" + (100 + i) + " на сумму " + (1000 * (i + 1)) + "-00").getBytes(UTF_8);
    }
}
