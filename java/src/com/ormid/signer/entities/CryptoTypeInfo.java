package com.ormid.signer.entities;

/** Display names of a crypto type. */
public class CryptoTypeInfo {
    /** The full name, as a certificate of the crypto means states it. */
    public String fullName;
    /** The short name for lists. */
    public String shortName;
    /** The chip and package, such as "RUTOKEN_ECP_2-401"; "" for crypto means without a chip. */
    public String chipType;

    /** Makes an empty record; the library fills it. */
    public CryptoTypeInfo() {}
}
