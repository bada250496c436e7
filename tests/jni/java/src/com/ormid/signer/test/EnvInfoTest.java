package com.ormid.signer.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ormid.signer.EnvInfo;
import com.ormid.signer.entities.OsInfo;
import java.net.InetAddress;
import java.net.NetworkInterface;
import java.util.Collections;
import java.util.HashSet;
import java.util.Set;
import org.junit.jupiter.api.Test;

class EnvInfoTest {
    @Test
    void computerAndUserName() throws Exception {
        String computer = EnvInfo.getComputerName();
        assertFalse(computer.isEmpty());
        assertEquals(System.getProperty("user.name"), EnvInfo.getUserName());
    }

    @Test
    void operatingSystem() {
        OsInfo os = EnvInfo.getOsInfo();
        assertEquals(System.getProperty("os.name"), os.type);
        assertEquals(System.getProperty("os.version"), os.version);
        if ("root".equals(System.getProperty("user.name"))) {
            assertTrue(os.isAdmin);
        }
        assertFalse(os.isServer);
        assertNull(os.servicePack);
    }

    @Test
    void addressesMatchWhatJavaSees() throws Exception {
        Set<String> javaMacs = new HashSet<>();
        Set<String> javaIpv4 = new HashSet<>();
        for (NetworkInterface nif : Collections.list(NetworkInterface.getNetworkInterfaces())) {
            if (!nif.isUp() || nif.isLoopback()) {
                continue;
            }
            byte[] mac = nif.getHardwareAddress();
            if (mac != null && mac.length > 0) {
                StringBuilder hex = new StringBuilder();
                for (byte b : mac) {
                    hex.append(String.format("%02X", b));
                }
                javaMacs.add(hex.toString());
            }
            for (InetAddress address : Collections.list(nif.getInetAddresses())) {
                if (address.getAddress().length == 4) {
                    javaIpv4.add(address.getHostAddress());
                }
            }
        }
        String[] macs = EnvInfo.getMacAdresses();
        for (String mac : macs) {
            assertTrue(mac.matches("([0-9A-F]{2})+"), mac);
        }
        assertEquals(javaMacs, new HashSet<>(java.util.Arrays.asList(macs)));
        String ip = EnvInfo.getLocalIp();
        if (javaIpv4.isEmpty()) {
            assertEquals("", ip);
        } else {
            assertTrue(javaIpv4.contains(ip), ip + " not in " + javaIpv4);
        }
    }
}
