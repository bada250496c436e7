package com.ormid.signer.entities;

/** Validity of a certificate, as text. */
public class ValidityPeriod {
    /**
     * The start of validity, as the certificate encodes it: YYMMDDhhmmssZ for UTCTime,
     * YYYYMMDDhhmmssZ for GeneralizedTime.
     */
    public String notBefore;
    /** The end of validity, in the same form. */
    public String notAfter;

    /** Makes an empty record; the library fills it. */
    public ValidityPeriod() {}
}
