#include "convert/pointing.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// ---------------------------------------------------------------------------
// Cosine from basic operations. The argument is reduced by pi/2 exactly
// (multiplied by enough bits of 2/pi held as integers), the reduced angle
// r in [-pi/4, pi/4] goes through Taylor polynomials in 64-bit-significand
// arithmetic, and the result is rounded once to double.

// Bits of 2/pi after the binary point: word w holds bits 32w+1 ... 32w+32,
// the first of them in the word's top bit.
constexpr uint32_t kTwoOverPi[] = {
    0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB,
    0xDEBBC561, 0xB7246E3A, 0x424DD2E0, 0x06492EEA, 0x09D1921C, 0xFE1DEB1C, 0xB129A73E,
};
constexpr int kTwoOverPiWords = sizeof kTwoOverPi / sizeof kTwoOverPi[0];

// pi/2 rounded to a 64-bit significand.
constexpr long double kHalfPi = 0xc.90fdaa22168c235p-3L;

// The window of 2/pi taken for one reduction, in 32-bit limbs.
constexpr int kWindowLimbs = 7;
constexpr int kWindowBits = 32 * kWindowLimbs;
constexpr int kProductLimbs = kWindowLimbs + 2;

// 32 bits of 2/pi, bit `first` (counted from 1 after the binary point) on top.
uint32_t TwoOverPiBits(int first) {
    const int index = first - 1;
    const int word = index / 32;
    const int offset = index % 32;
    const uint64_t high = word < kTwoOverPiWords ? kTwoOverPi[word] : 0;
    const uint64_t low = word + 1 < kTwoOverPiWords ? kTwoOverPi[word + 1] : 0;
    return static_cast<uint32_t>((((high << 32) | low) << offset) >> 32);
}

// Bits lowBit ... lowBit + 31 of a little-endian limb array; bits outside it are 0.
uint32_t LimbBits(const uint32_t* limbs, int limbCount, int lowBit) {
    uint32_t result = 0;
    for (int k = 0; k < 32; ++k) {
        const int bit = lowBit + k;
        if (bit < 0 || bit >= 32 * limbCount) continue;
        result |= ((limbs[bit / 32] >> (bit % 32)) & 1u) << k;
    }
    return result;
}

// 1/k! for the Taylor polynomials (the factorials up to 23! are exact).
constexpr long double InverseFactorial(int k) {
    long double factorial = 1.0L;
    for (int i = 2; i <= k; ++i) factorial *= static_cast<long double>(i);
    return 1.0L / factorial;
}

// (-1)^(k/2) / k! for even k, (-1)^((k-1)/2) / k! for odd k: the signed
// Taylor coefficient of r^k in cos r (even k) or sin r (odd k).
constexpr long double TaylorCoefficient(int k) {
    return ((k / 2) % 2 == 0) ? InverseFactorial(k) : -InverseFactorial(k);
}

template <int... K>
struct Coefficients {
    static constexpr long double value[sizeof...(K)] = {TaylorCoefficient(K)...};
};

// cos r = 1 - r^2/2 + r^4 (c4 + c6 r^2 + ... + c22 r^18), |r| <= pi/4; the
// first omitted term is below 2^-80.
using CosineTail = Coefficients<4, 6, 8, 10, 12, 14, 16, 18, 20, 22>;
// sin r = r + r^3 (c3 + c5 r^2 + ... + c23 r^20), |r| <= pi/4.
using SineTail = Coefficients<3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23>;

long double KernelCosine(long double r) {
    const long double s = r * r;
    constexpr int count = sizeof CosineTail::value / sizeof CosineTail::value[0];
    long double acc = CosineTail::value[count - 1];
    for (int i = count - 2; i >= 0; --i) acc = CosineTail::value[i] + s * acc;
    return (1.0L - 0.5L * s) + s * s * acc;
}

long double KernelSine(long double r) {
    const long double s = r * r;
    constexpr int count = sizeof SineTail::value / sizeof SineTail::value[0];
    long double acc = SineTail::value[count - 1];
    for (int i = count - 2; i >= 0; --i) acc = SineTail::value[i] + s * acc;
    return r + r * s * acc;
}

// The divisor of the step by the observation date (1 before 1994 and in
// October 1994, otherwise the sampling clock in Hz).
float ClockFrequency(int16_t year, int16_t month) {
    if (year < 1994) return 1.0f;
    if (year > 1994) return 1192760.0f;
    if (month < 10) return 1193180.0f;
    if (month == 10) return 1.0f;
    return 1192760.0f;
}

bool IsScanSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

