// A card's record of its wire: one line per command it received, with the
// status word it answered or "-" when its answer held none (no answer at
// all, or one shorter than a status word).
#pragma once

#include <optional>
#include <string>

#include "sim_apdu.h"

namespace lab
{

class ApduLog
{
  public:
    explicit ApduLog(std::string path) : m_path(std::move(path)) {}

    // Appends "<COMMAND HEX> <SW>" (or "<COMMAND HEX> -") and flushes it, the
    // file opened for this line only: a reader may truncate or delete it at
    // any time. A file that cannot be written is reported on stderr, never
    // thrown: the card answers all the same.
    void record(const bytes& command, const std::optional<bytes>& answer) const;

  private:
    std::string m_path;
};

} // namespace lab
