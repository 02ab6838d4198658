#include "simobs/numbers.h"

#include <cmath>

namespace {

constexpr double kLn2 = 0.69314718055994530942;

}  // namespace

double Exp(double x) {
    if (x < -700.0) return 0.0;
    if (x > 700.0) x = 700.0;
    const double k = static_cast<double>(static_cast<long long>(x / kLn2 + (x < 0 ? -0.5 : 0.5)));
    const double r = x - k * kLn2;
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 16; ++i) {  // |r| <= ln 2 / 2
        term = term * r / i;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

double Log(double x) {
    int exponent = 0;
    double m = std::frexp(x, &exponent);  // x = m * 2^exponent, m in [0.5, 1)
    if (m < 0.70710678118654752) {
        m *= 2.0;
        --exponent;
    }
    const double z = (m - 1.0) / (m + 1.0), z2 = z * z;
    double power = z, sum = 0.0;
    for (int i = 1; i < 60; i += 2) {
        sum += power / i;
        power *= z2;
    }
    return 2.0 * sum + exponent * kLn2;
}

double Cos(double x) {
    x -= 2.0 * kPi * static_cast<double>(static_cast<long long>(x / (2.0 * kPi)));
    if (x > kPi) x -= 2.0 * kPi;
    if (x < -kPi) x += 2.0 * kPi;
    double term = 1.0, sum = 1.0;
    for (int i = 1; i < 30; ++i) {
        term = -term * x * x / ((2 * i - 1) * (2 * i));
        sum += term;
    }
    return sum;
}

double Pow(double x, double y) { return Exp(y * Log(x)); }

uint64_t NextBits(Random& r) {
    uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Random Stream(uint64_t seed, uint64_t purpose, uint64_t channel, uint64_t polarisation) {
    Random r{seed};
    r.state = NextBits(r) ^ (purpose * 0x100000001B3ull);
    r.state = NextBits(r) ^ (channel * 0xD6E8FEB86659FD93ull);
    r.state = NextBits(r) ^ (polarisation * 0xA0761D6478BD642Full);
    return r;
}

double Uniform(Random& r) { return static_cast<double>(NextBits(r) >> 11) * 0x1.0p-53; }
double Uniform(Random& r, double lo, double hi) { return lo + (hi - lo) * Uniform(r); }
int UniformInt(Random& r, int lo, int hi) {
    return lo + static_cast<int>(NextBits(r) % static_cast<uint64_t>(hi - lo + 1));
}

double Gaussian(Random& r) {
    const double u1 = 1.0 - Uniform(r);  // (0, 1]
    const double u2 = Uniform(r);
    return std::sqrt(-2.0 * Log(u1)) * Cos(2.0 * kPi * u2);
}
