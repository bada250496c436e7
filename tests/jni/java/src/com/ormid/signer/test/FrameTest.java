package com.ormid.signer.test;

import static com.ormid.signer.test.Texts.errorOf;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.Test;

/** How the common frame of the exports hands failures to Java. */
class FrameTest {
    @Test
    void standardExceptionBecomesRuntimeExceptionWithItsText() {
        RuntimeException e = assertThrows(RuntimeException.class, () -> ConvProbe.throwStd("Неверный ПИН"));
        assertEquals(RuntimeException.class, e.getClass());
        assertEquals("Неверный ПИН", e.getMessage());
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
