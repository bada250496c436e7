package com.ormid.signer;

import com.ormid.signer.entities.OsInfo;

/** Facts about the workstation. */
public final class EnvInfo {
    static {
        NativeLibrary.load();
    }

    private EnvInfo() {}

    public static native String getComputerName();

    public static native String getUserName();

    /** The first IPv4 address of an interface that is up and not loopback, or "". */
    public static native String getLocalIp();

    /** Hardware addresses of the interfaces that are up, upper-case hex without separators. */
    public static native String[] getMacAdresses();

    public static native OsInfo getOsInfo();
}
