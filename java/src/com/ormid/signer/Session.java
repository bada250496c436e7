package com.ormid.signer;

import com.ormid.signer.entities.CertInfo;
import com.ormid.signer.entities.CryptoTypeInfo;
import com.ormid.signer.entities.KeyInfo;
import com.ormid.signer.entities.KeyPressResult;
import com.ormid.signer.entities.KeystoreInfo;
import com.ormid.signer.entities.SignData;

/**
 * Operations of one session: choosing a key store and a key, PINs and passwords, key
 * management, signing, verification, digests and certificates. The first argument of every
 * method is the session identifier returned by {@link Signer#openSession(boolean)}; each session
 * has its own selected key store, selected key and digest in progress, and may be used from any
 * thread.
 *
 * <p>Every failure is raised as a {@link SignerException} (a {@link RuntimeException}) whose message
 * is the text of a catalogue code in the language set by {@link Signer#setLanguage(int)}; the code
 * itself is not part of the message but {@link SignerException#getCode()} gives it, with its
 * {@link SignerException#getKind() kind} and the data behind it. The codes each method raises are
 * listed with it; every method raises BS-001001 for an identifier that names no open session, and
 * BS-0017 for a text argument holding half of a UTF-16 surrogate pair without the other half (a
 * character beyond U+FFFF is read as one character).
 *
 * <p>Legacy-bank mode (the {@code kalvaMode} of {@link Signer#openSession(boolean)} and
 * {@link #setKalvaMode(String, boolean)}) keeps the byte order the crypto means produce for public
 * keys, signatures and digests, leaves the certificates out of CMS messages and digests the
 * GOST R 34.11-94 family with the test parameter set.
 */
public final class Session {
    static {
        NativeLibrary.load();
    }

    /** Key store kind of tokens in the smart-card readers; their ids are serial numbers. */
    public static final int KEYSTORE_HARDWARE_DEVICE = 0;
    /** Key store kind of the CSP's key containers; their ids are container names. */
    public static final int KEYSTORE_CRYPTOPRO_CONTAINER = 2;
    /** Key store kind of confirmation tokens ({@link #confirmByOrmidVeltoken(String, byte[], String)}). */
    public static final int KEYSTORE_VEL_TOKEN = 3;

    /** Certificate category of the user's own certificates, the ones attached to keys. */
    public static final int CERT_TYPE_USER = 1;

    private Session() {}

    /**
     * Switches the session's legacy-bank compatibility mode, which {@link Signer#openSession(boolean)}
     * set first: it changes the byte order of public keys and digests, whether signatures carry
     * certificates, and the digest parameter set of the GOST R 34.11-94 family (see the class description).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param on true to turn the mode on
     * @throws SignerException BS-001001 when {@code s} names no open session
     */
    public static native void setKalvaMode(String s, boolean on);

    /**
     * Lists the crypto means present on this workstation (tokens in the readers, installed CSPs,
     * the confirmation token) as crypto type ids such as {@code "rutoken_2"}, {@code "angara"},
     * {@code "jacarta_2"}, {@code "cryptopro"} or {@code "ovt"}. A reader or CSP that cannot be asked is
     * skipped, so detection itself does not fail.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param filter crypto type ids to look for; null or empty looks for all
     * @return the ids found, never null
     * @throws SignerException BS-001001 when {@code s} names no open session
     */
    public static native String[] getAvailableCrypto(String s, String[] filter);

    /**
     * Lists the readers the installed CSP knows.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the reader names, never null
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008048 when the CSP is not installed; the CSP's
     *         own errors (CAPI-xxxxxx) when it refuses to answer
     */
    public static native String[] getAvailableCspReaders(String s);

    /**
     * Asks a crypto means for its version.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param cryptoType a crypto type id, such as {@code "rutoken_2"}
     * @return the version text (a device's package number, the CSP's version), "" for crypto types that
     *         have none, or {@code "null"} when the crypto means cannot tell (for example when no such token
     *         is attached)
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008002 for an unknown crypto type id
     */
    public static native String getCryptoTypeVersion(String s, String cryptoType);

