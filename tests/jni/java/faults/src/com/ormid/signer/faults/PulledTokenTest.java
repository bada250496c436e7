package com.ormid.signer.faults;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.entities.SignData;
import com.ormid.signer.faults.TokenFaultSweepTest.Device;
import com.ormid.signer.tokens.Tools;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** A Rutoken pulled out in the middle of a group signature of 100 documents, and put back. */
class PulledTokenTest {
    private static final String ALIAS = "pulled-sign";
    private static final String PASSWORD = "Пароль-1";

    @AfterEach
    void putBack() {
        LabModule.faults();
        Device.RUTOKEN.set("present=1");
    }

    private static SignData[] documents() {
        SignData[] documents = new SignData[100];
        for (int i = 0; i < documents.length; ++i) {
            documents[i] = Tools.signData(("Платёжное поручение № " + (1000 + i)).getBytes(UTF_8), i % 2 == 0);
        }
        return documents;
    }

    @Test
    void theGroupEndsInAClearErrorAndSigningWorksOnceTheTokenIsBack() {
        Device device = Device.RUTOKEN;
        device.set("user-pin=" + device.pin, "present=1");
        String s = device.open();
        try {
            if (!Arrays.stream(Session.listKeys(s)).anyMatch(key -> key.alias.equals(ALIAS))) {
                Session.createNewKey(s, ALIAS, 7, "1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", PASSWORD);
            }
            Session.setKey(s, ALIAS);
            Session.setKeyPassword(s, PASSWORD);
            long[] handles = device.module.openHandles();

            LabModule.faults("C_Sign nth 40 CKR_DEVICE_REMOVED module=rutoken remove=" + device.labSerial);
            long mark = LabModule.callMark();
            String error = Catalogue.errorOf(() -> Session.groupCmsSign(s, documents()));
            List<String> calls = device.module.callsSince(mark);
            assertEquals(40, calls.stream().filter(c -> c.equals("C_Sign")).count(),
                         "no signature is tried once the token is gone: " + error);
            assertArrayEquals(handles, device.module.openHandles(), "nothing left open");

            // Still out: a clear error again, not a hang or a stale session.
            Catalogue.errorOf(() -> Session.cmsSign(s, documents()[0]));

            LabModule.faults();
            device.set("present=1");
            byte[][] signed = Session.groupCmsSign(s, documents());
            assertEquals(100, signed.length);
            assertTrue(Arrays.stream(signed).allMatch(cms -> cms != null && cms.length > 0));
            assertArrayEquals(handles, device.module.openHandles());
        } finally {
            Signer.closeSession(s);
        }
    }
}
