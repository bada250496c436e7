// The SHA family (SHA-1, SHA-224, SHA-256, SHA-384, SHA-512).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace icrypto
{

// getShaEngine was asked for an algorithm it does not know.
class UnsupportedShaAlgorithm : public std::invalid_argument
{
  public:
    UnsupportedShaAlgorithm() : std::invalid_argument("Unsupported SHA algorithm") {}
};

// A SHA hasher. A new engine is ready for a message (init() restarts it);
// doFinal() returns the digest and calls init() again, so the engine is
// ready for the next message.
class ShaEngine
{
  public:
    virtual ~ShaEngine() = default;
    virtual void init() = 0;
    virtual void update(const std::vector<unsigned char>& data) = 0;
    virtual std::vector<unsigned char> doFinal() = 0;

    std::vector<unsigned char> digest(const std::vector<unsigned char>& data);

  protected:
    ShaEngine() = default;
    ShaEngine(const ShaEngine&) = default;
    ShaEngine& operator=(const ShaEngine&) = default;
};

class Sha1 : public ShaEngine
{
  public:
    Sha1() { init(); }
    ~Sha1() override;
    void init() override;
    void update(const std::vector<unsigned char>& data) override;
    void update(const unsigned char* data, std::size_t length);
    std::vector<unsigned char> doFinal() override;

  private:
    std::uint32_t m_state[5]{};
    std::uint64_t m_bits = 0;
    unsigned char m_buffer[64]{};
    std::size_t m_fill = 0;
};

class Sha256 : public ShaEngine
{
  public:
    Sha256() { init(); }
    ~Sha256() override;
    void init() override;
    void update(const std::vector<unsigned char>& data) override;
    void update(const unsigned char* data, std::size_t length);
    std::vector<unsigned char> doFinal() override;

  protected:
    // Pads, compresses the last block(s) and writes the 32-byte state.
    void finish(unsigned char* out);

    std::uint32_t m_state[8]{};
    std::uint64_t m_bits = 0;
    unsigned char m_buffer[64]{};
    std::size_t m_fill = 0;
};

class Sha224 : public Sha256
{
  public:
    Sha224() { init(); }
    void init() override;
    std::vector<unsigned char> doFinal() override;
};

class Sha512 : public ShaEngine
{
  public:
    Sha512() { init(); }
    ~Sha512() override;
    void init() override;
    void update(const std::vector<unsigned char>& data) override;
    void update(const unsigned char* data, std::size_t length);
    std::vector<unsigned char> doFinal() override;

  protected:
    // Pads, compresses the last block(s) and writes the 64-byte state.
    void finish(unsigned char* out);

    std::uint64_t m_state[8]{};
    std::uint64_t m_bits[2]{}; // 128-bit length: [0] low word
    unsigned char m_buffer[128]{};
    std::size_t m_fill = 0;
};

class Sha384 : public Sha512
{
  public:
    Sha384() { init(); }
    void init() override;
    std::vector<unsigned char> doFinal() override;
};

// A fresh engine for the dotted OID of a SHA algorithm; any other text
// throws UnsupportedShaAlgorithm.
std::shared_ptr<ShaEngine> getShaEngine(std::string_view oid);

std::vector<unsigned char> sha1(const std::vector<unsigned char>& data);
std::vector<unsigned char> sha224(const std::vector<unsigned char>& data);
std::vector<unsigned char> sha256(const std::vector<unsigned char>& data);
std::vector<unsigned char> sha384(const std::vector<unsigned char>& data);
std::vector<unsigned char> sha512(const std::vector<unsigned char>& data);

} // namespace icrypto
