// Declarations of the CryptoAPI subset that the CSP back end calls, written
// for this project from the interface's public description (Linux x86-64, C
// calling convention, plain C symbols). The simulated CSP of the lab builds
// against the same header.
//
// Values marked "project value" are a CSP's own choice that the interface
// leaves open: this project fixes them here and the lab shares them. A CSP
// installed elsewhere that numbers them differently needs them changed here.
#pragma once

#include <cstdint>

extern "C" {

typedef std::uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned int ALG_ID;
typedef std::uintptr_t HCRYPTPROV;
typedef std::uintptr_t HCRYPTKEY;
typedef std::uintptr_t HCRYPTHASH;
typedef HCRYPTPROV HCRYPTPROV_LEGACY;
typedef void* HCERTSTORE;
typedef char* LPSTR;
typedef const char* LPCSTR;
// Wide strings of this interface are the platform's wchar_t (32 bits here).
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

#define ORMID_CAPI_TRUE 1
#define ORMID_CAPI_FALSE 0

// ---- Blobs and structures -------------------------------------------------

typedef struct CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPTOAPI_BLOB;
typedef CRYPTOAPI_BLOB CRYPT_DATA_BLOB;
typedef CRYPTOAPI_BLOB CRYPT_INTEGER_BLOB;
typedef CRYPTOAPI_BLOB CRYPT_OBJID_BLOB;
typedef CRYPTOAPI_BLOB CERT_NAME_BLOB;
typedef CRYPT_DATA_BLOB* PCRYPT_DATA_BLOB;

typedef struct CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
} CRYPT_BIT_BLOB;

typedef struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

// pszObjId: dotted OID text. Parameters: the DER of the AlgorithmIdentifier's
// parameters element (empty when it has none).
typedef struct CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER;

// A SubjectPublicKeyInfo taken apart. PublicKey holds the BIT STRING's
// content without the unused-bits octet. Finding a certificate by public key
// (CERT_FIND_PUBLIC_KEY) matches the algorithm OID and the key bits.
typedef struct CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO;
typedef CERT_PUBLIC_KEY_INFO* PCERT_PUBLIC_KEY_INFO;

typedef struct CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION;
typedef CERT_EXTENSION* PCERT_EXTENSION;

// The decoded certificate. This library reads only a context's encoded
// bytes; a CSP may leave fields it does not decode empty.
typedef struct CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_INFO;
typedef CERT_INFO* PCERT_INFO;

typedef struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
} CERT_CONTEXT;
typedef CERT_CONTEXT* PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM;
typedef CRYPT_KEY_PROV_PARAM* PCRYPT_KEY_PROV_PARAM;

// Value of the key-provider property (CERT_KEY_PROV_INFO_PROP_ID): which
// container's key a certificate belongs to.
typedef struct CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    PCRYPT_KEY_PROV_PARAM rgProvParam;
    DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO;
typedef CRYPT_KEY_PROV_INFO* PCRYPT_KEY_PROV_INFO;

typedef PCCERT_CONTEXT (*PFN_CRYPT_GET_SIGNER_CERTIFICATE)(void* pvGetArg, DWORD dwCertEncodingType,
                                                           PCERT_INFO pSignerId, HCERTSTORE hMsgCertStore);

// A null pfnGetSignerCertificate: the signer's certificate is taken from the
// message itself.
typedef struct CRYPT_VERIFY_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgAndCertEncodingType;
    HCRYPTPROV_LEGACY hCryptProv;
    PFN_CRYPT_GET_SIGNER_CERTIFICATE pfnGetSignerCertificate;
    void* pvGetArg;
} CRYPT_VERIFY_MESSAGE_PARA;
typedef CRYPT_VERIFY_MESSAGE_PARA* PCRYPT_VERIFY_MESSAGE_PARA;

typedef struct CRYPT_ENCRYPT_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgEncodingType;
    HCRYPTPROV_LEGACY hCryptProv;
    CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
    void* pvEncryptionAuxInfo;
    DWORD dwFlags;
    DWORD dwInnerContentType;
} CRYPT_ENCRYPT_MESSAGE_PARA;
typedef CRYPT_ENCRYPT_MESSAGE_PARA* PCRYPT_ENCRYPT_MESSAGE_PARA;

typedef struct CRYPT_DECRYPT_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgAndCertEncodingType;
    DWORD cCertStore;
    HCERTSTORE* rghCertStore;
} CRYPT_DECRYPT_MESSAGE_PARA;
typedef CRYPT_DECRYPT_MESSAGE_PARA* PCRYPT_DECRYPT_MESSAGE_PARA;

