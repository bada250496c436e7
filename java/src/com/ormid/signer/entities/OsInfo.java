package com.ormid.signer.entities;

/** The operating system of the workstation. */
public class OsInfo {
    public String type;
    public String version;
    public boolean isAdmin;
    public boolean isServer;
    public String servicePack;

    public OsInfo() {}

    @Override
    public String toString() {
        return "OsInfo{type=" + type + ", version=" + version + ", isAdmin=" + isAdmin + "}";
    }
}
