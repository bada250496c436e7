package com.ormid.signer.entities;

/** Display names of a crypto type. */
public class CryptoTypeInfo {
    public String fullName;
    public String shortName;
    public String chipType;

    public CryptoTypeInfo() {}
}
