// The tokens of the lab's default layout and small steps on them, for the
// tests of the token models and of device recognition.
#pragma once

#include <string>

namespace labtokens
{

inline constexpr const char* RUTOKEN_READER = "Aktiv Rutoken ECP 00 00";
inline constexpr const char* RUTOKEN_SPARE_READER = "Aktiv Rutoken ECP 00 01";
inline constexpr const char* JACARTA_READER = "Aladdin R.D. JaCarta 00 00";
inline constexpr const char* JACARTA_SPARE_READER = "Aladdin R.D. JaCarta 00 01";
inline constexpr const char* MSKEY_READER = "MS_KEY K 00 00";
inline constexpr const char* UNKNOWN_READER = "Generic Smart Card Reader 00 00";
inline constexpr const char* VEL_READER = "ORMID VEL-token 00 00";

inline constexpr const char* RUTOKEN_SERIAL = "0A1B2C3D";
inline constexpr const char* JACARTA_SERIAL = "JC2000000001";
inline constexpr const char* MSKEY_SERIAL = "MSK00000001";

inline constexpr const char* USER_PIN = "12345678";

// Folder of the lab's token modules (from the test environment).
std::string modulesFolder();
// Points the library at the lab's modules for all three makes.
void useLabModules();

// "scripts/lab set": device facts such as "user-tries-left=3".
void setFacts(const std::string& serial, const std::string& facts);
// A new token of a lab model in the free second reader slot of its make.
void addToken(const std::string& model, const std::string& serial);
// Pulls the card out of `reader` and deletes its device.
void removeToken(const std::string& reader, const std::string& serial);

} // namespace labtokens
