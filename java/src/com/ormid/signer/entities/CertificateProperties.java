package com.ormid.signer.entities;

/** Decoded fields of a certificate. */
public class CertificateProperties {
    public String subject;
    public String issuer;
    public byte[] serialNumber;
    public int version;
    public ValidityPeriod period;
    /** The certificate's signature value. */
    public byte[] thumbprint;
    public String algName;
    public String algOid;
    public String paramsName;
    public String paramsOid;
    public byte[] publicKey;

    public CertificateProperties() {}
}
