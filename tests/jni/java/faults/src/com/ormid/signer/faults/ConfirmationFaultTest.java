package com.ormid.signer.faults;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.Session;
import com.ormid.signer.Signer;
import com.ormid.signer.tokens.Tools;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Each command of a confirmation on the lab's confirmation token failing in turn: the card pulled out as the
 * command arrives, a card that answers 6F00 or 6581, and (at the signature) a card that stops answering. Each ends
 * in a catalogue error, and the next confirmation in the same session works once the card is back, so no PC/SC
 * transaction or card handle was left held.
 */
class ConfirmationFaultTest {
    private static final String READER = "ORMID VEL-token 00 00";
    private static final String DEVICE = "vel1";
    private static final String SERIAL = "01-23-45-67";
    private static final byte[] DIGEST = new byte[32];
    /** INS P1 of the command that ends the device session. */
    private static final String END_OF_SESSION = "2002";
    private static String s;

    /** Runs the lab script (scripts/lab) with the arguments. */
    static void lab(String... args) {
        List<String> command = new ArrayList<>(List.of(Tools.labEnv("ORMID_LAB_SCRIPT")));
        command.addAll(List.of(args));
        Tools.Result result = Tools.run(command, Map.of());
        assertTrue(result.ok(), () -> "lab " + String.join(" ", args) + ": " + result.text());
    }

    /** Changes the state of the lab's confirmation token (scripts/lab set). */
    static void set(String... facts) {
        List<String> args = new ArrayList<>(List.of("set", Tools.labDir().toString(), DEVICE));
        args.addAll(List.of(facts));
        lab(args.toArray(String[]::new));
    }

    private static Path apduLog() {
        return Tools.labDir().resolve("vel").resolve(DEVICE + ".apdu.log");
    }

    /** The commands the card received since the log was cleared, as INS P1 in hex ("2001"). */
    private static List<String> commands() {
        try {
            List<String> commands = new ArrayList<>();
            if (Files.exists(apduLog())) {
                for (String line : Files.readAllLines(apduLog())) {
                    commands.add(line.substring(2, 6));
                }
            }
            return commands;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static void clearApdus() {
        try {
            Files.deleteIfExists(apduLog());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** A reader failure the library has no catalogue text for carries the platform's PC/SC text, as specified. */
    private static String errorOf(org.junit.jupiter.api.function.Executable call) {
        String message = assertThrows(RuntimeException.class, call).getMessage();
        assertTrue(Catalogue.isCatalogueText(message) || Catalogue.isPcscText(message),
                   () -> "neither a catalogue nor a PC/SC text: " + message);
        return message;
    }

    private static byte[] confirm() {
        return Session.confirmByOrmidVeltoken(s, DIGEST, "Подтверждаю платёж № 7");
    }

    @BeforeAll
    static void select() {
        Signer.setLoadLibraryFolder(Tools.labEnv("ORMID_LAB_PKCS11_DIR"));
        s = Signer.openSession(false);
        Session.setKeystore(s, Session.KEYSTORE_VEL_TOKEN, SERIAL, false);
    }

    @AfterAll
    static void close() {
        Signer.closeSession(s);
    }

    @AfterEach
    void clearFaults() {
        set("sw_at=", "mute_at=", "pull_at=", "mute=");
    }

    /** The commands of a clean confirmation, each once, in the order they come (INS P1). */
    private static Set<String> steps() {
        clearApdus();
        assertTrue(confirm().length > 0);
        Set<String> steps = new LinkedHashSet<>(commands());
        assertTrue(steps.contains("2A9E"), "the signature is one of the steps: " + steps);
        return steps;
    }

    /**
     * The fault makes the confirmation fail at the step (the end of the device session may fail unnoticed: the
     * message is signed by then); the one after it works.
     */
    private static void failsThenWorks(String step, String fault, Runnable putBack) {
        set(fault);
        clearApdus();
        if (step.equals(END_OF_SESSION)) {
            try {
                confirm();
            } catch (RuntimeException e) {
                assertTrue(Catalogue.isCatalogueText(e.getMessage()), e.getMessage());
            }
            putBack.run();
            assertTrue(confirm().length > 0, fault + ": the next confirmation works");
            return;
        }
        String error = errorOf(ConfirmationFaultTest::confirm);
        // Nothing follows the failing step but the end of the device session.
        List<String> sent = commands();
        int at = sent.lastIndexOf(step);
        assertTrue(at >= 0, fault + ": the failing step was sent: " + sent);
        assertTrue(sent.subList(at + 1, sent.size()).stream().allMatch(END_OF_SESSION::equals),
                   fault + ": the confirmation stops at the failing step: " + sent);
        putBack.run();
        clearApdus();
        assertTrue(confirm().length > 0, fault + " (" + error + "): the next confirmation works");
        assertFalse(commands().isEmpty());
    }

    @Test
    void everyCommandFailingEndsInACatalogueErrorAndTheNextConfirmationWorks() {
        for (String step : steps()) {
            for (String sw : List.of("6F00", "6581")) {
                failsThenWorks(step, "sw_at=" + step + ":" + sw, () -> set("sw_at="));
            }
        }
    }

    @Test
    void aCardPulledOutAtEachCommandIsAnErrorAndWorksOncePutBack() {
        // The card leaves at the first command of the instruction: the steps of another instruction first.
        Set<String> instructions = new LinkedHashSet<>();
        for (String step : steps()) {
            instructions.add(step.substring(0, 2));
        }
        for (String ins : instructions) {
            set("pull_at=" + ins);
            clearApdus();
            errorOf(ConfirmationFaultTest::confirm);
            List<String> sent = commands();
            assertEquals(ins, sent.get(sent.size() - 1).substring(0, 2));
            lab("insert", Tools.labDir().toString(), READER, "vel", DEVICE);
            assertTrue(confirm().length > 0, "pulled at " + ins + ": the next confirmation works once the card is back");
        }
    }

    @Test
    void aCardThatStopsAnsweringAtTheSignatureIsAnErrorAndWorksOnceReplugged() {
        // The library waits its response timeout (a minute by default) for the card that never answers.
        set("mute_at=2A9E");
        clearApdus();
        errorOf(ConfirmationFaultTest::confirm);
        set("mute_at=");
        lab("replug", Tools.labDir().toString(), READER);
        assertTrue(confirm().length > 0);
    }
}
