/* Minimal PKCS#11 v2.20 declarations for the lab token modules and their
 * tests, written from the public standard (Linux x86-64: CK_ULONG is 64 bits,
 * default structure packing). Only what the lab uses is declared. */
#ifndef LAB_PKCS11_TYPES_H
#define LAB_PKCS11_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char CK_BYTE;
typedef CK_BYTE CK_CHAR;
typedef CK_BYTE CK_UTF8CHAR;
typedef CK_BYTE CK_BBOOL;
typedef unsigned long CK_ULONG;
typedef long CK_LONG;
typedef CK_ULONG CK_FLAGS;
typedef CK_BYTE* CK_BYTE_PTR;
typedef CK_CHAR* CK_CHAR_PTR;
typedef CK_UTF8CHAR* CK_UTF8CHAR_PTR;
typedef CK_ULONG* CK_ULONG_PTR;
typedef void* CK_VOID_PTR;
typedef CK_VOID_PTR* CK_VOID_PTR_PTR;

typedef CK_ULONG CK_SLOT_ID;
typedef CK_SLOT_ID* CK_SLOT_ID_PTR;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_SESSION_HANDLE* CK_SESSION_HANDLE_PTR;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_OBJECT_HANDLE* CK_OBJECT_HANDLE_PTR;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_ULONG CK_KEY_TYPE;
typedef CK_ULONG CK_CERTIFICATE_TYPE;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_MECHANISM_TYPE* CK_MECHANISM_TYPE_PTR;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_STATE;
typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_NOTIFICATION;

#define CK_TRUE 1
#define CK_FALSE 0
#define CK_UNAVAILABLE_INFORMATION (~0UL)
#define CK_INVALID_HANDLE 0UL

typedef struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
} CK_VERSION;

typedef struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
} CK_INFO;
typedef CK_INFO* CK_INFO_PTR;

typedef struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
} CK_SLOT_INFO;
typedef CK_SLOT_INFO* CK_SLOT_INFO_PTR;

typedef struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_CHAR serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_CHAR utcTime[16];
} CK_TOKEN_INFO;
typedef CK_TOKEN_INFO* CK_TOKEN_INFO_PTR;

typedef struct CK_SESSION_INFO {
    CK_SLOT_ID slotID;
    CK_STATE state;
    CK_FLAGS flags;
    CK_ULONG ulDeviceError;
} CK_SESSION_INFO;
typedef CK_SESSION_INFO* CK_SESSION_INFO_PTR;

typedef struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
} CK_ATTRIBUTE;
typedef CK_ATTRIBUTE* CK_ATTRIBUTE_PTR;

typedef struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;
} CK_MECHANISM;
typedef CK_MECHANISM* CK_MECHANISM_PTR;

typedef struct CK_MECHANISM_INFO {
    CK_ULONG ulMinKeySize;
    CK_ULONG ulMaxKeySize;
    CK_FLAGS flags;
} CK_MECHANISM_INFO;
typedef CK_MECHANISM_INFO* CK_MECHANISM_INFO_PTR;

typedef CK_RV (*CK_NOTIFY)(CK_SESSION_HANDLE, CK_NOTIFICATION, CK_VOID_PTR);
typedef CK_RV (*CK_CREATEMUTEX)(CK_VOID_PTR_PTR);
typedef CK_RV (*CK_DESTROYMUTEX)(CK_VOID_PTR);
typedef CK_RV (*CK_LOCKMUTEX)(CK_VOID_PTR);
typedef CK_RV (*CK_UNLOCKMUTEX)(CK_VOID_PTR);

typedef struct CK_C_INITIALIZE_ARGS {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    CK_VOID_PTR pReserved;
} CK_C_INITIALIZE_ARGS;

