package com.ormid.signer.test;

import static com.ormid.signer.test.Texts.errorOf;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.SignerException;
import org.junit.jupiter.api.Test;

/** How the common frame of the exports hands failures to Java. */
class FrameTest {
    @Test
    void standardExceptionBecomesSignerExceptionWithItsTextAndTheInternalCode() {
        RuntimeException raised = assertThrows(RuntimeException.class, () -> ConvProbe.throwStd("Неверный ПИН"));
        assertEquals(SignerException.class, raised.getClass());
        SignerException e = (SignerException) raised;
        assertEquals("Неверный ПИН", e.getMessage());
        assertEquals(SignerException.INTERNAL_ERROR_CODE, e.getCode());
        assertEquals(SignerException.Kind.INTERNAL, e.getKind());
        assertEquals(-1, e.getTriesLeft());
        assertEquals(-1, e.getVendorCode());
        assertNull(e.getAlias());
        assertNull(e.getSerial());
    }

    @Test
    void messageBytesThatAreNotJavaUtf8StillBecomeText() {
        // Standard UTF-8 of U+1F600 (four bytes), a lone 0xFF and a cut sequence: none of them is the
        // modified UTF-8 a JVM reads, yet the message must reach Java as text, not as raw bytes (the
        // character beyond U+FFFF as its surrogate pair).
        assertEquals("A\uD83D\uDE00B",
                     errorOf(()
                                 -> ConvProbe.throwStdBytes(new byte[] {0x41, (byte)0xF0, (byte)0x9F,
                                                                        (byte)0x98, (byte)0x80, 0x42})));
        byte[][] messages = {{0x41, (byte)0xFF, 0x42}, {0x41, (byte)0xC0, (byte)0x80, 0x42}};
        for (byte[] message : messages) {
            String text = errorOf(() -> ConvProbe.throwStdBytes(message));
            assertTrue(text.startsWith("A\uFFFD") || text.startsWith("A\u0000"), text);
            assertTrue(text.endsWith("B"), text);
        }
        assertEquals("Ключ \"ёж\"", errorOf(() -> ConvProbe.throwStdBytes("Ключ \"ёж\"".getBytes(UTF_8))));
    }

    @Test
    void foreignExceptionDoesNotCrossIntoJava() {
        assertEquals("Unknown error", errorOf(ConvProbe::throwForeign));
    }

    @Test
    void javaExceptionOfAJniCallStaysAsItIs() {
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> ConvProbe.readPastEnd(new byte[2]));
        assertEquals(true, ConvProbe.readPastEnd(new byte[8]));
    }
}