// ---- Public-key blobs -------------------------------------------------------

// Header of every key blob (8 bytes, little-endian aiKeyAlg).
typedef struct BLOBHEADER {
    BYTE bType;
    BYTE bVersion;
    std::uint16_t reserved;
    ALG_ID aiKeyAlg;
} BLOBHEADER;

// RSA public-key blob: BLOBHEADER {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0,
// CALG_RSA_KEYX or CALG_RSA_SIGN}, RSAPUBKEY {RSA1_MAGIC, bit length, public
// exponent}, then the modulus little-endian (bit length / 8 bytes).
typedef struct RSAPUBKEY {
    DWORD magic;
    DWORD bitlen;
    DWORD pubexp;
} RSAPUBKEY;

// GOST public-key blob (import and export): BLOBHEADER {PUBLICKEYBLOB,
// GOST_BLOB_VERSION, 0, key ALG_ID}, the magic GOST_PUBKEY_MAGIC ("MAG1"),
// the key length in bits (twice the parameter set's size: 512 or 1024), the
// DER of the public-key parameter-set OID followed by the DER of the digest
// parameter-set OID, then the public key value (X then Y, each
// little-endian: the octets of the certificate's key).

// ---- Constants ----------------------------------------------------------------

// Provider types.
#define PROV_RSA_AES 24
#define PROV_GOST_2001_DH 75
#define PROV_GOST_2012_256 80
#define PROV_GOST_2012_512 81

// CryptAcquireContextA flags.
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

// CryptGetProvParam enumeration flags.
#define CRYPT_FIRST 0x00000001u
#define CRYPT_NEXT 0x00000002u
// PP_ENUMCONTAINERS: fully qualified names ("\\.\READER\name"); unique names.
#define CRYPT_FQCN 0x00000010u
#define CRYPT_UNIQUE 0x00000008u

// Provider parameters. Texts are CP1251, NUL-terminated. The library reads
// every variable-length output twice: first without buffer for its size,
// then with a buffer of that size; for the enumerating parameters
// (PP_ENUMREADERS, PP_ENUMCONTAINERS) the call without buffer only reports
// the size of the next item and does not advance. The end of an
// enumeration is ERROR_NO_MORE_ITEMS.
#define PP_ENUMCONTAINERS 2
#define PP_NAME 4    // the provider's name; its first word is the maker ("Crypto-Pro ...")
#define PP_VERSION 5 // 4 bytes: minor, major, 0, 0 ("5.0" is 00 05 00 00; see capi::version)
#define PP_CONTAINER 6
#define PP_KEYEXCHANGE_PIN 32 // write: the container's password (CP1251, NUL-terminated)
#define PP_SIGNATURE_PIN 33
#define PP_UNIQUE_CONTAINER 36        // the container's unique name
#define PP_ENUMREADERS 0x72           // project value: the readers, one per call
#define PP_KEY_PARAMSET_OID_LEGACY 94 // project value: key parameter-set OID text, types 2/77/78
// project value: key parameter-set OID text, types 75/80/81; written before
// CryptGenKey it chooses the new key's set
#define PP_KEY_PARAMSET_OID 95
#define PP_FQCN 110            // project value: the full name "\\.\READER\name"
#define PP_CONTAINER_ALIAS 111 // project value: the name the container was created with

// Key specifications and CryptGenKey algorithms.
#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2

// CryptGenKey flags; the upper 16 bits carry an RSA key's bit length.
#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_USER_PROTECTED 0x00000002u

// Key parameters.
#define KP_ALGID 7 // DWORD: CALG_GOST_R3410_... or CALG_RSA_...
#define KP_KEYLEN 9
#define KP_CERTIFICATE 26   // the certificate DER stored with the key
#define KP_KEYSPEC 39       // project value: DWORD, AT_KEYEXCHANGE or AT_SIGNATURE
#define KP_PARAMSET_OID 105 // project value: the key's parameter-set OID text

// Hash parameters.
#define HP_ALGID 1
#define HP_HASHVAL 2
#define HP_HASHSIZE 4
#define HP_PARAMSET_OID 10 // project value: GOST R 34.11-94 parameter-set OID text

// Blob types and versions.
#define SIMPLEBLOB 1
#define PUBLICKEYBLOB 6
#define PRIVATEKEYBLOB 7
#define CUR_BLOB_VERSION 2
#define GOST_BLOB_VERSION 0x20
#define RSA1_MAGIC 0x31415352u        // "RSA1"
#define GOST_PUBKEY_MAGIC 0x3147414Du // "MAG1"

