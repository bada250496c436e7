// Base of the key stores that live on a device in a smart-card reader: the
// PKCS#11 tokens and the confirmation token.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "cryptoprovider/core/key_store.h"

// Model number of a device.
using PACKAGE = std::uint32_t;

class HardwareDevice : public KeyStore
{
  public:
    HardwareDevice(std::string_view name, std::string_view cryptoType, std::string_view chipType,
                   PACKAGE package);

    std::string cryptoType() const override { return m_cryptoType; }
    KeyStoreType type() const override { return KeyStoreType::HardwareDevice; }
    // The reader must answer; then a store without PIN is ready, and one
    // with a PIN is ready when a PIN is cached. A failure other than a
    // missing PIN clears the store's caches and propagates.
    bool isPinSet() override;

    virtual bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                               const AlgorithmId& digestAlgorithm);

    // PC/SC reader name.
    const std::string& name() const noexcept { return m_name; }
    const std::string& chipType() const noexcept { return m_chipType; }
    PACKAGE package() const noexcept { return m_package; }
    std::string shortName() const;
    bool isUserPinBlocked() const noexcept { return m_isUserPinBlocked.load(); }
    void setIsUserPinBlocked(bool blocked) noexcept { m_isUserPinBlocked = blocked; }
    bool isAdminPinBlocked() const noexcept { return m_isAdminPinBlocked.load(); }
    void setIsAdminPinBlocked(bool blocked) noexcept { m_isAdminPinBlocked = blocked; }

  protected:
    // Connects to the device's reader and lets it go again; a reader that is
    // gone fails with the PC/SC errors. Supplied by the back ends, which sit
    // above the smart-card layer.
    virtual void connectReader() = 0;

  private:
    std::string m_name;
    std::string m_cryptoType;
    std::string m_chipType;
    PACKAGE m_package;
    std::atomic<bool> m_isUserPinBlocked{false};
    std::atomic<bool> m_isAdminPinBlocked{false};
};