double CosineOfAngle(double radians) {
    const double x = std::fabs(radians);
    if (!(x < 0x1p128)) return std::numeric_limits<double>::quiet_NaN();
    if (x <= 0.78539816339744828) return static_cast<double>(KernelCosine(x));

    // x = m * 2^e with a 53-bit integer m (x is normal here).
    uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const int e = static_cast<int>((bits >> 52) & 0x7FF) - 1075;
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);

    // x * 2/pi = m * sum of b_i 2^(e-i). The bits i < e - 1 only add multiples
    // of 4 (whole turns), so the window starts at bit first = max(1, e - 1).
    // The product m * window has `point` bits after the binary point.
    const int first = e - 1 > 1 ? e - 1 : 1;
    const int point = first + kWindowBits - 1 - e;
    uint32_t window[kWindowLimbs];
    for (int j = 0; j < kWindowLimbs; ++j) window[j] = TwoOverPiBits(first + kWindowBits - 32 - 32 * j);

    uint32_t product[kProductLimbs] = {};
    const uint32_t factor[2] = {static_cast<uint32_t>(m), static_cast<uint32_t>(m >> 32)};
    for (int i = 0; i < 2; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < kWindowLimbs; ++j) {
            const uint64_t t = static_cast<uint64_t>(factor[i]) * window[j] + product[i + j] + carry;
            product[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        product[i + kWindowLimbs] = static_cast<uint32_t>(carry);
    }

    // Quadrant from the two bits before the point; the fraction after it,
    // taken to the nearest quadrant so that it lies in [-1/2, 1/2].
    int quadrant = static_cast<int>(LimbBits(product, kProductLimbs, point) & 3u);
    uint32_t fraction[kProductLimbs];
    for (int k = 0; k < kProductLimbs; ++k) {
        const int low = 32 * k;
        fraction[k] = low + 32 <= point ? product[k]
                      : low >= point    ? 0u
                                        : product[k] & ((uint32_t{1} << (point - low)) - 1u);
    }
    const bool negative = ((LimbBits(product, kProductLimbs, point - 1) & 1u) != 0);
    if (negative) {
        // fraction = 2^point - fraction, the distance to the next quadrant.
        quadrant = (quadrant + 1) & 3;
        uint64_t borrow = 0;
        for (int k = 0; k < kProductLimbs; ++k) {
            const uint64_t t = uint64_t{0} - fraction[k] - borrow;
            fraction[k] = static_cast<uint32_t>(t);
            borrow = (t >> 32) != 0 ? 1 : 0;
        }
        for (int k = 0; k < kProductLimbs; ++k) {
            const int low = 32 * k;
            if (low >= point) fraction[k] = 0;
            else if (low + 32 > point) fraction[k] &= (uint32_t{1} << (point - low)) - 1u;
        }
    }
    int top = -1;
    for (int k = kProductLimbs - 1; k >= 0 && top < 0; --k) {
        for (int b = 31; b >= 0; --b) {
            if ((fraction[k] >> b) & 1u) {
                top = 32 * k + b;
                break;
            }
        }
    }
    long double r = 0.0L;
    if (top >= 0) {
        const uint64_t significand = (static_cast<uint64_t>(LimbBits(fraction, kProductLimbs, top - 31)) << 32) |
                                     LimbBits(fraction, kProductLimbs, top - 63);
        r = std::ldexp(static_cast<long double>(significand), top - 63 - point) * kHalfPi;
        if (negative) r = -r;
    }
    switch (quadrant) {
        case 0: return static_cast<double>(KernelCosine(r));
        case 1: return static_cast<double>(-KernelSine(r));
        case 2: return static_cast<double>(-KernelCosine(r));
        default: return static_cast<double>(KernelSine(r));
    }
}

float DecimalDegrees(int16_t degrees, int16_t minutes, float seconds) {
    const long double sixtieth = 1.0L / 60.0L;
    const float fraction = static_cast<float>(
        (static_cast<long double>(minutes) + static_cast<long double>(seconds) * sixtieth) * sixtieth);
    if (degrees > 0) return static_cast<float>(static_cast<long double>(degrees) + fraction);
    return static_cast<float>(static_cast<long double>(degrees) - fraction);
}

PointingValues DerivePointingValues(const ObservationHeader& header) {
    const SetupBlock& setup = header.setup;
    const ReceiverBlock& receiver = header.receiver;
    const PointingBlock& pointing = header.pointing;
    PointingValues values;
    values.azimuth = DecimalDegrees(pointing.azimuthDms.degrees, pointing.azimuthDms.minutes,
                                    pointing.azimuthDms.seconds);
    values.altitude = DecimalDegrees(pointing.altitudeDms.degrees, pointing.altitudeDms.minutes,
                                     pointing.altitudeDms.seconds);
    values.angleP = receiver.angleP;
    const float declination = DecimalDegrees(pointing.declinationDms.degrees,
                                              pointing.declinationDms.minutes,
                                              pointing.declinationDms.seconds);
    const float clockFrequency = ClockFrequency(setup.year, setup.month);

    // The product of the sampling factors and 120 is formed as an integer
    // (an integer zero has no sign: factors 0 and -5 give +0, not -0); 64 bits
    // hold it for every pair of 16-bit factors. It is exact in long double.
    const int64_t product = int64_t{receiver.samplingFactor1} * 120 * int64_t{receiver.samplingFactor2};
    const long double samples = static_cast<long double>(product);
    float step = static_cast<float>(samples / static_cast<long double>(clockFrequency));
    // The angle in double with pi as the nearest single-precision value.
    const float pi = static_cast<float>(3.14159265358979323846264338327950288L);
    const double angle = static_cast<double>(declination) * static_cast<double>(pi) / 180.0;
    step = static_cast<float>(static_cast<long double>(step) *
                              static_cast<long double>(CosineOfAngle(angle)));
    // October 1994: the step is fixed at 1.
    if (setup.year == 1994 && setup.month == 10) step = 1.0f;
    values.step = step;
    return values;
}

void AzimuthFromObjectName(const std::string& objectName, float& azimuth) {
    // The name is a C text: it ends at its first zero byte, if any. The whole
    // name is searched, however long.
    const std::string name = objectName.substr(0, objectName.find('\0'));
    const std::size_t a = name.find('A');
    if (a == std::string::npos) return;
    std::size_t i = a + 1;
    while (i < name.size() && IsScanSpace(name[i])) ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) {
        negative = name[i] == '-';
        ++i;
    }
    if (i >= name.size() || name[i] < '0' || name[i] > '9') return;  // no integer
    // A number beyond the int range is taken as the nearest int.
    constexpr int64_t limit = int64_t{1} << 31;
    int64_t magnitude = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (name[i] - '0');
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) value = std::numeric_limits<int32_t>::min();
    azimuth = static_cast<float>(static_cast<int32_t>(value));
}