    /**
     * Gives the display names and chip description of a crypto type.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param cryptoType a crypto type id, such as {@code "rutoken_2"}
     * @return its full name, short name and chip type (the chip type is empty for software crypto means)
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008002 for an unknown crypto type id
     */
    public static native CryptoTypeInfo getCryptoTypeInfo(String s, String cryptoType);

    /**
     * Lists the key stores of one kind: the serial numbers of the tokens in the readers
     * ({@link #KEYSTORE_HARDWARE_DEVICE}), the confirmation tokens ({@link #KEYSTORE_VEL_TOKEN}), or the
     * CSP's container names ({@link #KEYSTORE_CRYPTOPRO_CONTAINER}). The session remembers the stores found,
     * and forgets stores of this kind that are gone.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param keyStoreType one of the {@code KEYSTORE_*} constants
     * @return the key store ids, never null
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008053 for another kind; CP-008004 when the PC/SC service is
     *         not running; CP-008048 when containers are asked for and the CSP is not installed
     */
    public static native String[] getKeyStoreList(String s, int keyStoreType);

    /**
     * Selects the key store the following key operations work on. Selecting another store than
     * the current one forgets the selected key; for a CSP container the alphabetically first key is
     * selected at once (unless a new container is made).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param keyStoreType one of the {@code KEYSTORE_*} constants
     * @param keyStoreId the id {@link #getKeyStoreList(String, int)} reported: a token's serial number or a
     *        container name
     * @param createNew for a CSP container: true makes a new container named {@code keyStoreId}; ignored
     *        for devices
     * @return the selected store's description
     * @throws SignerException BS-001001 when {@code s} names no open session; BS-008005 when no device with this serial number is present;
     *         CP-008005 for an unknown kind; CP-008004 when the PC/SC service is not running; the CSP's
     *         errors (CAPI-xxxxxx) for a container that cannot be opened
     */
    public static native KeystoreInfo setKeystore(String s, int keyStoreType, String keyStoreId, boolean createNew);

    /**
     * Describes the selected key store: its kind, id, crypto type, chip and PIN state.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the selected store's description
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected
     */
    public static native KeystoreInfo getKeystoreInfo(String s);

    /**
     * Gives the id of the selected key store.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the id, or "" when no key store is selected
     * @throws SignerException BS-001001 when {@code s} names no open session
     */
    public static native String getKeystoreId(String s);

    /**
     * Unselects the key store and the key; the session keeps the store's cached state (its PIN
     * included) for a later selection.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @throws SignerException BS-001001 when {@code s} names no open session
     */
    public static native void forgetKeystore(String s);

    /**
     * Lists the keys of the selected key store, in alias order.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the keys, never null
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected; CP-008013 when the store
     *         needs its PIN first; device and token errors (CP-0170xx, CP-0200xx) as the store
     *         reports them
     */
    public static native KeyInfo[] listKeys(String s);

    /**
     * Selects the key that signs and that the key operations work on.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param alias the key's alias; blanks around it are ignored
     * @return the selected key
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008019 for an empty alias; CP-008005 when no key store is
     *         selected; CP-008017 when the store has no such key
     */
    public static native KeyInfo setKey(String s, String alias);

    /**
     * Describes the selected key.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the selected key
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected; CP-008016 when no key
     *         is selected; CP-008017 when the key is no longer on the store
     */
    public static native KeyInfo getKeyInfo(String s);

    /**
     * Unselects the key; the key store stays selected.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @throws SignerException BS-001001 when {@code s} names no open session
     */
    public static native void forgetKey(String s);

    /**
     * Logs in to the selected key store with the user PIN; the store keeps the login for the
     * session. The PIN is held masked and wiped after use, and is never logged.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param pin the user PIN
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008012 for an empty PIN or one of a length the store refuses;
     *         CP-008005 when no key store is selected; CP-008007, CP-008008, CP-008009 or CP-008010 for a
     *         wrong PIN (with the tries left where the store tells them); CP-008006 or CP-008030 when the
     *         PIN is blocked
     */
    public static native void setPin(String s, String pin);

