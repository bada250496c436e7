// The catalogue of crypto types: ids of crypto means with their display
// names, chip descriptions and kinds of key store.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "x509/algorithms.h"

// Kind of key store; what KeyStore::type() returns.
enum class KeyStoreType : std::int32_t {
    HardwareDevice = 0,     // PKCS#11 tokens found through the PC/SC readers
    CryptoProContainer = 2, // key containers of the CryptoPro CSP
    VelToken = 3,           // the confirmation token
};

// Display facts of one crypto type.
struct CryptoTypeInfo {
    std::string fullName;
    std::string shortName;
    std::string chipType;
};

namespace crypto
{

using NameRow = std::pair<std::string_view, std::string_view>;
using PackageRow = std::pair<std::string_view, unsigned>;

// clang-format off
inline constexpr std::array<NameRow, 23> CRYPTO_NAMES = {{
    {"cryptopro", "СКЗИ \"КриптоПро CSP\""},
    {"signalcom", "Криптопровайдер Signal-COM CSP"},
    {"microsoft", "Microsoft Enhanced RSA and AES Cryptographic Provider"},
    {"vipnet", "СКЗИ \"ViPNet CSP\""},
    {"messagepro", "СКЗИ \"Message-PRO\""},
    {"rutoken_2", "СКЗИ \"Рутокен ЭЦП 2.0\""},
    {"rutoken_2100", "СКЗИ \"Рутокен ЭЦП 2.0 2100\""},
    {"rutoken_3000", "СКЗИ \"Рутокен ЭЦП 2.0 3000\""},
    {"rutoken_3", "СКЗИ \"Рутокен ЭЦП 3.0\""},
    {"rutoken_3220", "СКЗИ \"Рутокен ЭЦП 3.0\" (вариант исполнения 5)"},
    {"angara", "СКЗИ \"MS_KEY K\" – \"АНГАРА\" Исп.8.1.1"},
    {"jacarta_2", "СКЗИ \"Криптотокен 2\" в составе изделия JaCarta ГОСТ"},
    {"ccom33", "СКЗИ \"Крипто-КОМ 3.3\""},
    {"ccom33_40_41", "СКЗИ \"Крипто-КОМ 3.3\""},
    {"ccom34", "СКЗИ \"Крипто-КОМ 3.4\""},
    {"ccom341", "СКЗИ \"Крипто-КОМ 3.4\" (вариант исполнения 42, 43)"},
    {"ccom35", "СКЗИ \"Крипто-КОМ 3.5\""},
    {"ovt", "VEL-токен ORMID"},
    {"ccom", "СКЗИ \"Крипто-КОМ 3.2\""},
    {"crc", "ПБЗИ \"Крипто-Си 1.0\""},
    {"crc2", "ПБЗИ \"Крипто-Си\" Версия 2.0"},
    {"agava", "ПБЗИ \"Агава-С 5.0\""},
    {"std", ""},
}};

inline constexpr std::array<NameRow, 23> CRYPTO_SHORT_NAMES = {{
    {"cryptopro", "КриптоПро CSP"},
    {"signalcom", "Signal-COM CSP"},
    {"microsoft", "Microsoft AES"},
    {"vipnet", "ViPNet CSP"},
    {"messagepro", "Message-PRO"},
    {"rutoken_2", "Рутокен ЭЦП 2.0"},
    {"rutoken_2100", "Рутокен ЭЦП 2.0 2100"},
    {"rutoken_3000", "Рутокен ЭЦП 2.0 3000"},
    {"rutoken_3", "Рутокен ЭЦП 3.0"},
    {"rutoken_3220", "Рутокен ЭЦП 3.0 3220"},
    {"angara", "MS_KEY K – АНГАРА"},
    {"jacarta_2", "JaCarta ГОСТ - Криптотокен 2"},
    {"ccom33", "Крипто-КОМ 3.3"},
    {"ccom33_40_41", "Крипто-КОМ 3.3"},
    {"ccom34", "Крипто-КОМ 3.4"},
    {"ccom341", "Крипто-КОМ 3.4"},
    {"ccom35", "Крипто-КОМ 3.5"},
    {"ovt", "VEL-токен ORMID"},
    {"ccom", "Крипто-КОМ 3.2"},
    {"crc", "Крипто-Си 1.0"},
    {"crc2", "Крипто-Си 2.0"},
    {"agava", "Агава-С"},
    {"std", ""},
}};

inline constexpr std::array<NameRow, 7> CHIP_TYPE = {{
    {"rutoken_2", "RUTOKEN_ECP_2"},
    {"rutoken_2100", "RUTOKEN_ECP_2"},
    {"rutoken_3000", "RUTOKEN_ECP_2"},
    {"rutoken_3", "RUTOKEN_ECP_3"},
    {"rutoken_3220", "RUTOKEN_ECP_3"},
    {"angara", "MSKEY_K"},
    {"jacarta_2", "JACARTA_GOST"},
}};

inline constexpr std::array<PackageRow, 7> PACKAGE_BY_CRYPTO = {{
    {"rutoken_2", 401},
    {"rutoken_2100", 402},
    {"rutoken_3000", 403},
    {"rutoken_3", 501},
    {"rutoken_3220", 502},
    {"angara", 202},
    {"jacarta_2", 303},
}};
// clang-format on

// Full name; UnknownCryptoType for an id outside the catalogue.
std::string_view getName(std::string_view id);
// Short name; UnknownCryptoType for an id outside the catalogue.
std::string_view getShortName(std::string_view id);
// UnknownCryptoType for an id outside the catalogue.
void checkKnown(std::string_view id);
// Full name, or empty for an id outside the catalogue (never throws).
std::string_view findName(std::string_view id) noexcept;

// A token model reached through PKCS#11.
bool isHardwareDevice(std::string_view id) noexcept;

// "<chip>-<package>" with the package as at least three digits, e.g.
// "RUTOKEN_ECP_2-401"; empty when the chip is empty or the package is 0.
std::string makeChipTypeInfo(std::string_view chipName, unsigned package);
// Chip text of a token model; empty for ids without a chip.
std::string getChipTypeByCrypto(std::string_view id);

// Whether the crypto type signs with this (signature algorithm, parameter-set
// OID text) pair; UnsupportedCryptoType for a type without a signature table.
bool isSignAlgorithmSupported(std::string_view id, const AlgorithmParamsPair& algorithm);

// Full name, short name and chip text; UnknownCryptoType for an unknown id.
CryptoTypeInfo getCryptoTypeInfo(std::string_view id);

} // namespace crypto
