#include "token_cards.h"

#include <algorithm>
#include <stdexcept>

#include "device/device.h"

namespace lab
{
namespace
{

// Shared between the make-specific faces: the device directory entry.
class TokenCard : public Card
{
  public:
    TokenCard(const std::string& stateDir, std::string serial, const std::string& family)
        : m_devices(stateDir), m_serial(std::move(serial))
    {
        const labdev::Device device = m_devices.load(m_serial);
        const labdev::ModelInfo* model = labdev::findModel(device.model());
        if (!model || model->family != family) {
            throw std::runtime_error("device " + m_serial + " is not a " + family + " token");
        }
        m_chipModel = model->chipModel;
    }

  protected:
    labdev::Device device() const { return m_devices.load(m_serial); }

    static int triesLeft(const labdev::Device& d)
    {
        return static_cast<int>(
            d.getInt(labdev::fact::USER_TRIES_LEFT, d.getInt(labdev::fact::USER_TRIES_MAX, 10)));
    }

    labdev::DeviceDirectory m_devices;
    std::string m_serial;
    std::uint8_t m_chipModel = 0;
};

class RutokenCard : public TokenCard
{
  public:
    RutokenCard(const std::string& stateDir, const std::string& serial)
        : TokenCard(stateDir, serial, "rutoken")
    {
    }

    bytes atr() override
    {
        // T=1, historical bytes "Rutoken ECP".
        return withTck({0x3B, 0x8B, 0x01, 'R', 'u', 't', 'o', 'k', 'e', 'n', ' ', 'E', 'C', 'P'});
    }

    std::optional<bytes> process(const bytes& apdu) override
    {
        const auto cmd = parseCommand(apdu);
        if (auto refusal = refuseCommand(cmd)) {
            return refusal;
        }
        if (cmd->ins == 0xCA && cmd->p1 == 0x01 && cmd->p2 == 0x89) {
            return chipData(*cmd);
        }
        if (cmd->ins == 0x20 && cmd->p1 == 0x00 && cmd->p2 == 0x02) {
            return verifyUserPin(*cmd);
        }
        return swOnly(0x6D00);
    }

  private:
    // Chip data: byte 1 tells the model, byte 4 the chip family, byte 5 the
    // chip generation (2 for every ECP model the library knows). The device
    // fact card.chip-data (hex) replaces the bytes, e.g. to show a chip no
    // model has; 6F00 when it is not hexadecimal.
    bytes chipData(const CardCommand& cmd) const
    {
        bytes data{0x00, m_chipModel, 0x00, 0x00, 24, 2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        const std::string replacement = device().get("card.chip-data");
        if (!replacement.empty()) {
            try {
                data = labdev::fromHex(replacement);
            } catch (const std::invalid_argument&) {
                return swOnly(0x6F00);
            }
        }
        if (cmd.le >= 0 && cmd.le < static_cast<int>(data.size())) {
            data.resize(static_cast<std::size_t>(cmd.le));
        }
        return withSw(data, 0x9000);
    }

    // Without data: the PIN state (tries left as 63Cx, 6983 when blocked).
    // With data: checks the user PIN against the token's, sharing its tries.
    bytes verifyUserPin(const CardCommand& cmd)
    {
        if (cmd.data.empty()) {
            const int left = triesLeft(device());
            return left == 0 ? swOnly(0x6983)
                             : swOnly(static_cast<std::uint16_t>(0x63C0 | std::min(left, 15)));
        }
        std::uint16_t sw = 0x9000;
        m_devices.update(m_serial, [&](labdev::Device& d) {
            int left = triesLeft(d);
            if (left == 0) {
                sw = 0x6983;
                return;
            }
            const std::string pin = d.get(labdev::fact::USER_PIN);
            if (cmd.data == bytes(pin.begin(), pin.end())) {
                d.setInt(labdev::fact::USER_TRIES_LEFT, d.getInt(labdev::fact::USER_TRIES_MAX, 10));
                return;
            }
            left -= 1;
            d.setInt(labdev::fact::USER_TRIES_LEFT, left);
            sw = static_cast<std::uint16_t>(0x63C0 | std::min(left, 15));
        });
        return swOnly(sw);
    }
};

class JaCartaCard : public TokenCard
{
  public:
    JaCartaCard(const std::string& stateDir, const std::string& serial)
        : TokenCard(stateDir, serial, "jacarta")
    {
    }

    bytes atr() override
    {
        return {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F, 0xC3, 0x80, 0x73,
                0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x11, 0x59, 0x00, 0x01, 0x28};
    }

    std::optional<bytes> process(const bytes& apdu) override
    {
        const auto cmd = parseCommand(apdu);
        if (auto refusal = refuseCommand(cmd)) {
            return refusal;
        }
        if (cmd->cla == 0x80 && cmd->ins == 0x38 && cmd->p1 == 0x20 && cmd->p2 == 0x00) {
            return chipData();
        }
        return swOnly(0x6D00);
    }

  private:
    // Chip data: byte 12 is the user PIN's try limit, byte 13 the failures so far.
    bytes chipData() const
    {
        const labdev::Device d = device();
        if (!d.getBool("card.formatted", true)) {
            return swOnly(0x69A6);
        }
        const int max = static_cast<int>(d.getInt(labdev::fact::USER_TRIES_MAX, 10));
        const int used = std::clamp(max - triesLeft(d), 0, 255);
        bytes data(16, 0x00);
        data[0] = 0x02; // chip data version
        data[12] = static_cast<std::uint8_t>(std::clamp(max, 0, 255));
        data[13] = static_cast<std::uint8_t>(used);
        return withSw(data, 0x9000);
    }
};

} // namespace

std::unique_ptr<Card> makeTokenCard(const std::string& kind, const std::string& stateDir,
                                    const std::string& serial)
{
    if (kind == "rutoken") {
        return std::make_unique<RutokenCard>(stateDir, serial);
    }
    return std::make_unique<JaCartaCard>(stateDir, serial);
}

} // namespace lab
