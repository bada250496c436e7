package com.ormid.signer.entities;

/** One document to sign as CMS, with how to treat it. */
public class SignData {
    /** The content to sign, or its digest when {@link #computeDigest} is false. */
    public byte[] data;
    /** True: {@link #data} is the content and is digested; false: it already is the digest. */
    public boolean computeDigest = true;
    /** True: the content goes into the CMS message; false: a detached signature. */
    public boolean attached;
    /** The caller's own signed attributes; null or empty for none. */
    public Pkcs9Attribute[] signedAttributes;

    /** Makes an empty document, to be filled by the caller. */
    public SignData() {}

    /**
     * Makes a detached signing request for content that the library digests.
     *
     * @param data the content to sign
     */
    public SignData(byte[] data) {
        this.data = data;
    }
}
