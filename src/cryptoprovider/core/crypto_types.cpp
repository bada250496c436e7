#include "cryptoprovider/core/crypto_types.h"

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

} // namespace

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
