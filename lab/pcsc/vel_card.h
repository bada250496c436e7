// The confirmation token: life-cycle, PIN, session and device-key signing,
// its state kept in a file of the lab state directory.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "cards.h"

namespace lab
{

// Key/value text file, one "key=value" a line. Saved atomically.
class VelState
{
  public:
    static std::string pathFor(const std::string& stateDir, const std::string& device);
    // The device's APDU log, next to its state file.
    static std::string apduLogPathFor(const std::string& stateDir, const std::string& device);

    explicit VelState(std::string path) : m_path(std::move(path)) {}
    // std::runtime_error when the file is missing or a value is malformed.
    void load();
    void save() const;

    // A new device: fresh GOST R 34.10-2012 512-bit key pair, default PIN in use.
    void create(const std::string& serialHex);
    // Sets one field; std::invalid_argument for an unknown key or bad value.
    // An empty value removes an optional field (turns it off).
    void set(const std::string& key, const std::string& value);
    std::string get(const std::string& key) const;
    int getInt(const std::string& key) const;
    // "" when the field is absent.
    std::string getOptional(const std::string& key) const;
    // 0 when the field is absent.
    int getOptionalInt(const std::string& key) const;

  private:
    std::string m_path;
    std::map<std::string, std::string> m_values;
};

std::unique_ptr<Card> makeVelCard(const std::string& stateDir, const std::string& device);

// Signs `data` the way the device does (Streebog-512, GOST R 34.10-2012 512,
// signature s || r big-endian), with the private key `dHex` (big-endian).
bytes velSign(const std::string& dHex, const bytes& data);

} // namespace lab