/* Flags */
#define CKF_TOKEN_PRESENT 0x1UL
#define CKF_REMOVABLE_DEVICE 0x2UL
#define CKF_HW_SLOT 0x4UL
#define CKF_RNG 0x1UL
#define CKF_LOGIN_REQUIRED 0x4UL
#define CKF_USER_PIN_INITIALIZED 0x8UL
#define CKF_TOKEN_INITIALIZED 0x400UL
#define CKF_USER_PIN_COUNT_LOW 0x10000UL
#define CKF_USER_PIN_FINAL_TRY 0x20000UL
#define CKF_USER_PIN_LOCKED 0x40000UL
#define CKF_USER_PIN_TO_BE_CHANGED 0x80000UL
#define CKF_SO_PIN_COUNT_LOW 0x100000UL
#define CKF_SO_PIN_FINAL_TRY 0x200000UL
#define CKF_SO_PIN_LOCKED 0x400000UL
#define CKF_SO_PIN_TO_BE_CHANGED 0x800000UL
#define CKF_RW_SESSION 0x2UL
#define CKF_SERIAL_SESSION 0x4UL
#define CKF_HW 0x1UL
#define CKF_DIGEST 0x400UL
#define CKF_SIGN 0x800UL
#define CKF_VERIFY 0x2000UL
#define CKF_GENERATE_KEY_PAIR 0x10000UL

/* Session states */
#define CKS_RO_PUBLIC_SESSION 0UL
#define CKS_RO_USER_FUNCTIONS 1UL
#define CKS_RW_PUBLIC_SESSION 2UL
#define CKS_RW_USER_FUNCTIONS 3UL
#define CKS_RW_SO_FUNCTIONS 4UL

/* User types */
#define CKU_SO 0UL
#define CKU_USER 1UL

/* Object classes */
#define CKO_DATA 0UL
#define CKO_CERTIFICATE 1UL
#define CKO_PUBLIC_KEY 2UL
#define CKO_PRIVATE_KEY 3UL
#define CKO_SECRET_KEY 4UL

/* Key types */
#define CKK_RSA 0UL
#define CKK_GOSTR3410 0x30UL
#define CKK_GOSTR3410_512 0xD4321003UL /* vendor: GOST R 34.10-2012 512-bit key */

#define CKC_X_509 0UL

/* Attributes */
#define CKA_CLASS 0x0UL
#define CKA_TOKEN 0x1UL
#define CKA_PRIVATE 0x2UL
#define CKA_LABEL 0x3UL
#define CKA_APPLICATION 0x10UL
#define CKA_VALUE 0x11UL
#define CKA_OBJECT_ID 0x12UL
#define CKA_CERTIFICATE_TYPE 0x80UL
#define CKA_ISSUER 0x81UL
#define CKA_SERIAL_NUMBER 0x82UL
#define CKA_TRUSTED 0x86UL
#define CKA_CERTIFICATE_CATEGORY 0x87UL
#define CKA_KEY_TYPE 0x100UL
#define CKA_SUBJECT 0x101UL
#define CKA_ID 0x102UL
#define CKA_SENSITIVE 0x103UL
#define CKA_ENCRYPT 0x104UL
#define CKA_DECRYPT 0x105UL
#define CKA_WRAP 0x106UL
#define CKA_UNWRAP 0x107UL
#define CKA_SIGN 0x108UL
#define CKA_SIGN_RECOVER 0x109UL
#define CKA_VERIFY 0x10AUL
#define CKA_VERIFY_RECOVER 0x10BUL
#define CKA_DERIVE 0x10CUL
#define CKA_START_DATE 0x110UL
#define CKA_END_DATE 0x111UL
#define CKA_MODULUS 0x120UL
#define CKA_MODULUS_BITS 0x121UL
#define CKA_PUBLIC_EXPONENT 0x122UL
#define CKA_PRIVATE_EXPONENT 0x123UL
#define CKA_PRIME_1 0x124UL
#define CKA_PRIME_2 0x125UL
#define CKA_EXPONENT_1 0x126UL
#define CKA_EXPONENT_2 0x127UL
#define CKA_COEFFICIENT 0x128UL
#define CKA_EXTRACTABLE 0x162UL
#define CKA_LOCAL 0x163UL
#define CKA_NEVER_EXTRACTABLE 0x164UL
#define CKA_ALWAYS_SENSITIVE 0x165UL
#define CKA_KEY_GEN_MECHANISM 0x166UL
#define CKA_MODIFIABLE 0x170UL
#define CKA_ALWAYS_AUTHENTICATE 0x202UL
#define CKA_WRAP_WITH_TRUSTED 0x210UL
#define CKA_GOSTR3410_PARAMS 0x250UL
#define CKA_GOSTR3411_PARAMS 0x251UL
#define CKA_VENDOR_DEFINED 0x80000000UL

