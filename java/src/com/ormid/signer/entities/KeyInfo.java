package com.ormid.signer.entities;

/** A key of the selected key store. */
public class KeyInfo {
    /** The key's alias, unique in its store. */
    public String alias;
    /** The external id: unsigned 64-bit decimal text, "0" when none is set. */
    public String id;
    /** The key's system id (0 to 65535). */
    public int systemId;
    /** The name of the signature algorithm. */
    public String signAlgorithmName;
    /** The OID of the signature algorithm, dotted. */
    public String signAlgorithmOid;
    /** The name of the algorithm's parameter set. */
    public String algParamsName;
    /** The OID of the algorithm's parameter set, dotted. */
    public String algParamsOid;
    /** The name of the digest algorithm the key signs with. */
    public String digestAlgorithmName;
    /** The OID of the digest algorithm the key signs with, dotted. */
    public String digestAlgorithmOid;
    /** The id of the crypto type that holds the key, such as "rutoken_2". */
    public String cryptoType;
    /** The full name of that crypto type. */
    public String cryptoName;
    /** True when the key's password must still be given before it signs. */
    public boolean loginRequired;
    /** True when the key has a password of its own. */
    public boolean hasPassword;

    /** Makes an empty record; the library fills it. */
    public KeyInfo() {}

    /**
     * Describes the key briefly, for logs.
     *
     * @return alias, external id, system id, signature algorithm and crypto type
     */
    @Override
    public String toString() {
        return "KeyInfo{alias=" + alias + ", id=" + id + ", systemId=" + systemId + ", signAlgorithm="
            + signAlgorithmName + ", cryptoType=" + cryptoType + "}";
    }
}
