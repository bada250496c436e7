package com.ormid.signer.entities;

/** The selected key store. */
public class KeystoreInfo {
    public int type;
    public String id;
    public String cryptoType;
    public String cryptoName;
    public String chipType;
    public String shortName;
    public boolean isAdminPinLocked;
    public boolean isUserPinLocked;
    public boolean loginRequired;
    public boolean isUserPinDefault;

    public KeystoreInfo() {}

    @Override
    public String toString() {
        return "KeystoreInfo{type=" + type + ", id=" + id + ", cryptoType=" + cryptoType + "}";
    }
}