    /**
     * Changes the user PIN of the selected key store; the store must be logged in to with
     * {@link #setPin(String, String)} first.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param newPin the new user PIN
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008012 for an empty PIN or one of a length the store refuses;
     *         CP-008005 when no key store is selected; CP-008013 when the store needs its PIN first
     */
    public static native void changePin(String s, String newPin);

    /**
     * Gives the password of the selected key (for stores whose keys have passwords of their own,
     * such as CSP containers). The password is held masked and wiped after use.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param password the key's password
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 or CP-008016 when no key store or key is selected;
     *         CP-008007 to CP-008010 for a wrong password; CP-008006 when the key is blocked
     */
    public static native void setKeyPassword(String s, String password);

    /**
     * Changes the password of the selected key.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param newPassword the new password
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 or CP-008016 when no key store or key is selected;
     *         CP-008001 when the key cannot be changed; CP-008014 when the current password was not given
     */
    public static native void changeKeyPassword(String s, String newPassword);

    /**
     * Sets the selected key's external id, given as an unsigned 64-bit decimal number. A key's
     * external id is set once.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param externalId decimal digits only, from 1 to 18446744073709551615
     * @throws SignerException BS-001001 when {@code s} names no open session; the message "stoull" for a text that is not a decimal number or is
     *         out of range; CP-008023 for 0; CP-008005 or CP-008016 when no key store or key is selected;
     *         CP-008001 when the key cannot be changed; CP-008025 when the key already has an external id;
     *         CP-008024 when another key of the store has this id
     */
    public static native void setKeyId(String s, String externalId);

    /**
     * Renames the selected key; it stays selected under the new alias.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param newAlias the new alias; blanks around it are ignored
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008019 for an empty alias; CP-008020 or CP-008064 for an alias
     *         with a character that is not allowed; CP-008021 or CP-008022 when another key has this alias;
     *         CP-008005 or CP-008016 when no key store or key is selected; CP-008001 when the key cannot be
     *         changed
     */
    public static native void changeKeyAlias(String s, String newAlias);

    /**
     * Deletes the selected key from its store. On a CSP container the container is unselected
     * as well; on other stores later key operations fail with CP-008017 until another key is selected.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 or CP-008016 when no key store or key is selected;
     *         CP-008001 when the key cannot be changed; CP-008013 when the store needs its PIN first
     */
    public static native void deleteKey(String s);

    /**
     * Generates a key pair on the selected key store and selects the new key.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param alias the new key's alias; blanks around it are ignored
     * @param systemId the key's system id; only the low 16 bits are kept
     * @param signAlgorithmOid the signature algorithm, for example {@code "1.2.643.7.1.1.1.1"}
     *        (GOST R 34.10-2012, 256 bits)
     * @param algParamsOid the algorithm's parameter set, for example {@code "1.2.643.7.1.2.1.1.1"}
     * @param password the key's password for stores whose keys have one; null or "" for none
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected; the fixed text
     *         "Требуется инициализация ПДСЧ" when the store's random generator must be seeded first
     *         ({@link #sendKeyPressEvent(String, int)}); X509-000001, X509-000002 or X509-0030xx for an
     *         unknown or unsupported algorithm or parameter set; CP-008019 to CP-008022 or CP-008064 for a
     *         bad or taken alias; CP-008013 when the store needs its PIN first; CP-008031 when the store is
     *         full
     */
    public static native void createNewKey(String s, String alias, int systemId, String signAlgorithmOid,
                                           String algParamsOid, String password);

    /**
     * Drives the seeding of a key store's random generator from the timing of the user's key
     * presses. The first call, with key 0, starts the seeding; each later call delivers the key the user
     * pressed and tells which character to ask for next. When the selected store needs no seeding the
     * result asks for nothing ({@code requestedChar} -1).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param key 0 to start, otherwise the code of the key pressed
     * @return the character asked for and its number in the sequence
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected
     */
    public static native KeyPressResult sendKeyPressEvent(String s, int key);

