package com.ormid.signer.entities;

/** One document to sign as CMS. */
public class SignData {
    public byte[] data;
    /** true: data is the content and is digested; false: data already is the digest. */
    public boolean computeDigest = true;
    /** Put the content into the CMS message. */
    public boolean attached;
    public Pkcs9Attribute[] signedAttributes;

    public SignData() {}

    public SignData(byte[] data) {
        this.data = data;
    }
}
