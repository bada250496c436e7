package com.ormid.signer.entities;

/** The selected key store. */
public class KeystoreInfo {
    /** The kind of store: one of the {@code KEYSTORE_*} constants of {@link com.ormid.signer.Session}. */
    public int type;
    /** The store's id: a token's serial number or a container name. */
    public String id;
    /** The id of the store's crypto type, such as "rutoken_2". */
    public String cryptoType;
    /** The full name of that crypto type. */
    public String cryptoName;
    /** The chip and package of a device, such as "RUTOKEN_ECP_2-401"; "" for other stores. */
    public String chipType;
    /** The short name of a device; "" for other stores. */
    public String shortName;
    /** True when the device's administrator PIN is blocked; false for other stores. */
    public boolean isAdminPinLocked;
    /** True when the device's user PIN is blocked; false for other stores. */
    public boolean isUserPinLocked;
    /** True when the PIN must still be given in this session. */
    public boolean loginRequired;
    /** True when the user PIN was never changed from its default (or the store has no PIN). */
    public boolean isUserPinDefault;

    /** Makes an empty record; the library fills it. */
    public KeystoreInfo() {}

    /**
     * Describes the store briefly, for logs.
     *
     * @return kind, id and crypto type
     */
    @Override
    public String toString() {
        return "KeystoreInfo{type=" + type + ", id=" + id + ", cryptoType=" + cryptoType + "}";
    }
}