    /**
     * Gives the public key of the selected key: the GOST key bytes, in the token's order in
     * legacy-bank mode, byte-reversed otherwise.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the public key bytes
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005, CP-008016 or CP-008017 when no key store or key is
     *         selected or the key is gone
     */
    public static native byte[] getPublicKey(String s);

    /**
     * Gives the public key of the selected key as a DER-encoded SubjectPublicKeyInfo.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the DER encoding
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005, CP-008016 or CP-008017 when no key store or key is
     *         selected or the key is gone
     */
    public static native byte[] getSubjectPublicKeyInfo(String s);

    /**
     * Signs data with the selected key and returns the bare signature value (for GOST keys the
     * two halves are exchanged unless the session is in legacy-bank mode).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param data the data to sign; it is digested with the key's digest algorithm
     * @return the signature value
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005, CP-008016 or CP-008017 when no key store or key is
     *         selected or the key is gone; CP-008013 or CP-008014 when the PIN or the key's password was
     *         not given; device and token errors (CP-0170xx, CP-0200xx) as the store reports them
     */
    public static native byte[] rawSign(String s, byte[] data);

    /**
     * Signs one document with the selected key and returns a CMS SignedData message (attached or
     * detached as {@code signData.attached} says; with the signer's certificate unless the session is in
     * legacy-bank mode).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param signData the document, how to treat it and the caller's own signed attributes
     * @return the DER-encoded CMS message
     * @throws SignerException BS-001001 when {@code s} names no open session; the errors of {@link #rawSign(String, byte[])}; PKCS-000001 for a
     *         signed attribute that cannot be encoded
     */
    public static native byte[] cmsSign(String s, SignData signData);

    /**
     * Signs several documents with the selected key, as {@link #cmsSign(String, SignData)} does for
     * each, with one login.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param signDataArray the documents
     * @return one DER-encoded CMS message per document, in the same order
     * @throws SignerException as {@link #cmsSign(String, SignData)}
     */
    public static native byte[][] groupCmsSign(String s, SignData[] signDataArray);

    /**
     * Verifies a signature with the given public key. A signature that is a CMS SignedData message
     * is verified as attached when {@code data} is empty and as detached otherwise; any other signature
     * is taken as a bare signature value of {@code data}. The crypto means named by {@code cryptoType}
     * does the work.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param cryptoType the crypto type id that verifies, such as {@code "rutoken_2"}
     * @param signature a CMS message or a bare signature value
     * @param data the signed data; empty for an attached CMS message
     * @param publicKey the signer's GOST public key bytes, in the order {@link #getPublicKey(String)} gives them
     * @param signAlgorithmOid the signature algorithm of a bare signature
     * @param algParamsOid the key's parameter set
     * @return true when the signature matches, false when it does not
     * @throws SignerException BS-001001 when {@code s} names no open session; BS-006004 for an empty signature or crypto type; CP-008002 or
     *         CP-008053 for a crypto type that cannot verify; CP-008026 for an empty public key; X509-xxxxxx for a public key or algorithm that
     *         cannot be read; PKCS-001001 to PKCS-002003 for a CMS message that cannot be read
     */
    public static native boolean verifySign(String s, String cryptoType, byte[] signature, byte[] data,
                                            byte[] publicKey, String signAlgorithmOid, String algParamsOid);

    /**
     * Starts a digest in the session, replacing any digest in progress. For the GOST R 34.11-94
     * family the CryptoPro parameter set is used, or the test parameter set in legacy-bank mode.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param cryptoType the crypto type id that computes the digest, such as {@code "rutoken_2"}
     * @param digestAlgorithmOid the digest algorithm, for example {@code "1.2.643.7.1.1.2.2"}
     *        (GOST R 34.11-2012, 256 bits)
     * @throws SignerException BS-001001 when {@code s} names no open session; X509-000001 for an unknown digest algorithm; CP-008053 for a
     *         crypto type that cannot compute digests; device and token errors as the crypto means
     *         reports them
     */
    public static native void initDigest(String s, String cryptoType, String digestAlgorithmOid);

