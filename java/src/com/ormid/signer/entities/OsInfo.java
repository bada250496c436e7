package com.ormid.signer.entities;

/** The operating system of the workstation. */
public class OsInfo {
    /** The kernel's name, such as "Linux". */
    public String type;
    /** The kernel's release. */
    public String version;
    /** True when the user is root or a member of the administrators' group. */
    public boolean isAdmin;
    /** Not set by the library on this platform: always false. */
    public boolean isServer;
    /** Not set by the library on this platform: always null. */
    public String servicePack;

    /** Makes an empty record; the library fills it. */
    public OsInfo() {}

    /**
     * Describes the system briefly, for logs.
     *
     * @return kernel name, release and the administrator flag
     */
    @Override
    public String toString() {
        return "OsInfo{type=" + type + ", version=" + version + ", isAdmin=" + isAdmin + "}";
    }
}
