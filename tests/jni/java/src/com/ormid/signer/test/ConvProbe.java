package com.ormid.signer.test;

import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeyPressResult;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.SignData;

/** Test-only native methods that run the library's Java conversions directly. */
final class ConvProbe {
    static {
        System.load(System.getProperty("ormid.signer.probe"));
    }

    private ConvProbe() {}

    /** Hex of the UTF-8 bytes the library makes of the string. */
    static native String utf8Hex(String text);

    static native String echo(String text);

    static native String fromUtf8(byte[] utf8);

    static native byte[] echoBytes(byte[] data);

    static native String[] echoStrings(String[] items);

    /** The bytes dealt round-robin into `parts` arrays. */
    static native byte[][] splitBytes(byte[] data, int parts);

    static native String describeSignData(SignData item, boolean kalvaMode);

    static native String[] describeSignDataArray(SignData[] items, boolean kalvaMode);

    static native KeyInfo[] keyList(long externalId, int systemId, int count);

    static native KeystoreInfo keystoreInfo(int type, boolean userPinChanged);

    static native KeyPressResult keyPressResult(int first, int second);

    static native CertInfo[] certificates(byte[][] ders);

    static native int throwForeign();

    static native Object throwStd(String message);

    static native Object throwStdBytes(byte[] message);

    static native boolean readPastEnd(byte[] data);

    /** The array's bytes read through a content source on this thread or on another one. */
    static native byte[] readSource(byte[] data, boolean otherThread);

    static native void useMissingClass();

    static native void useMissingField();
}
