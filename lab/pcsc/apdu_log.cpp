#include "apdu_log.h"

#include <fstream>
#include <iostream>

namespace lab
{

void ApduLog::record(const bytes& command, const std::optional<bytes>& answer) const
{
    std::string line = toHex(command) + ' ';
    if (answer && answer->size() >= 2) {
        line += toHex(bytes(answer->end() - 2, answer->end()));
    } else {
        line += '-';
    }
    std::ofstream out(m_path, std::ios::app);
    out << line << '\n';
    out.close();
    if (!out) {
        std::cerr << "lab-card: cannot append to " << m_path << '\n';
    }
}

} // namespace lab
