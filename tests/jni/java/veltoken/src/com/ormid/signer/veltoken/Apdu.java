package com.ormid.signer.veltoken;

import com.ormid.signer.tokens.Tools;
import java.util.Arrays;

/**
 * One line of the card's APDU log: the command as it arrived and the status word the card answered (null when it
 * gave none).
 */
final class Apdu {
    private final byte[] command;
    private final String sw;

    Apdu(byte[] command, String sw) {
        this.command = command;
        this.sw = sw;
    }

    byte[] command() {
        return command;
    }

    String sw() {
        return sw;
    }

    static Apdu parse(String line) {
        String[] parts = line.trim().split(" ");
        if (parts.length != 2) {
            throw new IllegalArgumentException("APDU log line: " + line);
        }
        return new Apdu(Tools.unhex(parts[0]), parts[1].equals("-") ? null : parts[1]);
    }

    /** CLA INS P1 P2 as upper-case hex. */
    String header() {
        return Tools.hex(command, 0, 4);
    }

    /** Whether Lc is in the extended form (00 hi lo). */
    boolean extended() {
        return command.length > 7 && command[4] == 0;
    }

    private int dataStart() {
        return extended() ? 7 : 5;
    }

    private int lc() {
        if (command.length <= 4) {
            return 0;
        }
        return extended() ? (command[5] & 0xFF) << 8 | (command[6] & 0xFF) : command[4] & 0xFF;
    }

    byte[] data() {
        return command.length <= 5 ? new byte[0] : Arrays.copyOfRange(command, dataStart(), dataStart() + lc());
    }

    /** The Le bytes after the data as upper-case hex ("" when there are none). */
    String le() {
        int end = command.length <= 5 ? 4 : dataStart() + lc();
        return Tools.hex(command, end, command.length);
    }

    boolean ok() {
        return "9000".equals(sw);
    }

    @Override
    public String toString() {
        return Tools.hex(command) + " " + (sw == null ? "-" : sw);
    }
}
