// One key as a key store knows it, and the helpers that name and classify
// keys.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "x509/algorithms.h"
#include "x509/x509.h"

class KeyRecord
{
  public:
    KeyRecord(std::string_view alias, const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
              std::string_view cryptoType, const X509& x509);
    virtual ~KeyRecord() = default;

    // Rejects a record that cannot be used to sign, in this order: a blank
    // alias (EmptyKeyAlias), a signature algorithm without OID
    // (UnknownAlgorithm), a GOST key without parameter set
    // (Gost3410ECParamsEmpty).
    virtual void check() const;
    void emptyAliasCheck() const;
    void emptyKeyAlgParams() const;

    const std::string& alias() const noexcept { return m_alias; }
    // Stores the alias trimmed.
    void setAlias(std::string_view alias);
    std::uint16_t systemId() const noexcept { return m_systemId; }
    void setSystemId(std::uint16_t systemId) noexcept { m_systemId = systemId; }
    std::uint64_t externalId() const noexcept { return m_externalId; }
    void setExternalId(std::uint64_t externalId) noexcept { m_externalId = externalId; }
    // The back end's small key number; 255 when it has none.
    std::uint8_t id() const noexcept { return m_id; }
    void setId(std::uint8_t id) noexcept { m_id = id; }
    const AlgorithmId& signAlgorithm() const noexcept { return m_signAlgorithm; }
    // A non-empty algorithm also brings its digest algorithm along; an empty
    // one leaves the digest algorithm as it was.
    void setSignAlgorithm(const AlgorithmId& signAlgorithm);
    const AlgorithmId& digestAlgorithm() const noexcept { return m_digestAlgorithm; }
    const std::string& algParamsOid() const noexcept { return m_algParamsOid; }
    void setAlgParamsOid(std::string_view oid) { m_algParamsOid = oid; }
    const std::string& cryptoType() const noexcept { return m_cryptoType; }
    void setCryptoType(std::string_view cryptoType) { m_cryptoType = cryptoType; }
    // The certificate may be replaced while other threads read it (a
    // session's threads share its key records): both take a lock.
    X509 x509() const { return m_x509.get(); }
    void setX509(const X509& x509) { m_x509.set(x509); }
    bool hasPassword() const noexcept { return m_hasPassword; }
    void setHasPassword(bool hasPassword) noexcept { m_hasPassword = hasPassword; }
    // False for keys of other software and keys taken from certificates.
    bool isChangeable() const noexcept { return m_isChangeable; }
    void setIsChangeable(bool isChangeable) noexcept { m_isChangeable = isChangeable; }

  protected:
    KeyRecord(const KeyRecord&) = default;
    KeyRecord& operator=(const KeyRecord&) = default;

  private:
    // A certificate read and replaced under its own lock; copying a record
    // copies the value under the lock of the copied one.
    class GuardedCertificate
    {
      public:
        explicit GuardedCertificate(const X509& value) : m_value(value) {}
        GuardedCertificate(const GuardedCertificate& other) : m_value(other.get()) {}
        GuardedCertificate& operator=(const GuardedCertificate& other)
        {
            if (this != &other) {
                set(other.get());
            }
            return *this;
        }
        X509 get() const
        {
            std::lock_guard lock(m_mutex);
            return m_value;
        }
        void set(const X509& value)
        {
            X509 copy(value);
            std::lock_guard lock(m_mutex);
            m_value = std::move(copy);
        }

      private:
        mutable std::mutex m_mutex;
        X509 m_value;
    };

    std::string m_alias;
    std::uint16_t m_systemId = 0;
    std::uint64_t m_externalId = 0;
    std::uint8_t m_id = 255;
    AlgorithmId m_signAlgorithm;
    AlgorithmId m_digestAlgorithm;
    std::string m_algParamsOid;
    std::string m_cryptoType;
    GuardedCertificate m_x509;
    bool m_hasPassword = true;
    bool m_isChangeable = true;
};

// "<first>_<second>".
std::string fullKeyAlias(std::string_view first, std::string_view second);

// The signature algorithm of a key with the given public-key parameter set;
// UnsupportedAlgorithm naming the set when there is none.
AlgorithmId findSignAlgorithmIdByParamsId(std::string_view paramsOid);
