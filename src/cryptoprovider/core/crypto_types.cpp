#include "cryptoprovider/core/crypto_types.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "base/localization.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"

namespace crypto
{

namespace
{

template <class Table> auto findRow(const Table& table, std::string_view id) noexcept -> decltype(&table[0])
{
    for (const auto& row : table) {
        if (row.first == id)
            return &row;
    }
    return nullptr;
}

template <class Table> std::string_view lookUp(const Table& table, std::string_view id)
{
    const auto* row = findRow(table, id);
    if (row == nullptr)
        throw UnknownCryptoType();
    return row->second;
}

using SignTable = std::vector<AlgorithmParamsPair>;

void append(SignTable& to, const SignTable& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

SignTable rsaTable(bool withSha224)
{
    SignTable table{
        {RSA_ENCRYPTION, RSA_ENCRYPTION_OID}, {RSA_ENCRYPTION, {}}, {SHA1_WITH_RSA_ENCRYPTION, {}}};
    if (withSha224)
        table.emplace_back(SHA224_WITH_RSA_ENCRYPTION, std::string_view());
    table.emplace_back(SHA256_WITH_RSA_ENCRYPTION, std::string_view());
    table.emplace_back(SHA384_WITH_RSA_ENCRYPTION, std::string_view());
    table.emplace_back(SHA512_WITH_RSA_ENCRYPTION, std::string_view());
    return table;
}

bool isOneOf(std::string_view id, std::initializer_list<std::string_view> ids)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

SignTable signTable(std::string_view id)
{
    SignTable table;
    if (isOneOf(id, {"cryptopro", "vipnet", "messagepro", "ccom33", "ccom34", "ccom33_40_41", "ovt"})) {
        append(table, GOST3410_2001_COMPATIBLE_TABLE);
        append(table, GOST3410_2012_256_COMPATIBLE_TABLE);
        append(table, GOST3410_2012_512_COMPATIBLE_TABLE);
    } else if (id == "signalcom") {
        using crypto_pro_param::A;
        using tc26_gost_3410::paramSetA_512;
        table = {{ECR_3410_2001, A},
                 {GOST_R_3410_2001, A},
                 {GOST_R_3410_2001_GOST_R_3411_1994, A},
                 {GOST_R_3410_2012_256, A},
                 {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, A},
                 {GOST_R_3410_2012_512, paramSetA_512},
                 {GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN, paramSetA_512}};
    } else if (id.starts_with("rutoken_")) {
        append(table, GOST3410_2012_256_COMPATIBLE_TABLE);
        append(table, GOST3410_2012_512_COMPATIBLE_TABLE);
        append(table, rsaTable(true));
    } else if (isOneOf(id, {"angara", "ccom35", "ccom341"})) {
        append(table, GOST3410_2012_256_COMPATIBLE_TABLE);
        append(table, GOST3410_2012_512_COMPATIBLE_TABLE);
    } else if (id == "jacarta_2") {
        table = {{GOST_R_3410_2012_256, crypto_pro_param::A},
                 {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, crypto_pro_param::A}};
    } else if (id == "microsoft") {
        table = rsaTable(false);
    } else {
        throw UnsupportedCryptoType(id);
    }
    return table;
}

} // namespace

bool isSignAlgorithmSupported(std::string_view id, const AlgorithmParamsPair& algorithm)
{
    const SignTable table = signTable(id);
    return std::any_of(table.begin(), table.end(), [&](const AlgorithmParamsPair& allowed) {
        return allowed.second == algorithm.second && allowed.first == algorithm.first;
    });
}

std::string_view getName(std::string_view id)
{
    return lookUp(CRYPTO_NAMES, id);
}

std::string_view getShortName(std::string_view id)
{
    return lookUp(CRYPTO_SHORT_NAMES, id);
}

void checkKnown(std::string_view id)
{
    lookUp(CRYPTO_NAMES, id);
}

std::string_view findName(std::string_view id) noexcept
{
    const auto* row = findRow(CRYPTO_NAMES, id);
    return row != nullptr ? row->second : std::string_view();
}

bool isHardwareDevice(std::string_view id) noexcept
{
    return id.starts_with("rutoken_") || id == "jacarta_2" || id == "angara";
}

std::string makeChipTypeInfo(std::string_view chipName, unsigned package)
{
    if (chipName.empty() || package == 0)
        return {};
    return bs::replace("%1-%2", chipName, bs::addLeadingZeros(std::to_string(package), 3));
}

std::string getChipTypeByCrypto(std::string_view id)
{
    const auto* chip = findRow(CHIP_TYPE, id);
    const auto* package = findRow(PACKAGE_BY_CRYPTO, id);
    return makeChipTypeInfo(chip != nullptr ? chip->second : std::string_view(),
                            package != nullptr ? package->second : 0);
}

CryptoTypeInfo getCryptoTypeInfo(std::string_view id)
{
    return CryptoTypeInfo{std::string(getName(id)), std::string(getShortName(id)), getChipTypeByCrypto(id)};
}

} // namespace crypto
