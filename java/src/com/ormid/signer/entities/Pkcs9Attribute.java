package com.ormid.signer.entities;

/** A signed attribute given by the caller: its OID, the ASN.1 universal tag of its value, and the value as text. */
public class Pkcs9Attribute {
    /** The attribute type, as a dotted OID. */
    public String oid;
    /** The ASN.1 universal tag number of the value, such as 12 for UTF8String. */
    public int tag;
    /** The value, as text. */
    public String value;

    /** Makes an empty attribute, to be filled by the caller. */
    public Pkcs9Attribute() {}

    /**
     * Makes an attribute.
     *
     * @param oid the attribute type, as a dotted OID
     * @param tag the ASN.1 universal tag number of the value, such as 12 for UTF8String
     * @param value the value, as text
     */
    public Pkcs9Attribute(String oid, int tag, String value) {
        this.oid = oid;
        this.tag = tag;
        this.value = value;
    }
}
