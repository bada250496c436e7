package com.ormid.signer;

import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.CryptoTypeInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeyPressResult;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.SignData;

/**
 * Operations of one session. The first argument of every method is the session
 * identifier returned by {@link Signer#openSession(boolean)}.
 */
public final class Session {
    static {
        NativeLibrary.load();
    }

    /** Key store kinds accepted by {@link #setKeystore} and {@link #getKeyStoreList}. */
    public static final int KEYSTORE_HARDWARE_DEVICE = 0;
    public static final int KEYSTORE_CRYPTOPRO_CONTAINER = 2;
    public static final int KEYSTORE_VEL_TOKEN = 3;

    /** Certificate category of the user's own certificates. */
    public static final int CERT_TYPE_USER = 1;

    private Session() {}

    public static native void setKalvaMode(String s, boolean on);

    public static native String[] getAvailableCrypto(String s, String[] filter);

    public static native String[] getAvailableCspReaders(String s);

    public static native String getCryptoTypeVersion(String s, String cryptoType);

    public static native CryptoTypeInfo getCryptoTypeInfo(String s, String cryptoType);

    public static native String[] getKeyStoreList(String s, int keyStoreType);

    public static native KeystoreInfo setKeystore(String s, int keyStoreType, String keyStoreId, boolean createNew);

    public static native KeystoreInfo getKeystoreInfo(String s);

    public static native String getKeystoreId(String s);

    public static native void forgetKeystore(String s);

    public static native KeyInfo[] listKeys(String s);

    public static native KeyInfo setKey(String s, String alias);

    public static native KeyInfo getKeyInfo(String s);

    public static native void forgetKey(String s);

    public static native void setPin(String s, String pin);

    public static native void changePin(String s, String newPin);

    public static native void setKeyPassword(String s, String password);

    public static native void changeKeyPassword(String s, String newPassword);

    /** Sets the key's external id, given as an unsigned 64-bit decimal number. */
    public static native void setKeyId(String s, String externalId);

    public static native void changeKeyAlias(String s, String newAlias);

    public static native void deleteKey(String s);

    public static native void createNewKey(String s, String alias, int systemId, String signAlgorithmOid,
                                           String algParamsOid, String password);

    public static native KeyPressResult sendKeyPressEvent(String s, int key);

    public static native byte[] getPublicKey(String s);

    public static native byte[] getSubjectPublicKeyInfo(String s);

    public static native byte[] rawSign(String s, byte[] data);

    public static native byte[] cmsSign(String s, SignData signData);

    public static native byte[][] groupCmsSign(String s, SignData[] signDataArray);

    public static native boolean verifySign(String s, String cryptoType, byte[] signature, byte[] data,
                                            byte[] publicKey, String signAlgorithmOid, String algParamsOid);

    public static native void initDigest(String s, String cryptoType, String digestAlgorithmOid);

    public static native void initDigestByCurrentKey(String s);

    public static native void updateDigest(String s, byte[] data);

    public static native byte[] finalizeDigest(String s);

    public static native byte[] confirmByOrmidVeltoken(String s, byte[] data, String text);

    public static native CertInfo[] listCertificates(String s, int certType);

    public static native KeyInfo setKeyByCertificate(String s, byte[] certificateId);

    public static native byte[] importCertificate(String s, byte[] certificate, int certType);

    public static native void deleteCertificate(String s, byte[] certificateId, int certType);
}
