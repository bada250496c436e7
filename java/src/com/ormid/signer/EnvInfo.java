package com.ormid.signer;

import com.ormid.signer.entities.OsInfo;

/**
 * Facts about the workstation that the client records with the user's actions. None needs a
 * session. The failures below carry fixed texts rather than catalogue codes.
 */
public final class EnvInfo {
    static {
        NativeLibrary.load();
    }

    private EnvInfo() {}

    /**
     * Gives the computer's network node name.
     *
     * @return the node name
     * @throws SignerException "Внутренняя ошибка" when the system does not tell it
     */
    public static native String getComputerName();

    /**
     * Gives the login name of the user the process runs as.
     *
     * @return the login name
     * @throws SignerException "get user name error" when the user has no entry in the user database
     */
    public static native String getUserName();

    /**
     * Gives a local IPv4 address: that of the first interface that is up and not loopback.
     *
     * @return the address in dotted form, or "" when there is no such interface
     * @throws SignerException "Внутренняя ошибка" when the interfaces cannot be read
     */
    public static native String getLocalIp();

    /**
     * Gives the hardware addresses of the interfaces that are up and not loopback, in the system's
     * order.
     *
     * @return the addresses as upper-case hexadecimal without separators, never null
     * @throws SignerException "Внутренняя ошибка" when the interfaces cannot be read
     */
    public static native String[] getMacAdresses();

    /**
     * Describes the operating system: the kernel's name and release, and whether the user is an
     * administrator.
     *
     * @return the description
     * @throws SignerException "Внутренняя ошибка" when the system does not tell it
     */
    public static native OsInfo getOsInfo();
}