// Algorithm identifiers: class | type | sub-id.
#define ALG_CLASS_SIGNATURE (1u << 13)
#define ALG_CLASS_HASH (4u << 13)
#define ALG_CLASS_KEY_EXCHANGE (5u << 13)
#define ALG_TYPE_ANY 0u
#define ALG_TYPE_RSA (2u << 9)
#define ALG_TYPE_GOST (7u << 9) // project value

#define CALG_MD5 (ALG_CLASS_HASH | ALG_TYPE_ANY | 3u)
#define CALG_SHA1 (ALG_CLASS_HASH | ALG_TYPE_ANY | 4u)
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12u)
#define CALG_SHA_384 (ALG_CLASS_HASH | ALG_TYPE_ANY | 13u)
#define CALG_SHA_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | 14u)
#define CALG_RSA_SIGN (ALG_CLASS_SIGNATURE | ALG_TYPE_RSA | 0u)
#define CALG_RSA_KEYX (ALG_CLASS_KEY_EXCHANGE | ALG_TYPE_RSA | 0u)
// project values
#define CALG_GOST_R3411_94 (ALG_CLASS_HASH | ALG_TYPE_ANY | 0x40u)
#define CALG_GOST_R3411_2012_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 0x41u)
#define CALG_GOST_R3411_2012_512 (ALG_CLASS_HASH | ALG_TYPE_ANY | 0x42u)
#define CALG_SHA_224 (ALG_CLASS_HASH | ALG_TYPE_ANY | 0x43u)
#define CALG_GOST_R3410_2001 (ALG_CLASS_SIGNATURE | ALG_TYPE_GOST | 0x40u)
#define CALG_GOST_R3410_2012_256 (ALG_CLASS_SIGNATURE | ALG_TYPE_GOST | 0x41u)
#define CALG_GOST_R3410_2012_512 (ALG_CLASS_SIGNATURE | ALG_TYPE_GOST | 0x42u)

// Certificates and stores.
#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u
#define CERT_STORE_PROV_SYSTEM_W ((LPCSTR)10) // pvPara: the store's wide name ("MY")
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000u
#define CERT_KEY_PROV_INFO_PROP_ID 2
#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4
#define CERT_FIND_ANY 0u
#define CERT_FIND_PUBLIC_KEY 0x00060000u // pvFindPara: const CERT_PUBLIC_KEY_INFO*

// Error values returned by GetLastError (the whole set the library tells
// apart; see capi::handleError).
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_MORE_DATA 234u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_CANCELLED 1223u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_SIGNATURE 0x80090006u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_NO_KEY 0x8009000Du
#define NTE_EXISTS 0x8009000Fu
#define NTE_PERM 0x80090010u
#define NTE_NOT_FOUND 0x80090011u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_KEYSET_ENTRY_BAD 0x8009001Au
#define NTE_PROVIDER_DLL_FAIL 0x8009001Du
#define NTE_BAD_KEYSET_PARAM 0x8009001Fu
#define NTE_FAIL 0x80090020u
#define NTE_SILENT_CONTEXT 0x80090022u
#define NTE_TOKEN_KEYSET_STORAGE_FULL 0x80090023u
#define CRYPT_E_UNKNOWN_ALGO 0x80091002u
#define CRYPT_E_RECIPIENT_NOT_FOUND 0x8009100Bu
#define CRYPT_E_NOT_FOUND 0x80092004u
#define CRYPT_E_NO_KEY_PROPERTY 0x8009200Bu
#define CRYPT_E_NO_DECRYPT_CERT 0x8009200Cu
#define CRYPT_E_ASN1_ERROR 0x80093100u
#define CRYPT_E_ASN1_BADTAG 0x8009310Bu
#define SCARD_E_NO_SUCH_CERTIFICATE 0x8010002Cu
#define SCARD_W_WRONG_CHV 0x8010006Bu
#define SCARD_W_CHV_BLOCKED 0x8010006Cu
#define SCARD_W_CANCELLED_BY_USER 0x8010006Eu

// ---- Entry points (one pointer type each) -----------------------------------

