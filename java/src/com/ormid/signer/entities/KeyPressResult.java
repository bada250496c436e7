package com.ormid.signer.entities;

/** State of key-press entropy collection. */
public class KeyPressResult {
    public int currentCharNum;
    public int requestedChar;

    public KeyPressResult() {}
}
