// Numbers for the observation simulator: elementary functions built from
// the basic IEEE operations only, and independent random streams, so that a
// seed gives the same bytes on every build and platform.
#pragma once

#include <cstdint>

constexpr double kPi = 3.14159265358979323846;

double Exp(double x);
double Log(double x);  // x > 0
double Cos(double x);
double Pow(double x, double y);  // x > 0

// splitmix64: one independent stream per purpose, channel and polarisation, so
// that switching the jumps off leaves every other number unchanged.
struct Random {
    uint64_t state;
};

uint64_t NextBits(Random& r);
Random Stream(uint64_t seed, uint64_t purpose, uint64_t channel = 0, uint64_t polarisation = 0);
double Uniform(Random& r);  // [0, 1)
double Uniform(Random& r, double lo, double hi);
int UniformInt(Random& r, int lo, int hi);  // lo..hi inclusive
double Gaussian(Random& r);  // mean 0, standard deviation 1
