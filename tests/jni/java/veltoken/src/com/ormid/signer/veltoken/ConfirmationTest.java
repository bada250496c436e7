package com.ormid.signer.veltoken;

import static com.ormid.signer.tokens.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Texts;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** Payments confirmed on the device: the message, its signature, and the commands the device received. */
class ConfirmationTest {
    @AfterEach
    void reset() {
        VelLab.reset();
    }

    private static boolean contains(byte[] data, byte[] part)
    {
        for (int i = 0; i + part.length <= data.length; i++) {
            int n = 0;
            while (n < part.length && data[i + n] == part[n]) {
                n++;
            }
            if (n == part.length) {
                return true;
            }
        }
        return false;
    }

    private static byte[] bytes(int length, int seed) {
        byte[] data = new byte[length];
        for (int i = 0; i < length; ++i) {
            data[i] = (byte) (seed + 31 * i);
        }
        return data;
    }

    static Stream<Arguments> confirmations() {
        return Stream.of(
            Arguments.of("a digest and a short text: every length fits one byte", bytes(32, 1),
                         "Подтверждаю платёж № 42 на сумму 125 000-00 руб.", false),
            Arguments.of(
                "a long text: the attributes pass 255 bytes, so the command has an extended Lc and Le 00 80",
                bytes(64, 7), "Платёжное поручение № 43; получатель АО \"Василёк\"; ".repeat(8), true),
            Arguments.of("a text with characters beyond U+FFFF: each one four-byte UTF-8 character",
                         bytes(32, 3), "Подтверждаю \uD83D\uDC4D платёж \uD83D\uDCB3 № 44", false));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("confirmations")
    void confirmationIsADetachedMessageTheDeviceKeySigned(String name, byte[] data, String text, boolean extended) {
        String s = VelLab.selected();
        try {
            VelLab.clearApdus();
            byte[] cms = Session.confirmByOrmidVeltoken(s, data, text);
            byte[] signedAttributes = Confirmations.check(cms, data, text);
            assertTrue(contains(signedAttributes, text.getBytes(StandardCharsets.UTF_8)),
                       "the signed attributes hold the text as well-formed UTF-8");

            List<Apdu> signs = Confirmations.signCommands(VelLab.apdus(), VelLab.DEFAULT_PIN);
            assertEquals(1, signs.size(), "one session, with the built-in PIN of a device in its default-PIN state");
            Apdu sign = signs.get(0);
            assertAll(() -> assertEquals(extended, sign.extended(), "Lc form"),
                      () -> assertEquals(extended ? "0080" : "80", sign.le(), "Le"),
                      () -> assertArrayEquals(signedAttributes, Confirmations.signedData(sign),
                                              "the device signed the attributes of the message"));
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void theCheckRejectsAChangedSignatureOrChangedAttributes() {
        String s = VelLab.selected();
        try {
            byte[] cms = Session.confirmByOrmidVeltoken(s, bytes(32, 3), "Платёж № 44");
            var signer = Confirmations.signer(cms);
            byte[] attributes = signer.getEncodedSignedAttributes();
            byte[] signature = signer.getSignature();
            byte[] otherAttributes = attributes.clone();
            otherAttributes[otherAttributes.length - 1] ^= 1;
            byte[] otherSignature = signature.clone();
            otherSignature[5] ^= 1;
            assertAll(() -> assertFalse(Confirmations.opensslVerifies(otherAttributes, signature)),
                      () -> assertFalse(Confirmations.opensslVerifies(attributes, otherSignature)),
                      () -> assertFalse(Confirmations.bcVerifies(otherAttributes, signature)),
                      () -> assertFalse(Confirmations.bcVerifies(attributes, otherSignature)));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } finally {
            Signer.closeSession(s);
        }
    }

    @Test
    void confirmationNeedsTheDeviceSelected() {
        String none = VelLab.session();
        String token = VelLab.session();
        try {
            Session.setKeystore(token, Session.KEYSTORE_HARDWARE_DEVICE,
                                Session.getKeyStoreList(token, Session.KEYSTORE_HARDWARE_DEVICE)[0], false);
            VelLab.clearApdus();
            assertAll(() -> assertEquals(Texts.KEYSTORE_NOT_SELECTED,
                                         errorOf(() -> Session.confirmByOrmidVeltoken(none, bytes(32, 1), "x"))),
                      () -> assertEquals(Texts.KEYSTORE_NOT_SELECTED,
                                         errorOf(() -> Session.confirmByOrmidVeltoken(token, bytes(32, 1), "x")),
                                         "a token of another kind does not confirm"));
            assertEquals(List.of(), VelLab.apdus());
        } finally {
            Signer.closeSession(none);
            Signer.closeSession(token);
        }
    }

    @Test
    void twoThreadsConfirmingAtOnceNeverInterleaveTheirCommands() throws Exception {
        final int rounds = 8;
        List<Callable<List<byte[]>>> tasks = new ArrayList<>();
        for (int t = 0; t < 2; ++t) {
            final int thread = t;
            tasks.add(() -> {
                String s = VelLab.selected();
                try {
                    List<byte[]> messages = new ArrayList<>();
                    for (int i = 0; i < rounds; ++i) {
                        messages.add(Session.confirmByOrmidVeltoken(s, bytes(32, 16 * thread + i), "поток " + thread));
                    }
                    return messages;
                } finally {
                    Signer.closeSession(s);
                }
            });
        }
        VelLab.clearApdus();
        List<List<byte[]>> results = Tools.together(tasks);

        for (int t = 0; t < 2; ++t) {
            for (int i = 0; i < rounds; ++i) {
                var signer = Confirmations.signer(results.get(t).get(i));
                assertTrue(Confirmations.opensslVerifies(signer.getEncodedSignedAttributes(), signer.getSignature()),
                           "thread " + t + " confirmation " + i);
            }
        }
        List<Apdu> signs = Confirmations.signCommands(VelLab.apdus(), VelLab.DEFAULT_PIN);
        assertEquals(2 * rounds, signs.size(), "every confirmation ran its own whole session");
    }
}
