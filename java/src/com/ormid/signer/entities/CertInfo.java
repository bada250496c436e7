package com.ormid.signer.entities;

/** A certificate of the key store: its id in the store, its DER encoding and its fields. */
public class CertInfo {
    /** The id under which the key store keeps the certificate. */
    public byte[] id;
    /** The DER encoding of the certificate. */
    public byte[] x509;
    /** The certificate's decoded fields. */
    public CertificateProperties properties;

    /** Makes an empty record; the library fills it. */
    public CertInfo() {}
}
