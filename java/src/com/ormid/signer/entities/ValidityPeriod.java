package com.ormid.signer.entities;

/** Validity of a certificate, as text. */
public class ValidityPeriod {
    public String notBefore;
    public String notAfter;

    public ValidityPeriod() {}
}
