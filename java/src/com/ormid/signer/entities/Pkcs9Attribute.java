package com.ormid.signer.entities;

/** A signed attribute given by the caller: OID, ASN.1 universal tag of the value, value text. */
public class Pkcs9Attribute {
    public String oid;
    public int tag;
    public String value;

    public Pkcs9Attribute() {}

    public Pkcs9Attribute(String oid, int tag, String value) {
        this.oid = oid;
        this.tag = tag;
        this.value = value;
    }
}
