// Byte order of GOST digests and public keys as handed to callers.
#pragma once

// Little (1) is the order in which the algorithm or the token produces the
// value; Big (0) is that order reversed. A bool converts directly:
// Endian(kalvaMode) gives Little for the legacy mode.
enum class Endian : int {
    Big = 0,
    Little = 1,
};