/* Mechanisms */
#define CKM_RSA_PKCS_KEY_PAIR_GEN 0x0UL
#define CKM_RSA_PKCS 0x1UL
#define CKM_SHA_1 0x220UL
#define CKM_SHA256 0x250UL
#define CKM_SHA224 0x255UL
#define CKM_SHA384 0x260UL
#define CKM_SHA512 0x270UL
#define CKM_GOSTR3410_KEY_PAIR_GEN 0x1200UL
#define CKM_GOSTR3410 0x1201UL
#define CKM_GOSTR3411 0x1210UL
#define CKM_GOSTR3410_512_KEY_PAIR_GEN 0xD4321005UL /* vendor */
#define CKM_GOSTR3410_512 0xD4321006UL              /* vendor */
#define CKM_GOSTR3411_12_256 0xD4321012UL           /* vendor */
#define CKM_GOSTR3411_12_512 0xD4321013UL           /* vendor */

/* Return values */
#define CKR_OK 0x0UL
#define CKR_CANCEL 0x1UL
#define CKR_HOST_MEMORY 0x2UL
#define CKR_SLOT_ID_INVALID 0x3UL
#define CKR_GENERAL_ERROR 0x5UL
#define CKR_FUNCTION_FAILED 0x6UL
#define CKR_ARGUMENTS_BAD 0x7UL
#define CKR_ATTRIBUTE_READ_ONLY 0x10UL
#define CKR_ATTRIBUTE_SENSITIVE 0x11UL
#define CKR_ATTRIBUTE_TYPE_INVALID 0x12UL
#define CKR_ATTRIBUTE_VALUE_INVALID 0x13UL
#define CKR_DATA_INVALID 0x20UL
#define CKR_DATA_LEN_RANGE 0x21UL
#define CKR_DEVICE_ERROR 0x30UL
#define CKR_DEVICE_MEMORY 0x31UL
#define CKR_DEVICE_REMOVED 0x32UL
#define CKR_FUNCTION_CANCELED 0x50UL
#define CKR_FUNCTION_NOT_SUPPORTED 0x54UL
#define CKR_KEY_HANDLE_INVALID 0x60UL
#define CKR_KEY_SIZE_RANGE 0x62UL
#define CKR_KEY_TYPE_INCONSISTENT 0x63UL
#define CKR_KEY_FUNCTION_NOT_PERMITTED 0x68UL
#define CKR_MECHANISM_INVALID 0x70UL
#define CKR_MECHANISM_PARAM_INVALID 0x71UL
#define CKR_OBJECT_HANDLE_INVALID 0x82UL
#define CKR_OPERATION_ACTIVE 0x90UL
#define CKR_OPERATION_NOT_INITIALIZED 0x91UL
#define CKR_PIN_INCORRECT 0xA0UL
#define CKR_PIN_INVALID 0xA1UL
#define CKR_PIN_LEN_RANGE 0xA2UL
#define CKR_PIN_LOCKED 0xA4UL
#define CKR_SESSION_HANDLE_INVALID 0xB3UL
#define CKR_SESSION_PARALLEL_NOT_SUPPORTED 0xB4UL
#define CKR_SESSION_READ_ONLY 0xB5UL
#define CKR_SESSION_EXISTS 0xB6UL
#define CKR_SESSION_READ_ONLY_EXISTS 0xB7UL
#define CKR_SESSION_READ_WRITE_SO_EXISTS 0xB8UL
#define CKR_SIGNATURE_INVALID 0xC0UL
#define CKR_SIGNATURE_LEN_RANGE 0xC1UL
#define CKR_TEMPLATE_INCOMPLETE 0xD0UL
#define CKR_TEMPLATE_INCONSISTENT 0xD1UL
#define CKR_TOKEN_NOT_PRESENT 0xE0UL
#define CKR_USER_ALREADY_LOGGED_IN 0x100UL
#define CKR_USER_NOT_LOGGED_IN 0x101UL
#define CKR_USER_PIN_NOT_INITIALIZED 0x102UL
#define CKR_USER_TYPE_INVALID 0x103UL
#define CKR_USER_ANOTHER_ALREADY_LOGGED_IN 0x104UL
#define CKR_BUFFER_TOO_SMALL 0x150UL
#define CKR_CRYPTOKI_NOT_INITIALIZED 0x190UL
#define CKR_CRYPTOKI_ALREADY_INITIALIZED 0x191UL
#define CKR_FUNCTION_REJECTED 0x200UL

