// ISO/IEC 7816-4 command and response APDUs, the short-form TLV of the
// card commands, and the exceptions of device status words.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "asn1/tlv.h"
#include "cryptoprovider/core/errors.h"

namespace apdu
{

// Status words the cards answer with that have a class of their own. Each
// carries its status word as code() and the device's Russian text.
class FileNotFound : public DeviceError
{
  public:
    FileNotFound();
};

class CardNotFormatted : public DeviceError
{
  public:
    CardNotFormatted();
};

class NoMemory : public DeviceError
{
  public:
    NoMemory();
};

class UnknownCommand : public DeviceError
{
  public:
    UnknownCommand();
};

namespace jacarta
{
class IncorrectPin : public DeviceError
{
  public:
    IncorrectPin();
};

class WrongSign : public DeviceError
{
  public:
    WrongSign();
};
} // namespace jacarta

namespace rutoken
{
class DataNotFound : public DeviceError
{
  public:
    DataNotFound();
};

class CheckSumFailed : public DeviceError
{
  public:
    CheckSumFailed();
};

class WrongSign : public DeviceError
{
  public:
    WrongSign();
};
} // namespace rutoken

class Command
{
  public:
    Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2);
    Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2, short le);
    Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2,
            const std::vector<unsigned char>& data);
    // le: -1 for none, else 0..255 (0 asks for 256 bytes in the short form).
    // std::invalid_argument for another Le or more than 65535 data bytes.
    Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2,
            const std::vector<unsigned char>& data, short le);
    // Hex text of a whole command: header, then optionally Lc, data and Le.
    // std::invalid_argument when the text is not hex or the sizes disagree.
    explicit Command(std::string_view hex);

    unsigned char getCla() const noexcept { return m_cla; }
    unsigned char getIns() const noexcept { return m_ins; }
    unsigned char getP1() const noexcept { return m_p1; }
    unsigned char getP2() const noexcept { return m_p2; }
    short getLe() const noexcept { return m_le; }
    const std::vector<unsigned char>& getData() const noexcept { return m_data; }
    // The encoded command: short form, or extended Lc from 256 data bytes on.
    std::vector<unsigned char> getRequest() const;

  private:
    unsigned char m_cla, m_ins, m_p1, m_p2;
    std::vector<unsigned char> m_data;
    short m_le = -1;
};

class Response
{
  public:
    // Fewer than 2 bytes: std::invalid_argument. Unless `silent`, an error
    // status word throws (see check()).
    Response(const std::vector<unsigned char>& bytes, bool silent);

    std::uint16_t getSw() const noexcept { return static_cast<std::uint16_t>(getSw1() << 8 | getSw2()); }
    unsigned char getSw1() const noexcept { return m_bytes[m_bytes.size() - 2]; }
    unsigned char getSw2() const noexcept { return m_bytes[m_bytes.size() - 1]; }
    std::vector<unsigned char> getData() const { return {m_bytes.begin(), m_bytes.end() - 2}; }
    const std::vector<unsigned char>& getBytes() const noexcept { return m_bytes; }

    // Accepts 9000, 6200, 0000 and SW1 61, 6C or 3C; anything else goes to
    // handleError.
    void check() const;
    // Throws the library's exception for the status word.
    [[noreturn]] void handleError(std::uint16_t sw) const;

  private:
    std::vector<unsigned char> m_bytes;
};

// True for the status words check() accepts.
bool isSuccess(std::uint16_t sw) noexcept;

// A card command TLV: one-byte tag, length as one byte below 256, else
// 00 followed by the length in two bytes.
class Tlv : public ::Tlv
{
  public:
    Tlv(unsigned char tag, const std::vector<unsigned char>& value);
    std::vector<unsigned char> dataLength() const;
    std::vector<unsigned char> data() const;
};

} // namespace apdu
