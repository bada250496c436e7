// Fault injection and the call log shared by the lab's simulated devices.
// A rules file holds one rule a line:
//   <function|*> nth <N> <value> [module=<name>] [remove=<what>] [seen=<K>]
//   <function|*> from <N> <value> [module=<name>] [remove=<what>] [seen=<K>]
// `nth` fails only the Nth matching call, `from` the Nth and every later one.
// The calls are counted in the file itself (`seen`, rewritten under the lock
// file ".faults.lock" beside it), so rules work across processes; writing
// the file again restarts the counts, emptying it ends the faults.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace labdev
{

struct FaultHit {
    std::uint64_t value = 0; // the rule's value, as parseValue read it
    std::string remove;      // the rule's remove=<what>, empty when none
};

// Counts one call of `function` by `module` against the rules of `file` and
// returns the rule that fires for it, if any. `parseValue` reads a rule's
// value (a name or a number); a rule whose value it refuses (nullopt) is
// kept as it is and never fires. No file: no fault.
std::optional<FaultHit>
nextFault(const std::filesystem::path& file, std::string_view function, std::string_view module,
          const std::function<std::optional<std::uint64_t>(const std::string&)>& parseValue);

// Appends one call to the call log `file` (in one write, so processes that
// log at once do not mix their lines):
//   <pid> <module> <function> [detail] rv=0x<rv> [injected]
// Nothing is written when the log's folder does not exist.
void logCall(const std::filesystem::path& file, std::string_view module, std::string_view function,
             std::string_view detail, std::uint64_t rv, bool injected);

} // namespace labdev
