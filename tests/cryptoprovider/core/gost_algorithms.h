// Short names of the GOST R 34.10-2012 signature algorithms for the tests.
#pragma once

#include "x509/algorithms.h"

inline const AlgorithmId& GOST256 = GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
inline const AlgorithmId& GOST512 = GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