    /**
     * Starts a digest with the selected key's digest algorithm and crypto type, as
     * {@link #initDigest(String, String, String)} does.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005, CP-008016 or CP-008017 when no key store or key is
     *         selected or the key is gone; the errors of {@link #initDigest(String, String, String)}
     */
    public static native void initDigestByCurrentKey(String s);

    /**
     * Adds data to the digest in progress.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param data the next part of the data
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008052 when no digest was started
     */
    public static native void updateDigest(String s, byte[] data);

    /**
     * Finishes the digest in progress and returns it (in the algorithm's order in legacy-bank mode,
     * byte-reversed otherwise).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @return the digest value
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008052 when no digest was started
     */
    public static native byte[] finalizeDigest(String s);

    /**
     * Has the selected confirmation token sign a digest after showing a text to the user, and
     * returns the signature as a CMS SignedData message. The text becomes a signed attribute
     * (OID 1.2.643.2.66.1.2, UTF8String).
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param data the digest to confirm
     * @param text the text the device shows
     * @return the DER-encoded CMS message
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when the selected key store is not a confirmation
     *         token; CP-008011 when the user declines on the device; CP-008056 when the device must be
     *         reconnected; device errors (CP-0200xx) as the device reports them
     */
    public static native byte[] confirmByOrmidVeltoken(String s, byte[] data, String text);

    /**
     * Lists the certificates of one category held by the selected key store.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param certType the category: 0 unspecified, {@link #CERT_TYPE_USER} (1) the user's own,
     *        2 certification authorities, 3 other parties, 4 revocation lists
     * @return the certificates, never null
     * @throws SignerException BS-001001 when {@code s} names no open session; BS-006003 for another category; CP-008005 when no key store is
     *         selected
     */
    public static native CertInfo[] listCertificates(String s, int certType);

    /**
     * Selects the key of a user certificate of the selected key store.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param certificateId the certificate's id ({@link CertInfo#id})
     * @return the selected key
     * @throws SignerException BS-001001 when {@code s} names no open session; CP-008005 when no key store is selected; CP-008018 when the store
     *         has no user certificate with this id; CP-008017 when no key belongs to it
     */
    public static native KeyInfo setKeyByCertificate(String s, byte[] certificateId);

    /**
     * Writes a certificate or revocation list to the selected key store. A user certificate is
     * attached to the selected key and must carry that key's public key.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param certificate the certificate or revocation list, DER or PEM
     * @param certType the category, as for {@link #listCertificates(String, int)}
     * @return the id the store gave the certificate; empty for a revocation list
     * @throws SignerException BS-001001 when {@code s} names no open session; BS-006003 for an unknown category; CP-008005 when no key store is
     *         selected; for a user certificate CP-008016 when no key is selected, CP-008001 when the key
     *         cannot be changed and CP-008059 when the certificate belongs to another key; X509-002001 or
     *         X509-002002 for a certificate that cannot be read
     */
    public static native byte[] importCertificate(String s, byte[] certificate, int certType);

    /**
     * Removes a certificate from the selected key store. For a user certificate the one attached to
     * the selected key is removed.
     *
     * @param s the session identifier returned by {@link Signer#openSession(boolean)}
     * @param certificateId the certificate's id ({@link CertInfo#id})
     * @param certType the category, as for {@link #listCertificates(String, int)}
     * @throws SignerException BS-001001 when {@code s} names no open session; BS-006003 for an unknown category; CP-008005 when no key store is
     *         selected; for a user certificate CP-008016 when no key is selected and CP-008001 when the key
     *         cannot be changed; CP-008018 when the store has no such certificate
     */
    public static native void deleteCertificate(String s, byte[] certificateId, int certType);
}
