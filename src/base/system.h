// Facts about the running process: local time as text, the user's name.
#pragma once

#include <string>
#include <string_view>

namespace bs
{

// Current local time formatted by strftime with `format`. An expansion longer
// than 255 characters is given in full (the buffer grows); a pattern that
// expands to nothing gives an empty string.
std::string currentTime(std::string_view format);

// Login name of the effective user; std::runtime_error "get user name error"
// when the user database has no entry.
std::string userName();

} // namespace bs
