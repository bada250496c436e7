// The simulated cards: what each answers to reset and to command APDUs.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sim_apdu.h"

namespace lab
{

class Card
{
  public:
    virtual ~Card() = default;
    // Answer to reset, asked after power-on and reset.
    virtual bytes atr() = 0;
    // Power off and reset drop whatever the card's session held.
    virtual void powerOff() {}
    // std::nullopt: the card never answers this command.
    virtual std::optional<bytes> process(const bytes& apdu) = 0;
    // Called with every command and what goes back for it (std::nullopt: no
    // answer), before the answer is sent: a card's own record of its wire.
    virtual void exchanged(const bytes& /*command*/, const std::optional<bytes>& /*answer*/) {}
    // True once the card has left the reader by itself (pulled out in the
    // middle of a command): the slot's connection is closed without an answer.
    virtual bool leaving() const { return false; }
};

struct CardOptions {
    std::string kind;     // rutoken, jacarta, mskey, vel, unknown, mute, test, test-t0
    std::string stateDir; // the lab state directory
    std::string device;   // device name in the state directory
};

// std::invalid_argument for an unknown kind.
std::unique_ptr<Card> makeCard(const CardOptions& options);

} // namespace lab
