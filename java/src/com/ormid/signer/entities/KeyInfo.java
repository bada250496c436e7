package com.ormid.signer.entities;

/** A key of the selected key store. */
public class KeyInfo {
    public String alias;
    /** External id: unsigned 64-bit decimal text. */
    public String id;
    public int systemId;
    public String signAlgorithmName;
    public String signAlgorithmOid;
    public String algParamsName;
    public String algParamsOid;
    public String digestAlgorithmName;
    public String digestAlgorithmOid;
    public String cryptoType;
    public String cryptoName;
    public boolean loginRequired;
    public boolean hasPassword;

    public KeyInfo() {}

    @Override
    public String toString() {
        return "KeyInfo{alias=" + alias + ", id=" + id + ", systemId=" + systemId + ", signAlgorithm="
            + signAlgorithmName + ", cryptoType=" + cryptoType + "}";
    }
}
