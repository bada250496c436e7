// The lab's readers the PC/SC tests use (the "scard" layout: a T=1 card and a
// T=0 card in the two slots of the test reader, a mute card, a spare slot).
#pragma once

inline constexpr const char* T1_READER = "Lab Test Reader 00 00";
inline constexpr const char* T0_READER = "Lab Test Reader 00 01";
inline constexpr const char* MUTE_READER = "Lab Mute Reader 00 00";
inline constexpr const char* SPARE_READER = "Lab Spare Reader 00 00";
