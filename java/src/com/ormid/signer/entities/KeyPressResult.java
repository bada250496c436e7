package com.ormid.signer.entities;

/** State of the key-press seeding of a random generator. */
public class KeyPressResult {
    /** The number of the requested character in the sequence; 0 when nothing is requested. */
    public int currentCharNum;
    /** The character the user is asked to press next; -1 when nothing is requested. */
    public int requestedChar;

    /** Makes an empty record; the library fills it. */
    public KeyPressResult() {}
}
