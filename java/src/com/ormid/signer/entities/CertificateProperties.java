package com.ormid.signer.entities;

/** Decoded fields of a certificate. */
public class CertificateProperties {
    /** The common name of the subject; "" when it has none. */
    public String subject;
    /** The common name of the issuer; "" when it has none. */
    public String issuer;
    /** The serial number's bytes, big-endian as encoded. */
    public byte[] serialNumber;
    /** The encoded version field: 0 for a version 1 certificate, 2 for version 3. */
    public int version;
    /** The validity period. */
    public ValidityPeriod period;
    /** The certificate's signature value (not a digest of the certificate, despite the name). */
    public byte[] thumbprint;
    /** The name of the algorithm of the subject's public key. */
    public String algName;
    /** The OID of the algorithm of the subject's public key, dotted. */
    public String algOid;
    /** The name of the GOST parameter set of the subject's key; "" for other keys. */
    public String paramsName;
    /** The OID of the GOST parameter set of the subject's key, dotted; "" for other keys. */
    public String paramsOid;
    /** The subject's GOST public key bytes; empty for other keys. */
    public byte[] publicKey;

    /** Makes an empty record; the library fills it. */
    public CertificateProperties() {}
}