struct CK_FUNCTION_LIST;
typedef struct CK_FUNCTION_LIST* CK_FUNCTION_LIST_PTR;
typedef CK_FUNCTION_LIST_PTR* CK_FUNCTION_LIST_PTR_PTR;

/* The 68 functions of v2.20, in function-list order. */
#define LAB_PKCS11_FUNCTIONS(X)                                                                              \
    X(C_Initialize, (CK_VOID_PTR pInitArgs))                                                                 \
    X(C_Finalize, (CK_VOID_PTR pReserved))                                                                   \
    X(C_GetInfo, (CK_INFO_PTR pInfo))                                                                        \
    X(C_GetFunctionList, (CK_FUNCTION_LIST_PTR_PTR ppFunctionList))                                          \
    X(C_GetSlotList, (CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount))               \
    X(C_GetSlotInfo, (CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo))                                            \
    X(C_GetTokenInfo, (CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo))                                          \
    X(C_GetMechanismList, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount))  \
    X(C_GetMechanismInfo, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo))          \
    X(C_InitToken, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel))     \
    X(C_InitPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen))                      \
    X(C_SetPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,                     \
                 CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen))                                                \
    X(C_OpenSession, (CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,         \
                      CK_SESSION_HANDLE_PTR phSession))                                                      \
    X(C_CloseSession, (CK_SESSION_HANDLE hSession))                                                          \
    X(C_CloseAllSessions, (CK_SLOT_ID slotID))                                                               \
    X(C_GetSessionInfo, (CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo))                             \
    X(C_GetOperationState,                                                                                   \
      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG_PTR pulOperationStateLen))          \
    X(C_SetOperationState,                                                                                   \
      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen,                \
       CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey))                                \
    X(C_Login, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)) \
    X(C_Logout, (CK_SESSION_HANDLE hSession))                                                                \
    X(C_CreateObject, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,             \
                       CK_OBJECT_HANDLE_PTR phObject))                                                       \
    X(C_CopyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,       \
                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject))                                    \
    X(C_DestroyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject))                               \
    X(C_GetObjectSize, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize))         \
    X(C_GetAttributeValue,                                                                                   \
      (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))  \
    X(C_SetAttributeValue,                                                                                   \
      (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))  \
    X(C_FindObjectsInit, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))         \
    X(C_FindObjects, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,  \
                      CK_ULONG_PTR pulObjectCount))                                                          \
    X(C_FindObjectsFinal, (CK_SESSION_HANDLE hSession))                                                      \
    X(C_EncryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))       \
    X(C_Encrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,                         \
                  CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen))                             \
    X(C_EncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,                   \
                        CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                       \
    X(C_EncryptFinal,                                                                                        \
      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen))    \
    X(C_DecryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))       \
    X(C_Decrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,       \
                  CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                                               \
    X(C_DecryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen, \
                        CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                                         \
    X(C_DecryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen))      \
    X(C_DigestInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism))                               \
    X(C_Digest, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,     \
                 CK_ULONG_PTR pulDigestLen))                                                                 \
    X(C_DigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                   \
    X(C_DigestKey, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey))                                      \
    X(C_DigestFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen))           \
    X(C_SignInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))          \
    X(C_Sign, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,    \
               CK_ULONG_PTR pulSignatureLen))                                                                \
    X(C_SignUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                     \
    X(C_SignFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))       \
    X(C_SignRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))   \
    X(C_SignRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,                     \
                      CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))                                 \
    X(C_VerifyInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))        \
    X(C_Verify, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,  \
                 CK_ULONG ulSignatureLen))                                                                   \
    X(C_VerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                   \
    X(C_VerifyFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen))          \
    X(C_VerifyRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)) \
    X(C_VerifyRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,         \
                        CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                                         \
    X(C_DigestEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,             \
                              CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                 \
    X(C_DecryptDigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,                        \
                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))      \
    X(C_SignEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,               \
                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                   \
    X(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,                        \
                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))      \
    X(C_GenerateKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,   \
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey))                                         \
    X(C_GenerateKeyPair, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                           \
                          CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,           \
                          CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,         \
                          CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey))              \
    X(C_WrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,    \
                  CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen))            \
    X(C_UnwrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                                 \
                    CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen,      \
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))      \
    X(C_DeriveKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,      \
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))      \
    X(C_SeedRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen))                     \
    X(C_GenerateRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen))          \
    X(C_GetFunctionStatus, (CK_SESSION_HANDLE hSession))                                                     \
    X(C_CancelFunction, (CK_SESSION_HANDLE hSession))                                                        \
    X(C_WaitForSlotEvent, (CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved))