// libcapi10
typedef BOOL (*PFN_CryptAcquireContextA)(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                         DWORD dwProvType, DWORD dwFlags);
typedef BOOL (*PFN_CryptReleaseContext)(HCRYPTPROV hProv, DWORD dwFlags);
typedef BOOL (*PFN_CryptGetProvParam)(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                      DWORD dwFlags);
typedef BOOL (*PFN_CryptSetProvParam)(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
typedef BOOL (*PFN_CryptGenKey)(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
typedef BOOL (*PFN_CryptGetUserKey)(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
typedef BOOL (*PFN_CryptImportKey)(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                                   DWORD dwFlags, HCRYPTKEY* phKey);
typedef BOOL (*PFN_CryptDestroyKey)(HCRYPTKEY hKey);
typedef BOOL (*PFN_CryptGetKeyParam)(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                     DWORD dwFlags);
typedef BOOL (*PFN_CryptSetKeyParam)(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
typedef BOOL (*PFN_CryptExportKey)(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                                   BYTE* pbData, DWORD* pdwDataLen);
typedef BOOL (*PFN_CryptCreateHash)(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                    HCRYPTHASH* phHash);
typedef BOOL (*PFN_CryptDestroyHash)(HCRYPTHASH hHash);
typedef BOOL (*PFN_CryptHashData)(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
typedef BOOL (*PFN_CryptSignHashA)(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
                                   BYTE* pbSignature, DWORD* pdwSigLen);
typedef BOOL (*PFN_CryptVerifySignatureA)(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                          HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags);
typedef BOOL (*PFN_CryptGetHashParam)(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                      DWORD dwFlags);
typedef BOOL (*PFN_CryptSetHashParam)(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);

// libcapi20
typedef BOOL (*PFN_CryptEncryptMessage)(PCRYPT_ENCRYPT_MESSAGE_PARA pEncryptPara, DWORD cRecipientCert,
                                        PCCERT_CONTEXT* rgpRecipientCert, const BYTE* pbToBeEncrypted,
                                        DWORD cbToBeEncrypted, BYTE* pbEncryptedBlob,
                                        DWORD* pcbEncryptedBlob);
typedef BOOL (*PFN_CryptDecryptMessage)(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara, const BYTE* pbEncryptedBlob,
                                        DWORD cbEncryptedBlob, BYTE* pbDecrypted, DWORD* pcbDecrypted,
                                        PCCERT_CONTEXT* ppXchgCert);
typedef BOOL (*PFN_CryptVerifyDetachedMessageSignature)(PCRYPT_VERIFY_MESSAGE_PARA pVerifyPara,
                                                        DWORD dwSignerIndex, const BYTE* pbDetachedSignBlob,
                                                        DWORD cbDetachedSignBlob, DWORD cToBeSigned,
                                                        const BYTE** rgpbToBeSigned, DWORD* rgcbToBeSigned,
                                                        PCCERT_CONTEXT* ppSignerCert);
typedef BOOL (*PFN_CryptVerifyMessageSignature)(PCRYPT_VERIFY_MESSAGE_PARA pVerifyPara, DWORD dwSignerIndex,
                                                const BYTE* pbSignedBlob, DWORD cbSignedBlob, BYTE* pbDecoded,
                                                DWORD* pcbDecoded, PCCERT_CONTEXT* ppSignerCert);
typedef PCCERT_CONTEXT (*PFN_CertCreateCertificateContext)(DWORD dwCertEncodingType,
                                                           const BYTE* pbCertEncoded, DWORD cbCertEncoded);
typedef BOOL (*PFN_CertFreeCertificateContext)(PCCERT_CONTEXT pCertContext);
typedef HCERTSTORE (*PFN_CertOpenStore)(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                        HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
typedef BOOL (*PFN_CertCloseStore)(HCERTSTORE hCertStore, DWORD dwFlags);
typedef BOOL (*PFN_CertAddCertificateContextToStore)(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                     DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
typedef BOOL (*PFN_CertSetCertificateContextProperty)(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                      DWORD dwFlags, const void* pvData);
// Frees pPrevCertContext (when not null) and returns the next match, or null
// with CRYPT_E_NOT_FOUND.
typedef PCCERT_CONTEXT (*PFN_CertFindCertificateInStore)(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                         DWORD dwFindFlags, DWORD dwFindType,
                                                         const void* pvFindPara,
                                                         PCCERT_CONTEXT pPrevCertContext);
// Frees pPrevCertContext (when not null) and returns the next certificate, or
// null with CRYPT_E_NOT_FOUND at the end.
typedef PCCERT_CONTEXT (*PFN_CertEnumCertificatesInStore)(HCERTSTORE hCertStore,
                                                          PCCERT_CONTEXT pPrevCertContext);
typedef BOOL (*PFN_CertAddEncodedCertificateToStore)(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                     const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                     DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);

// librdrsup (or libcapi10): the calling thread's last error value.
typedef DWORD (*PFN_GetLastError)(void);

} // extern "C"
