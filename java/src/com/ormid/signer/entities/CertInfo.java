package com.ormid.signer.entities;

/** A certificate of the key store: its id in the store, its DER encoding and its fields. */
public class CertInfo {
    public byte[] id;
    public byte[] x509;
    public CertificateProperties properties;

    public CertInfo() {}
}