#define LAB_PKCS11_POINTER(name, args) CK_RV(*name) args;
struct CK_FUNCTION_LIST {
    CK_VERSION version;
    LAB_PKCS11_FUNCTIONS(LAB_PKCS11_POINTER)
};
#undef LAB_PKCS11_POINTER
typedef struct CK_FUNCTION_LIST CK_FUNCTION_LIST;
typedef CK_RV (*CK_C_GetFunctionList)(CK_FUNCTION_LIST_PTR_PTR);

/* Rutoken extension: extended token information (240 bytes).
 * C_EX_GetTokenInfoExtended(slot, info): the caller sets ulSizeofThisStructure
 * to 240; CKR_ARGUMENTS_BAD for any other size. */
typedef struct LAB_TOKEN_INFO_EXTENDED {
    CK_ULONG ulSizeofThisStructure; /* in: 240 */
    CK_ULONG ulTokenType;
    CK_ULONG ulProtocolNumber;
    CK_ULONG ulMicrocodeNumber;
    CK_ULONG ulOrderNumber;
    CK_FLAGS flags; /* LAB_TOKEN_FLAGS_USER_PIN_CHANGED: the user PIN is no longer the default */
    CK_ULONG ulMaxAdminPinLen;
    CK_ULONG ulMinAdminPinLen;
    CK_ULONG ulMaxUserPinLen;
    CK_ULONG ulMinUserPinLen;
    CK_ULONG ulMaxAdminRetryCount;
    CK_ULONG ulAdminRetryCountLeft;
    CK_ULONG ulMaxUserRetryCount;
    CK_ULONG ulUserRetryCountLeft;
    CK_BYTE serialNumber[8]; /* the serial decoded from hex, first 4 bytes big-endian, rest zero */
    CK_ULONG ulTotalMemory;
    CK_ULONG ulFreeMemory;
    CK_BYTE ATR[64];
    CK_ULONG ulATRLen;
    CK_ULONG ulTokenClass; /* LAB_TOKEN_CLASS_ECP for every Rutoken ECP model */
    CK_ULONG ulBatteryVoltage;
    CK_ULONG ulBodyColor;
    CK_ULONG ulFirmwareChecksum;
} LAB_TOKEN_INFO_EXTENDED;
#define LAB_TOKEN_FLAGS_USER_PIN_CHANGED 0x8UL
#define LAB_TOKEN_CLASS_ECP 1UL
typedef CK_RV (*LAB_C_EX_GetTokenInfoExtended)(CK_SLOT_ID, LAB_TOKEN_INFO_EXTENDED*);

#ifdef __cplusplus
}
#endif

#endif
