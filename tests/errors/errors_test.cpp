#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "asn1/errors.h"
#include "asn1/oid.h"
#include "base/errors.h"
#include "capi/errors.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "icrypto/errors.h"
#include "jni/errors.h"
#include "pkcs7/errors.h"
#include "x509/errors.h"

namespace
{

// Every test starts and ends in Russian, the language of a fresh process.
class Errors : public ::testing::Test
{
  protected:
    void SetUp() override { ormid_signer::setLanguageEverywhere(RUSSIAN); }
    void TearDown() override { ormid_signer::setLanguageEverywhere(RUSSIAN); }
};

std::set<std::string> codesOf(const Localization& catalogue, Language language)
{
    std::set<std::string> codes;
    for (const auto& [code, text] : catalogue.catalogue().at(language))
        codes.insert(code);
    return codes;
}

struct CatalogueShape {
    const Localization* catalogue;
    std::vector<std::string> prefixes; // what comes before the digits
    std::size_t digits;
    std::size_t size;
};

bool hasCodeForm(const std::string& code, const CatalogueShape& shape)
{
    for (const std::string& prefix : shape.prefixes) {
        if (code.size() == prefix.size() + shape.digits && code.starts_with(prefix) &&
            code.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
            return true;
    }
    return false;
}

TEST_F(Errors, EveryCatalogueHasTheSameWellFormedCodesInBothLanguages)
{
    const CatalogueShape shapes[] = {
        {&bs::localization, {"BS-"}, 4, 30},
        {&asn1::localization, {"ASN1-"}, 6, 2},
        {&x509::localization, {"X509-", "x509-"}, 6, 11},
        {&pkcs::localization, {"PKCS-"}, 6, 14},
        {&icrypto::localization, {"IC-"}, 6, 5},
        {&cp::localization, {"CP-"}, 6, 122},
        {&capi::localization, {"CAPI-"}, 6, 30},
        {&ormid_signer::localization, {"BS-"}, 6, 8},
    };
    // The language switch reaches exactly these catalogues.
    std::set<const Localization*> switched;
    for (const Localization* catalogue : ormid_signer::allCatalogues())
        switched.insert(catalogue);
    ASSERT_EQ(switched.size(), std::size(shapes));

    for (const CatalogueShape& shape : shapes) {
        SCOPED_TRACE(shape.prefixes.front());
        EXPECT_EQ(switched.count(shape.catalogue), 1u);
        EXPECT_EQ(shape.catalogue->catalogue().size(), 2u);
        const auto russian = codesOf(*shape.catalogue, RUSSIAN);
        const auto english = codesOf(*shape.catalogue, ENGLISH);
        EXPECT_EQ(russian, english);
        EXPECT_EQ(russian.size(), shape.size);
        for (const std::string& code : russian) {
            EXPECT_TRUE(hasCodeForm(code, shape)) << code;
            EXPECT_STRNE(shape.catalogue->get(RUSSIAN, code), "") << code;
            EXPECT_STRNE(shape.catalogue->get(ENGLISH, code), "") << code;
        }
    }
    // Only one code breaks the upper-case form, and it is looked up exactly.
    EXPECT_THROW(x509::localization.get("X509-004001"), std::out_of_range);
}

// One row per catalogue, chosen for the quirks that must survive byte for
// byte: inner quotes, a trailing blank, a leading quote, the lower-case code.
TEST_F(Errors, TextsAreKeptByteForByte)
{
    struct Row {
        const Localization* catalogue;
        const char* code;
        const char* russian;
        const char* english;
    };
    const Row rows[] = {
        {&bs::localization, "BS-0002", "Ошибка поиска пути к файлу \"%1\"", "Find file \"%1\" path error "},
        {&asn1::localization, "ASN1-001002",
         "Время должно быть представлено в формате UTC и заканчиваться 'Z'",
         "Time value must be in universal coordinated time format and must end with 'Z'"},
        {&x509::localization, "x509-004001", "Неизвестный тип открытого ключа", "Unknown public key type"},
        {&pkcs::localization, "PKCS-004001", "Атрибут %1 с одним значением имеет несколько значений",
         "Single-value attribute %1 has multiple values"},
        {&icrypto::localization, "IC-001003", "Ошибка при выработке имитовставки", "Error producing MAC"},
        {&cp::localization, "CP-008035", "Необходимо криптосредство СКЗИ \"Крипто-КОМ 3.5\"",
         "\"Крипто-КОМ 3.5\" not installed"},
        {&capi::localization, "CAPI-000005",
         "Поставщик не смог выполнить действие, поскольку контекст был получен как \"тихий\"",
         "Provider could not perform the action since the context was acquired as silent"},
        {&ormid_signer::localization, "BS-008005",
         "Отсутствует аппаратное устройство с серийным номером \"%1\"",
         "Hardware device with serial number \"%1\" is not present"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_STREQ(row.catalogue->get(RUSSIAN, row.code), row.russian);
        EXPECT_STREQ(row.catalogue->get(ENGLISH, row.code), row.english);
    }
}

// A class, how to build it, and the catalogue entry its message must be.
struct ClassCase {
    const char* name;
    std::function<std::unique_ptr<std::exception>()> make;
    const Localization* catalogue;
    const char* code;
};

template <class E, class... Args> std::function<std::unique_ptr<std::exception>()> maker(Args... args)
{
    return [=] { return std::make_unique<E>(args...); };
}

std::vector<ClassCase> classesWithFixedTexts()
{
    const Localization* cpc = &cp::localization;
    return {
        {"AccessDenied", maker<AccessDenied>(), cpc, "CP-008001"},
        {"UnknownCryptoType", maker<UnknownCryptoType>(), cpc, "CP-008002"},
        {"ScardNoService", maker<ScardNoService>(), cpc, "CP-008004"},
        {"KeyStoreNotSelected", maker<KeyStoreNotSelected>(), cpc, "CP-008005"},
        {"KeyBlocked", maker<KeyBlocked>(), cpc, "CP-008006"},
        {"FunctionCanceled", maker<FunctionCanceled>(), cpc, "CP-008011"},
        {"PinLengthRange", maker<PinLengthRange>(), cpc, "CP-008012"},
        {"PinRequired", maker<PinRequired>(), cpc, "CP-008013"},
        {"PasswordRequired", maker<PasswordRequired>(std::string("key")), cpc, "CP-008014"},
        {"KeyNotSelected", maker<KeyNotSelected>(), cpc, "CP-008016"},
        {"KeyNotFound", maker<KeyNotFound>(), cpc, "CP-008017"},
        {"CertificateNotFound", maker<CertificateNotFound>(), cpc, "CP-008018"},
        {"EmptyKeyAlias", maker<EmptyKeyAlias>(), cpc, "CP-008019"},
        {"InvalidKeyAlias", maker<InvalidKeyAlias>(), cpc, "CP-008064"},
        {"KeyAliasContainCyrillic", maker<KeyAliasContainCyrillic>(), cpc, "CP-008058"},
        {"KeyAliasAlreadyExist", maker<KeyAliasAlreadyExist>(), cpc, "CP-008021"},
        {"EmptyExtKeyId", maker<EmptyExtKeyId>(), cpc, "CP-008023"},
        {"KeyIdAlreadySet", maker<KeyIdAlreadySet>(), cpc, "CP-008025"},
        {"PublicKeyEmpty", maker<PublicKeyEmpty>(), cpc, "CP-008026"},
        {"InvalidKeyForCertificate", maker<InvalidKeyForCertificate>(), cpc, "CP-008059"},
        {"InvalidKeyForPkcs10", maker<InvalidKeyForPkcs10>(), cpc, "CP-008062"},
        {"InvalidPkcs10Sign", maker<InvalidPkcs10Sign>(), cpc, "CP-008063"},
        {"DeviceError", maker<DeviceError>(std::uint16_t{0x6A82}, std::string()), cpc, "CP-008027"},
        {"DeviceNotFound", maker<DeviceNotFound>(std::string("0123")), cpc, "CP-008028"},
        {"InvalidDevice", maker<InvalidDevice>(), cpc, "CP-008029"},
        {"PinBlocked", maker<PinBlocked>(), cpc, "CP-008030"},
        {"CardIsFull", maker<CardIsFull>(), cpc, "CP-008031"},
        {"NotFileKeyStoreError", maker<NotFileKeyStoreError>(), cpc, "CP-008032"},
        {"OldVersionFileKeyStoreError", maker<OldVersionFileKeyStoreError>(), cpc, "CP-008033"},
        {"OldVersionKeyError", maker<OldVersionKeyError>(), cpc, "CP-008034"},
        {"CryptoComLoadError", maker<CryptoComLoadError>(), cpc, "CP-008035"},
        {"UnsupportedCryptoType", maker<UnsupportedCryptoType>(std::string("std")), cpc, "CP-008036"},
        {"CryptoProCSPLoadError", maker<CryptoProCSPLoadError>(), cpc, "CP-008048"},
        {"CryptoProRndNotSetted", maker<CryptoProRndNotSetted>(), cpc, "CP-008061"},
        {"SignalComCSPLoadError", maker<SignalComCSPLoadError>(), cpc, "CP-008049"},
        {"ViPNetCSPLoadError", maker<ViPNetCSPLoadError>(), cpc, "CP-008050"},
        {"mespro::LoadError", maker<mespro::LoadError>(), cpc, "CP-008051"},
        {"DigestContextNotInitialized", maker<DigestContextNotInitialized>(), cpc, "CP-008052"},
        {"FunctionNotImplemented", maker<FunctionNotImplemented>(), cpc, "CP-008053"},
        {"XMLParseError", maker<XMLParseError>(), cpc, "CP-008054"},
        {"VelTokenCryptoComPackageError", maker<VelTokenCryptoComPackageError>(), cpc, "CP-008055"},
        {"NeedReconnectVelToken", maker<NeedReconnectVelToken>(), cpc, "CP-008056"},
        {"UnknownDevice", maker<UnknownDevice>(), cpc, "CP-010001"},
        {"DeviceNotInitialized", maker<DeviceNotInitialized>(), cpc, "CP-010002"},
        {"pkcs11::Exception", maker<pkcs11::Exception>(std::uint32_t{0xA0}), cpc, "CP-017026"},
        {"IncorrectPKCS9Attribute", maker<IncorrectPKCS9Attribute>(), &pkcs::localization, "PKCS-000001"},
        {"UnknownAlgorithm", maker<UnknownAlgorithm>(), &x509::localization, "X509-000001"},
        {"UnsupportedAlgorithm", maker<UnsupportedAlgorithm>(std::string()), &x509::localization,
         "X509-000001"},
        {"Gost3410ECParamsIncompatible", maker<Gost3410ECParamsIncompatible>(), &x509::localization,
         "X509-000003"},
        {"ParsePkcs10Error", maker<ParsePkcs10Error>(), &x509::localization, "X509-001001"},
        {"X509ParseError", maker<X509ParseError>(), &x509::localization, "X509-002001"},
        {"Gost3410ECParamsEmpty", maker<Gost3410ECParamsEmpty>(), &x509::localization, "X509-003001"},
        {"Gost3410ECParamsUnknown", maker<Gost3410ECParamsUnknown>(), &x509::localization, "X509-003002"},
        {"UnknownPublicKeyType", maker<UnknownPublicKeyType>(), &x509::localization, "x509-004001"},
        {"Asn1DecodingError", maker<Asn1DecodingError>(), &asn1::localization, "ASN1-001001"},
        {"icrypto::Gost3411Error", maker<icrypto::Gost3411Error>(), &icrypto::localization, "IC-001001"},
        {"icrypto::Gost28147CTRError", maker<icrypto::Gost28147CTRError>(), &icrypto::localization,
         "IC-001002"},
        {"icrypto::Gost28147MACError", maker<icrypto::Gost28147MACError>(), &icrypto::localization,
         "IC-001003"},
        {"icrypto::PrngError", maker<icrypto::PrngError>(), &icrypto::localization, "IC-001004"},
        {"icrypto::Gost28147ParamsUnknown", maker<icrypto::Gost28147ParamsUnknown>(), &icrypto::localization,
         "IC-001005"},
        {"capi::ProvTypeNotDef", maker<capi::ProvTypeNotDef>(), &capi::localization, "CAPI-000001"},
        {"capi::WrongSign", maker<capi::WrongSign>(), &capi::localization, "CAPI-000002"},
        {"capi::NoKey", maker<capi::NoKey>(), &capi::localization, "CAPI-000003"},
        {"capi::NoContainer", maker<capi::NoContainer>(), &capi::localization, "CAPI-000004"},
        {"capi::SilentContext", maker<capi::SilentContext>(), &capi::localization, "CAPI-000005"},
        {"capi::NoCertificate", maker<capi::NoCertificate>(), &capi::localization, "CAPI-000006"},
        {"capi::NoObject", maker<capi::NoObject>(), &capi::localization, "CAPI-000007"},
        {"bs::GetRandomError", maker<bs::GetRandomError>(), &bs::localization, "BS-0014"},
        {"bs::InvalidUnicodeText", maker<bs::InvalidUnicodeText>(), &bs::localization, "BS-0017"},
    };
}

// Built in each language, every class reads its own catalogue entry in that
// language; this also proves what() never hits a missing code.
TEST_F(Errors, EveryClassReadsItsCatalogueEntryInBothLanguages)
{
    for (const ClassCase& c : classesWithFixedTexts()) {
        SCOPED_TRACE(c.name);
        for (Language language : {RUSSIAN, ENGLISH}) {
            ormid_signer::setLanguageEverywhere(language);
            EXPECT_STREQ(c.make()->what(), c.catalogue->get(language, c.code));
        }
    }
}

TEST_F(Errors, LookedUpTextsFollowTheLanguageComposedOnesKeepTheirs)
{
    const KeyNotFound lookedUp;
    const pkcs11::Exception pkcs11Error(0xA0);
    const KeyAliasAlreadyExist composed("abc");
    EXPECT_STREQ(lookedUp.what(), "Ключ ЭП не найден");
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_STREQ(lookedUp.what(), "DS key not found");
    EXPECT_STREQ(pkcs11Error.what(), "Wrong PIN-code passed to function");
    EXPECT_STREQ(composed.what(), "Уже существует ключ ЭП с таким именем \"abc\"");
    ormid_signer::setLanguageEverywhere(RUSSIAN);
    EXPECT_STREQ(lookedUp.what(), "Ключ ЭП не найден");
}

TEST_F(Errors, TextsThatNoClassFixesPassThrough)
{
    EXPECT_STREQ(FunctionCanceled("отказ").what(), "отказ");
    EXPECT_STREQ(DeviceError(0x6A82, "Файл не найден").what(), "Файл не найден");
    EXPECT_EQ(DeviceError(0x6A82, "").code(), 0x6A82);
    EXPECT_STREQ(SystemError(2, "нет файла").what(), "нет файла");
    const ScardException scard(0x8010001D, "service");
    const SystemError& asSystem = scard;
    EXPECT_EQ(asSystem.code(), 0x8010001Du);
    EXPECT_STREQ(asSystem.what(), "service");
    EXPECT_EQ(CryptoComError(7, "x").code(), 7);
    EXPECT_STREQ(UnsupportedShaAlgorithm().what(), "Unsupported SHA algorithm");
    EXPECT_STREQ(detector::InternalError().what(), "Внутренняя ошибка");
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_STREQ(UnsupportedShaAlgorithm().what(), "Unsupported SHA algorithm");
    EXPECT_STREQ(detector::InternalError().what(), "Внутренняя ошибка");
    EXPECT_EQ(PasswordRequired("мой ключ").alias(), "мой ключ");
    EXPECT_EQ(DeviceNotFound("0A1B").serial(), "0A1B");
}

TEST_F(Errors, InvalidPasswordFollowsRussianPluralForms)
{
    struct Case {
        std::int32_t tries;
        const char* russian;
        const char* english;
    };
    const Case cases[] = {
        {1, "Пароль введен неверно. Осталась 1 попытка ввода",
         "Incorrect password. You have 1 attempt to enter"},
        {2, "Пароль введен неверно. Осталось 2 попытки ввода",
         "Incorrect password. You have 2 attempts to enter"},
        {3, "Пароль введен неверно. Осталось 3 попытки ввода",
         "Incorrect password. You have 3 attempts to enter"},
        {4, "Пароль введен неверно. Осталось 4 попытки ввода",
         "Incorrect password. You have 4 attempts to enter"},
        {5, "Пароль введен неверно. Осталось 5 попыток ввода",
         "Incorrect password. You have 5 attempts to enter"},
        {7, "Пароль введен неверно. Осталось 7 попыток ввода",
         "Incorrect password. You have 7 attempts to enter"},
        {15, "Пароль введен неверно. Осталось 15 попыток ввода",
         "Incorrect password. You have 15 attempts to enter"},
        {16, "Пароль введен неверно", "Incorrect password"},
        {20, "Пароль введен неверно", "Incorrect password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tries);
        ormid_signer::setLanguageEverywhere(RUSSIAN);
        const InvalidPassword russian(c.tries);
        EXPECT_STREQ(russian.what(), c.russian);
        EXPECT_EQ(russian.tries(), c.tries);
        ormid_signer::setLanguageEverywhere(ENGLISH);
        EXPECT_STREQ(InvalidPassword(c.tries).what(), c.english);
    }
    for (std::int32_t blocked : {0, -1, std::numeric_limits<std::int32_t>::min()})
        EXPECT_THROW(InvalidPassword{blocked}, KeyBlocked) << blocked;
}

TEST_F(Errors, ComposedTextsFillTheirPlaceholders)
{
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_STREQ(KeyAliasAlreadyExist("abc").what(), "DS key with the same name already exist: \"abc\"");
    EXPECT_EQ(KeyAliasAlreadyExist("abc").alias(), "abc");
    EXPECT_STREQ(KeyAliasAlreadyExist("").what(), "DS key with the same name already exist");
    EXPECT_STREQ(KeyIdAlreadyExist(18446744073709551615ull).what(),
                 "DS key with the same ID \"18446744073709551615\" already exist");
    EXPECT_STREQ(InvalidKeyAlias("/").what(), "Name of DS key has invalid symbol \"/\"");
    EXPECT_STREQ(InvalidKeyAlias().what(), "Name of DS key has invalid symbol");
    EXPECT_STREQ(Pkcs11LoadError("/usr/lib/librtpkcs11ecp.so").what(),
                 "Loading PKCS #11 library error: /usr/lib/librtpkcs11ecp.so");
    EXPECT_STREQ(LoadLibraryError("libcapi10.so").what(), "Error reading library \"libcapi10.so\"");
    EXPECT_EQ(LoadLibraryError("libcapi10.so").library(), "libcapi10.so");
    EXPECT_STREQ(UnsupportedAlgorithm("SHA-3").what(), "Algorithm \"SHA-3\" is unsupported");
    EXPECT_STREQ(Gost3410ECParamsUnsupported("XchB").what(), "Algorithm params XchB is unsupported");
    EXPECT_THROW(Gost3410ECParamsUnsupported(""), Gost3410ECParamsEmpty);
    EXPECT_EQ(UnsupportedAlgorithm("SHA-3").algorithm(), "SHA-3");
    EXPECT_EQ(Gost3410ECParamsUnsupported("XchB").oid(), "XchB");
    EXPECT_STREQ(ParseCmsContainerError("no content").what(), "Parsing CMS error: no content");
    EXPECT_STREQ(pkcs9::SingleValuedException(ObjectIdentifier("1.2.840.113549.1.9.3")).what(),
                 "Single-value attribute 1.2.840.113549.1.9.3 has multiple values");
    EXPECT_STREQ(pkcs9::NoAttribute(ObjectIdentifier("1.2.840.113549.1.9.4")).what(),
                 "No attribute 1.2.840.113549.1.9.4");
    EXPECT_EQ(pkcs9::NoAttribute(ObjectIdentifier("1.2.840.113549.1.9.4")).oid(), "1.2.840.113549.1.9.4");

    ormid_signer::setLanguageEverywhere(RUSSIAN);
    EXPECT_STREQ(KeyIdAlreadyExist(0).what(), "Уже существует ключ ЭП с таким идентификатором \"0\"");
    EXPECT_STREQ(InvalidKeyAlias("\\").what(), "Имя ключа ЭП содержит недопустимый символ \"\\\"");
}

TEST_F(Errors, UnsupportedCryptoTypeNamesTheTypeWhenTheCatalogueKnowsIt)
{
    const UnsupportedCryptoType named("agava");
    EXPECT_STREQ(named.what(), "Криптосредство \"ПБЗИ \"Агава-С 5.0\"\" не поддерживается");
    EXPECT_EQ(named.cryptoType(), "agava");
    ormid_signer::setLanguageEverywhere(ENGLISH);
    EXPECT_STREQ(UnsupportedCryptoType("agava").what(),
                 "Crypto type \"ПБЗИ \"Агава-С 5.0\"\" is unsupported");
    // "std" has an empty name; an id outside the catalogue has none at all.
    EXPECT_STREQ(UnsupportedCryptoType("std").what(), "Crypto type is unsupported");
    const UnsupportedCryptoType unknown("no-such-type");
    EXPECT_STREQ(unknown.what(), "Crypto type is unsupported");
    EXPECT_EQ(unknown.cryptoType(), "no-such-type");
}

TEST_F(Errors, Pkcs11ReturnValuesSelectTheirTexts)
{
    struct Case {
        std::uint32_t rv;
        const char* code;
    };
    const Case mapped[] = {
        {0x002, "CP-017001"},
        {0x003, "CP-017002"},
        {0x006, "CP-017003"},
        {0x007, "CP-017004"},
        {0x008, "CP-017005"},
        {0x00A, "CP-017006"},
        {0x010, "CP-017007"},
        {0x011, "CP-017008"},
        {0x012, "CP-017009"},
        {0x013, "CP-017010"},
        {0x030, "CP-017011"},
        {0x031, "CP-017012"},
        {0x032, "CP-017013"},
        {0x041, "CP-017014"},
        {0x054, "CP-017015"},
        {0x060, "CP-017016"},
        {0x062, "CP-017017"},
        {0x063, "CP-017018"},
        {0x068, "CP-017019"},
        {0x069, "CP-017020"},
        {0x070, "CP-017021"},
        {0x071, "CP-017022"},
        {0x082, "CP-017023"},
        {0x090, "CP-017024"},
        {0x091, "CP-017025"},
        {0x0A0, "CP-017026"},
        {0x0A1, "CP-017027"},
        {0x0A2, "CP-017028"},
        {0x0A4, "CP-008030"},
        {0x0B0, "CP-017030"},
        {0x0B1, "CP-017031"},
        {0x0B3, "CP-017032"},
        {0x0B4, "CP-017033"},
        {0x0B6, "CP-017034"},
        {0x0B7, "CP-017035"},
        {0x0B8, "CP-017036"},
        {0x0C0, "CP-017037"},
        {0x0C1, "CP-017038"},
        {0x0D0, "CP-017039"},
        {0x0D1, "CP-017040"},
        {0x0E0, "CP-017041"},
        {0x0E1, "CP-017042"},
        {0x0E2, "CP-017043"},
        {0x100, "CP-017044"},
        {0x101, "CP-017045"},
        {0x102, "CP-017046"},
        {0x103, "CP-017047"},
        {0x104, "CP-017048"},
        {0x150, "CP-017049"},
        {0x170, "CP-017050"},
        {0x190, "CP-017051"},
        {0x191, "CP-017052"},
        {0x200, "CP-017053"},
        // Values without a text of their own, including near misses of mapped ones.
        {0x000, "CP-017055"},
        {0x001, "CP-017055"},
        {0x005, "CP-017055"},
        {0x050, "CP-017055"},
        {0x080, "CP-017055"},
        {0x0A3, "CP-017055"},
        {0x0B2, "CP-017055"},
        {0x201, "CP-017055"},
        {0x80000000, "CP-017055"},
        {0xA3A00008, "CP-017055"},
        {0xFFFFFFFF, "CP-017055"},
    };
    std::set<std::string> seen;
    for (const Case& c : mapped) {
        SCOPED_TRACE(c.rv);
        const pkcs11::Exception e(c.rv);
        EXPECT_EQ(e.code(), c.rv);
        EXPECT_STREQ(e.errorCode(), c.code);
        EXPECT_STREQ(e.what(), cp::localization.get(RUSSIAN, c.code));
        seen.insert(c.code);
    }
    // Every PKCS#11 text of the catalogue is reachable from some value.
    for (const std::string& code : codesOf(cp::localization, RUSSIAN)) {
        if (code.starts_with("CP-017")) {
            EXPECT_EQ(seen.count(code), 1u) << code;
        }
    }
}

TEST_F(Errors, Pkcs11ReturnValuesHaveTheirStandardNames)
{
    struct Case {
        std::uint32_t rv;
        const char* name;
    };
    const Case cases[] = {
        {0x000, "CKR_OK"},
        {0x0A0, "CKR_PIN_INCORRECT"},
        {0x0A4, "CKR_PIN_LOCKED"},
        {0x082, "CKR_OBJECT_HANDLE_INVALID"},
        {0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED"},
        {0x200, "CKR_FUNCTION_REJECTED"},
        {0xA3A00008, "CKR_MAX_HDL_NUMBER_REACHED"},
        {0x004, "UNKNOWN"},
        {0x201, "UNKNOWN"},
        {0x80000000, "UNKNOWN"},
    };
    for (const Case& c : cases) {
        const pkcs11::Exception e(c.rv);
        const pkcs11::Exception& base = e;
        EXPECT_STREQ(base.name(), c.name) << c.rv;
    }
}

TEST_F(Errors, CspErrorsCarryTheirValueNameAndText)
{
    ormid_signer::setLanguageEverywhere(ENGLISH);
    const capi::NoKey noKey;
    const capi::Error& asError = noKey;
    EXPECT_EQ(asError.code(), 0x8009000Du);
    EXPECT_STREQ(asError.name(), "NTE_NO_KEY");
    EXPECT_STREQ(asError.what(), "Key does not exist");

    const capi::Error other = capi::Error::fromCatalogue(0x80090009, "CAPI-000017");
    EXPECT_STREQ(other.name(), "NTE_BAD_FLAGS");
    EXPECT_STREQ(other.what(), "Internal error");
    EXPECT_EQ(other.code(), 0x80090009u);

    const capi::Error medium(0x8009001F, bs::replace(capi::localization.get("CAPI-000023"), "FLASH"),
                             "CAPI-000023");
    EXPECT_STREQ(medium.what(), "Keystore \"FLASH\" is not connected");
    EXPECT_STREQ(medium.name(), "NTE_BAD_KEYSET_PARAM");

    struct Case {
        std::uint32_t value;
        const char* name;
    };
    const Case names[] = {
        {0x80090006, "NTE_BAD_SIGNATURE"},
        {0x80090023, "NTE_TOKEN_KEYSET_STORAGE_FULL"},
        {0x80092004, "CRYPT_E_NOT_FOUND"},
        {0x80093202, "CRYPT_E_ASN1_NOEOD"},
        {0x8010002C, "SCARD_E_NO_SUCH_CERTIFICATE"},
        {0x8010006E, "SCARD_W_CANCELLED_BY_USER"},
        {2, "UNKNOWN"},
        {0x80090000, "UNKNOWN"},
    };
    for (const Case& c : names)
        EXPECT_STREQ(capi::errorName(c.value), c.name) << c.value;

    const struct {
        std::function<capi::Error()> make;
        std::uint32_t value;
    } subclasses[] = {
        {[] { return capi::ProvTypeNotDef(); }, 0x80090017},
        {[] { return capi::WrongSign(); }, 0x80090006},
        {[] { return capi::NoKey(); }, 0x8009000D},
        {[] { return capi::NoContainer(); }, 0x80090019},
        {[] { return capi::SilentContext(); }, 0x80090022},
        {[] { return capi::NoCertificate(); }, 0x8010002C},
        {[] { return capi::NoObject(); }, 0x80090011},
    };
    for (const auto& s : subclasses)
        EXPECT_EQ(s.make().code(), s.value);
}

// What a failure hands to Java beside its text, for each kind of raiser.
TEST_F(Errors, FailuresCarryTheirCodeAndData)
{
    struct Case {
        const char* what;
        std::function<void()> raise;
        const char* code;
        std::int32_t tries;
        std::int64_t vendor;
        const char* alias;  // nullptr: none
        const char* serial; // nullptr: none
    };
    const Case cases[] = {
        {"wrong password", [] { throw InvalidPassword(3); }, "CP-008008", 3, -1, nullptr, nullptr},
        {"one try", [] { throw InvalidPassword(1); }, "CP-008009", 1, -1, nullptr, nullptr},
        {"no tries", [] { throw InvalidPassword(0); }, "CP-008006", 0, -1, nullptr, nullptr},
        {"PIN blocked", [] { throw PinBlocked(); }, "CP-008030", 0, -1, nullptr, nullptr},
        {"password required", [] { throw PasswordRequired("ключ 1"); }, "CP-008014", -1, -1, "ключ 1",
         nullptr},
        {"alias taken", [] { throw KeyAliasAlreadyExist("abc"); }, "CP-008022", -1, -1, "abc", nullptr},
        {"a name taken", [] { throw KeyAliasAlreadyExist(); }, "CP-008021", -1, -1, nullptr, nullptr},
        {"device missing", [] { throw DeviceNotFound("0169552957"); }, "CP-008028", -1, -1, nullptr,
         "0169552957"},
        {"no serial", [] { throw DeviceNotFound(); }, "CP-008028", -1, -1, nullptr, nullptr},
        {"CKR_PIN_INCORRECT", [] { throw pkcs11::Exception(0xA0); }, "CP-017026", -1, 0xA0, nullptr, nullptr},
        {"CKR_PIN_LOCKED", [] { throw pkcs11::Exception(0xA4); }, "CP-008030", 0, 0xA4, nullptr, nullptr},
        {"CKR_GENERAL_ERROR", [] { throw pkcs11::Exception(0x5); }, "CP-017055", -1, 0x5, nullptr, nullptr},
        {"device text", [] { throw DeviceError(0x6A80, "Неверные данные команды"); }, "CP-008027", -1, 0x6A80,
         nullptr, nullptr},
        {"device error", [] { throw DeviceError(0, ""); }, "CP-008027", -1, -1, nullptr, nullptr},
        {"PC/SC", [] { throw ScardException(0x8010000C, "No smart card inserted."); }, "CP-008027", -1,
         0x8010000C, nullptr, nullptr},
        {"cancelled", [] { throw FunctionCanceled("Отказ"); }, "CP-008011", -1, -1, nullptr, nullptr},
        {"CSP", [] { capi::handleError(0x80090020); }, "CAPI-000017", -1, 0x80090020, nullptr, nullptr},
        {"CSP PIN blocked", [] { capi::handleError(0x8010006C); }, "CAPI-000029", 0, 0x8010006C, nullptr,
         nullptr},
        {"CSP no key", [] { capi::handleError(0x8009000D); }, "CAPI-000003", -1, 0x8009000D, nullptr,
         nullptr},
        {"library", [] { throw LoadLibraryError("libx.so"); }, "BS-0009", -1, -1, nullptr, nullptr},
        {"CMS", [] { throw ParseCmsContainerError("x"); }, "PKCS-000002", -1, -1, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.raise();
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::exception& e) {
            const auto* failure = dynamic_cast<const bs::Failure*>(&e);
            ASSERT_NE(failure, nullptr);
            EXPECT_STREQ(failure->errorCode(), c.code);
            EXPECT_EQ(failure->triesLeft(), c.tries);
            EXPECT_EQ(failure->vendorCode(), c.vendor);
            EXPECT_EQ(failure->failedAlias(), c.alias ? std::optional<std::string>(c.alias) : std::nullopt);
            EXPECT_EQ(failure->failedSerial(),
                      c.serial ? std::optional<std::string>(c.serial) : std::nullopt);
        }
    }
}

// A standard exception built from a catalogue text is still caught as the
// standard class, with the text's code and its placeholders filled.
TEST_F(Errors, StandardErrorsKeepTheirClassAndCode)
{
    try {
        throw bs::standardError<std::invalid_argument>(x509::localization, "X509-003003", "A");
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(dynamic_cast<const bs::Failure&>(e).errorCode(), "X509-003003");
        EXPECT_EQ(std::string(e.what()), bs::replace(x509::localization.get(RUSSIAN, "X509-003003"), "A"));
    }
    EXPECT_THROW(throw bs::standardError<std::runtime_error>(ormid_signer::localization, "BS-001001"),
                 std::runtime_error);
}

TEST_F(Errors, OnlyTheTwoLanguagesWithTextsCanBeSelected)
{
    ormid_signer::setLanguageEverywhere(ENGLISH);
    try {
        ormid_signer::setLanguageEverywhere(static_cast<Language>(2));
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Incorrect parameters");
    }
    EXPECT_THROW(ormid_signer::setLanguageEverywhere(static_cast<Language>(-1)), std::invalid_argument);
    for (const Localization* catalogue : ormid_signer::allCatalogues())
        EXPECT_EQ(catalogue->language(), ENGLISH);
    EXPECT_STREQ(KeyNotFound().what(), "DS key not found");
}

TEST(Localization, ReadingALookedUpMessageNeverFails)
{
    const Localization catalogue({{"T-1", "один", "one"}});
    const bs::LookedUpError known(catalogue, "T-1");
    const bs::LookedUpError missing(catalogue, "T-9");
    catalogue.setLanguage(ENGLISH);
    EXPECT_STREQ(known.what(), "one");
    catalogue.setLanguage(static_cast<Language>(5));
    EXPECT_STREQ(known.what(), "один");
    EXPECT_STREQ(missing.what(), "T-9");
}

TEST(Localization, RowsBuildBothLanguagesAndRefuseDuplicates)
{
    const Localization catalogue({{"T-1", "один", "one"}, {"T-2", "два", "two"}});
    EXPECT_STREQ(catalogue.get(RUSSIAN, "T-2"), "два");
    EXPECT_STREQ(catalogue.get(ENGLISH, "T-1"), "one");
    EXPECT_TRUE(catalogue.hasLanguage(ENGLISH));
    EXPECT_FALSE(catalogue.hasLanguage(static_cast<Language>(2)));
    EXPECT_THROW(Localization({{"T-1", "один", "one"}, {"T-1", "ещё", "again"}}), std::logic_error);
}

} // namespace
