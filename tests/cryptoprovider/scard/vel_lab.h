// The lab's confirmation token vel1 as the tests drive it: its state keys,
// the reader it sits in, and the record of every command it received.
#pragma once

#include <string>
#include <vector>

#include "asn1/bytes.h"

namespace vellab
{

inline constexpr const char* READER = "ORMID VEL-token 00 00";
inline constexpr const char* DEVICE = "vel1";

// One command the card received: its hex (upper case) and the status word
// it answered ("-" for none).
struct Exchange {
    std::string command;
    std::string status;
};

// Sets state keys of vel1 ("key=value key2=value2").
void set(const std::string& assignments);
// Pulls vel1 out and plugs it in again (the ATR shows its current state).
void replug();
// Puts vel1 back into its reader after it left by itself.
void insert();
// The ATR the reader shows now.
bytes currentAtr();
// A working vel1 with serial 01-23-45-67 on PIN 123456 in its default-PIN
// state with all tries, and no fault; replugged when its ATR does not show
// the working state.
void reset();

// Empties the command record.
void clearLog();
// The commands recorded since the last clearLog.
std::vector<Exchange> log();
// The commands of one instruction byte (INS, as two hex digits).
std::vector<Exchange> logOf(const std::string& ins);

// A state value of vel1.
std::string state(const std::string& key);

} // namespace vellab
