package com.ormid.signer.faults;

import static java.nio.charset.StandardCharsets.UTF_8;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.List;

/** The lab's fault rules and call logs as files: rules replaced at once, logs read from a mark on. */
public final class LabFiles {
    private LabFiles() {}

    /** Replaces the file's text at once (the lab reads fault rules at every call). */
    public static void writeAtomically(Path file, String text) {
        try {
            Path temp = Files.createTempFile(file.getParent(), ".faults", ".tmp");
            Files.writeString(temp, text);
            Files.move(temp, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The log's size now (0 when there is none yet): a mark to read the lines written after it. */
    public static long mark(Path log) {
        try {
            return Files.exists(log) ? Files.size(log) : 0;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The lines this JVM wrote to the log since the mark, split into their fields. */
    public static List<String[]> ownLinesSince(Path log, long mark) {
        String pid = Long.toString(ProcessHandle.current().pid());
        try (FileChannel channel = FileChannel.open(log, StandardOpenOption.READ)) {
            channel.position(mark);
            return new String(Channels.newInputStream(channel).readAllBytes(), UTF_8).lines()
                .map(line -> line.split(" "))
                .filter(fields -> fields.length >= 3 && fields[0].equals(pid))
                .toList();
        } catch (NoSuchFileException e) {
            return List.of();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
