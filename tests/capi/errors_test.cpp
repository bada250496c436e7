// Translation of CSP error values into the library's exceptions: every value
// the back end tells apart, in both languages, and values it does not.
#include <gtest/gtest.h>

#include <typeindex>
#include <typeinfo>
#include <vector>

#include "asn1/errors.h"
#include "capi/capi_types.h"
#include "capi/errors.h"
#include "x509/errors.h"

namespace
{

struct Row {
    std::uint32_t value;
    std::type_index type;
    const char* catalogueCode; // null for the exceptions of other catalogues
    const char* name;
};

const std::type_index ERROR = typeid(capi::Error);

// clang-format off
const std::vector<Row> ROWS{
    {2, ERROR, "CAPI-000016", "UNKNOWN"},
    {5, ERROR, "CAPI-000031", "UNKNOWN"},
    {87, ERROR, "CAPI-000018", "UNKNOWN"},
    {126, ERROR, "CAPI-000019", "UNKNOWN"},
    {1223, ERROR, "CAPI-000030", "UNKNOWN"},
    {0x80090005, ERROR, "CAPI-000008", "NTE_BAD_DATA"},
    {0x80090006, typeid(capi::WrongSign), "CAPI-000002", "NTE_BAD_SIGNATURE"},
    {0x8009000A, ERROR, "CAPI-000009", "NTE_BAD_TYPE"},
    {0x8009000D, typeid(capi::NoKey), "CAPI-000003", "NTE_NO_KEY"},
    {0x8009000F, ERROR, "CAPI-000025", "NTE_EXISTS"},
    {0x80090010, ERROR, "CAPI-000031", "NTE_PERM"},
    {0x80090011, typeid(capi::NoObject), "CAPI-000007", "NTE_NOT_FOUND"},
    {0x80090016, ERROR, "CAPI-000021", "NTE_BAD_KEYSET"},
    {0x80090017, typeid(capi::ProvTypeNotDef), "CAPI-000001", "NTE_PROV_TYPE_NOT_DEF"},
    {0x80090019, typeid(capi::NoContainer), "CAPI-000004", "NTE_KEYSET_NOT_DEF"},
    {0x8009001A, ERROR, "CAPI-000010", "NTE_KEYSET_ENTRY_BAD"},
    {0x8009001D, ERROR, "CAPI-000011", "NTE_PROVIDER_DLL_FAIL"},
    {0x8009001F, ERROR, "CAPI-000012", "NTE_BAD_KEYSET_PARAM"},
    {0x80090020, ERROR, "CAPI-000017", "NTE_FAIL"},
    {0x80090022, typeid(capi::SilentContext), "CAPI-000005", "NTE_SILENT_CONTEXT"},
    {0x80090023, ERROR, "CAPI-000026", "NTE_TOKEN_KEYSET_STORAGE_FULL"},
    {0x80091002, typeid(UnknownAlgorithm), nullptr, nullptr},
    {0x8009100B, ERROR, "CAPI-000015", "CRYPT_E_RECIPIENT_NOT_FOUND"},
    {0x80092004, ERROR, "CAPI-000013", "CRYPT_E_NOT_FOUND"},
    {0x8009200B, ERROR, "CAPI-000027", "CRYPT_E_NO_KEY_PROPERTY"},
    {0x8009200C, ERROR, "CAPI-000014", "CRYPT_E_NO_DECRYPT_CERT"},
    {0x8010002C, typeid(capi::NoCertificate), "CAPI-000006", "SCARD_E_NO_SUCH_CERTIFICATE"},
    {0x8010006B, ERROR, "CAPI-000028", "SCARD_W_WRONG_CHV"},
    {0x8010006C, ERROR, "CAPI-000029", "SCARD_W_CHV_BLOCKED"},
    {0x8010006E, ERROR, "CAPI-000030", "SCARD_W_CANCELLED_BY_USER"},
    // Values without a row of their own.
    {0x80090009, ERROR, "CAPI-000017", "NTE_BAD_FLAGS"},
    {0x8010006D, ERROR, "CAPI-000017", "SCARD_W_EOF"},
    {0, ERROR, "CAPI-000017", "UNKNOWN"},
    {0x12345678, ERROR, "CAPI-000017", "UNKNOWN"},
    // Just outside the ranges of ASN.1 values.
    {0x8009310F, ERROR, "CAPI-000017", "UNKNOWN"},
    {0x80093135, ERROR, "CAPI-000017", "UNKNOWN"},
};
// clang-format on

std::vector<std::uint32_t> asn1Values()
{
    std::vector<std::uint32_t> values;
    for (std::uint32_t v = 0x80093100; v <= 0x8009310E; ++v)
        values.push_back(v);
    values.insert(values.end(), {0x80093133, 0x80093134, 0x80093201, 0x80093202});
    return values;
}

class HandleErrorTest : public ::testing::Test
{
  protected:
    void TearDown() override { capi::localization.setLanguage(RUSSIAN); }
};

TEST_F(HandleErrorTest, EveryValueGivesItsExceptionCodeNameAndTextInBothLanguages)
{
    std::vector<Row> rows = ROWS;
    for (std::uint32_t value : asn1Values())
        rows.push_back({value, typeid(Asn1DecodingError), nullptr, nullptr});

    for (const Language language : {RUSSIAN, ENGLISH}) {
        capi::localization.setLanguage(language);
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << std::hex << row.value << " language " << language);
            try {
                capi::handleError(row.value);
                ADD_FAILURE() << "returned";
            } catch (const capi::Error& e) {
                EXPECT_EQ(std::type_index(typeid(e)), row.type);
                EXPECT_EQ(e.code(), row.value);
                ASSERT_NE(row.name, nullptr);
                EXPECT_STREQ(e.name(), row.name);
                EXPECT_STREQ(e.errorCode(), row.catalogueCode);
                EXPECT_STREQ(e.what(), capi::localization.get(language, row.catalogueCode));
            } catch (const std::exception& e) {
                EXPECT_EQ(std::type_index(typeid(e)), row.type);
                EXPECT_EQ(row.catalogueCode, nullptr);
            }
        }
    }
}

} // namespace
