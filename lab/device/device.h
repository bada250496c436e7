// Shared state of the simulated devices of the lab.
//
// One device is one folder DIR/devices/<serial>/ holding
//   device.conf  - the device facts, "key=value" lines (unknown keys are kept);
//   objects.txt  - the token objects (handle and attributes, values in hex);
//   .lock        - the lock file: readers take a shared flock, writers an
//                  exclusive one, and files are replaced atomically (rename),
//                  so the PKCS#11 modules and the card simulator, in any
//                  process, see one consistent device.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace labdev
{

using Bytes = std::vector<std::uint8_t>;

// Environment variable naming the lab state directory.
inline constexpr const char* STATE_DIR_ENV = "ORMID_LAB_DIR";

// Device facts (keys of device.conf).
namespace fact
{
inline constexpr const char* MODEL = "model";
inline constexpr const char* SERIAL = "serial"; // serialNumber text of the token, at most 16 characters
inline constexpr const char* READER = "reader"; // PC/SC reader name of the simulated card
inline constexpr const char* SLOT = "slot";     // PKCS#11 slot id within the device's module
inline constexpr const char* LABEL = "label";
inline constexpr const char* PRESENT = "present"; // 0: token removed from its slot
inline constexpr const char* USER_PIN = "user-pin";
inline constexpr const char* SO_PIN = "so-pin";
inline constexpr const char* USER_TRIES_MAX = "user-tries-max";
inline constexpr const char* USER_TRIES_LEFT = "user-tries-left";
inline constexpr const char* SO_TRIES_MAX = "so-tries-max";
inline constexpr const char* SO_TRIES_LEFT = "so-tries-left";
inline constexpr const char* USER_PIN_INITIALIZED = "user-pin-initialized";
inline constexpr const char* USER_PIN_DEFAULT = "user-pin-default"; // the user PIN was never changed
inline constexpr const char* MIN_PIN_LEN = "min-pin-len";
inline constexpr const char* MAX_PIN_LEN = "max-pin-len";
inline constexpr const char* MAX_OBJECTS = "max-objects"; // 0: no limit on token objects
inline constexpr const char* REJECT_ATTRIBUTES =
    "reject-attributes"; // attribute types (hex, comma-separated)
                         // C_CreateObject refuses
// "little" (default): GOST public values are X||Y with each coordinate
// little-endian, as in certificates; "big": each coordinate big-endian.
inline constexpr const char* PUBLIC_KEY_ORDER = "public-key-order";
} // namespace fact

// Models and the PKCS#11 module family that serves each.
struct ModelInfo {
    std::string_view name;       // "rutoken-ecp-2", "angara", "jacarta-gost2", ...
    std::string_view family;     // "rutoken", "angara", "jacarta"
    std::string_view tokenModel; // CK_TOKEN_INFO.model
    std::uint8_t chipModel;      // Rutoken chip data byte 1 (0 for other makes)
};
const std::vector<ModelInfo>& models();
// nullptr for an unknown model name.
const ModelInfo* findModel(std::string_view name);

struct TokenObject {
    std::uint64_t handle = 0;
    std::map<std::uint64_t, Bytes> attributes;

    bool has(std::uint64_t type) const { return attributes.count(type) != 0; }
    // Empty when absent.
    Bytes get(std::uint64_t type) const;
};

struct Device {
    std::map<std::string, std::string> facts;
    std::vector<TokenObject> objects;
    std::uint64_t nextHandle = 1;

    std::string get(const std::string& key, const std::string& fallback = {}) const;
    // std::runtime_error when the value is present but not a number.
    long long getInt(const std::string& key, long long fallback = 0) const;
    bool getBool(const std::string& key, bool fallback = false) const { return getInt(key, fallback) != 0; }
    void set(const std::string& key, const std::string& value);
    void setInt(const std::string& key, long long value) { set(key, std::to_string(value)); }

    std::string serial() const { return get(fact::SERIAL); }
    std::string model() const { return get(fact::MODEL); }

    TokenObject* findObject(std::uint64_t handle);
    // Adds a token object with a fresh handle; returns the handle.
    std::uint64_t addObject(std::map<std::uint64_t, Bytes> attributes);
    bool removeObject(std::uint64_t handle);
};

// A fresh device of a model with the default facts: user PIN "12345678",
// SO PIN "87654321", 10 tries each, user PIN initialised and still default.
// std::invalid_argument for an unknown model, a serial that is not 1 to 16
// characters of [0-9A-Za-z_-] or a reader name with a line break.
Device makeDevice(std::string_view model, std::string_view serial, std::string_view reader);

// Checks a fact key/value pair; std::invalid_argument when unusable.
void checkFact(std::string_view key, std::string_view value);

// Text forms (used for the files, exposed for tests).
std::string formatFacts(const Device& device);
void parseFacts(std::string_view text, Device& device);
std::string formatObjects(const Device& device);
void parseObjects(std::string_view text, Device& device);

class DeviceDirectory
{
  public:
    explicit DeviceDirectory(std::filesystem::path stateDir);
    // The directory named by ORMID_LAB_DIR; std::runtime_error when unset.
    static DeviceDirectory fromEnvironment();

    const std::filesystem::path& stateDir() const noexcept { return m_dir; }
    std::filesystem::path deviceDir(std::string_view serial) const;

    // Serials of the devices present in the directory, sorted.
    std::vector<std::string> serials() const;
    bool exists(std::string_view serial) const;

    // Stores a new device; its slot fact is set to the lowest slot id free
    // among the devices of the same module family unless given.
    // std::runtime_error when a device with the serial exists.
    void add(Device device);
    // std::runtime_error when there is no such device.
    void remove(std::string_view serial);
    // Shared lock, read. std::runtime_error when there is no such device.
    Device load(std::string_view serial) const;
    // Exclusive lock, read, change, write back (only when `change` returns).
    void update(std::string_view serial, const std::function<void(Device&)>& change);

  private:
    std::filesystem::path m_dir;
};

// A flock held on a file for the lifetime of the object.
class FileLock
{
  public:
    FileLock(const std::filesystem::path& file, bool exclusive);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int m_fd = -1;
};

// Writes a file atomically (temporary file in the same folder, then rename).
void writeFileAtomically(const std::filesystem::path& file, std::string_view content);
std::string readTextFile(const std::filesystem::path& file);

std::string toHex(const Bytes& data);
// std::invalid_argument for odd length or non-hex characters.
Bytes fromHex(std::string_view hex);

} // namespace labdev
