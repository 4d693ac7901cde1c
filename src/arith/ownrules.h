// Per-sample rules of the pixel-wise operations. A rule is a small functor:
// `Sample` is the element type it reads and writes, its constructor takes
// the call's parameters once, and operator() maps one or two samples to the
// result. The row templates of ownpixel.h turn a rule into a kernel.
//
// No rule branches per sample, so that the contiguous loops vectorise.
// Products and scalar terms saturate through a wider type and a clamp; 32S
// products work in int64_t, where every product of two 32-bit operands is
// exact. Sums and differences of two samples stay in the sample type with
// an overflow test (ownSatAdd, ownSatSub), and the
// threshold compares in the sample type: both measured several times
// cheaper than widening there.
//
// The 1U rules work on whole bytes, each bit an independent sample; on
// 1-bit data saturating at 1 turns the arithmetic into Boolean rules.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "arith/ownpixel.h"

namespace vex {

template <class T>
struct OwnTraits;
template <>
struct OwnTraits<uint8_t> {
    using Sum = int16_t;
    using Prod = int32_t;
    using U = uint8_t;
};
template <>
struct OwnTraits<int8_t> {
    using Sum = int16_t;
    using Prod = int32_t;
    using U = uint8_t;
};
template <>
struct OwnTraits<uint16_t> {
    using Sum = int32_t;
    using Prod = uint32_t;
    using U = uint16_t;
};
template <>
struct OwnTraits<int16_t> {
    using Sum = int32_t;
    using Prod = int32_t;
    using U = uint16_t;
};
template <>
struct OwnTraits<int32_t> {
    using Sum = int64_t;
    using Prod = int64_t;
    using U = uint32_t;
};

template <class T>
constexpr T kMin = std::numeric_limits<T>::min();
template <class T>
constexpr T kMax = std::numeric_limits<T>::max();
// Number of values of the depth. A factor of at least this span saturates
// every non-zero product; a term beyond twice the span saturates every sum
// and difference (value - src included), so scalars are clamped once per
// call and the arithmetic stays inside the wide type.
template <class T>
constexpr int64_t kSpan = int64_t(kMax<T>) - int64_t(kMin<T>) + 1;
template <class T>
constexpr int64_t kReach = 2 * kSpan<T>;

template <class T, class W>
inline T ownSat(W v) {
    if constexpr (std::is_signed_v<W>)
        return T(std::min<W>(std::max<W>(v, W(kMin<T>)), W(kMax<T>)));
    else
        return T(std::min<W>(v, W(kMax<T>)));
}

// Saturating sum and difference of two samples. Every depth stays in the
// sample type: the wrapped result (in unsigned arithmetic, so no signed
// overflow) plus an overflow test, which vectorises to a handful of
// operations per vector, where widening, clamping and narrowing costs two to
// five times as much per sample.
template <class T>
inline T ownSatAdd(T a, T b) {
    if constexpr (std::is_unsigned_v<T>) {
        const T s = T(a + b);
        return T(s | T(-T(s < a)));  // wrapped below a: the sum overflowed
    } else {
        using U = typename OwnTraits<T>::U;
        const U s = U(U(a) + U(b));
        // Overflow: both operands differ in sign from the wrapped sum; the
        // limit then has a's sign (max + 1 wraps to min).
        const U over = U((U(a) ^ s) & (U(b) ^ s));
        const U limit = U(U(U(a) >> (8 * sizeof(T) - 1)) + U(kMax<T>));
        return T(T(over) < 0 ? limit : s);
    }
}

template <class T>
inline T ownSatSub(T a, T b) {
    if constexpr (std::is_unsigned_v<T>) {
        return T(std::max(a, b) - b);
    } else {
        using U = typename OwnTraits<T>::U;
        const U s = U(U(a) - U(b));
        // Overflow: the operands differ in sign and the result lost a's.
        const U over = U((U(a) ^ U(b)) & (U(a) ^ s));
        const U limit = U(U(U(a) >> (8 * sizeof(T) - 1)) + U(kMax<T>));
        return T(T(over) < 0 ? limit : s);
    }
}

template <class T>
struct SatAdd {
    using Sample = T;
    explicit SatAdd(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return ownSatAdd(a, b); }
};

template <class T>
struct SatSub {
    using Sample = T;
    explicit SatSub(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return ownSatSub(a, b); }
};

// B - A: the subtraction with swapped operands.
template <class T>
struct SatSubRev {
    using Sample = T;
    explicit SatSubRev(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return ownSatSub(b, a); }
};

template <class T>
struct SatMul {
    using Sample = T;
    using P = typename OwnTraits<T>::Prod;
    explicit SatMul(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return ownSat<T>(P(P(a) * P(b))); }
};

// Scalar operand: a signed 32-bit value, clamped to the depth's span so
// that the sum stays inside the wide type.
template <class T>
struct SatAddS {
    using Sample = T;
    using W = typename OwnTraits<T>::Sum;
    W v;
    explicit SatAddS(const OwnPixelArgs& p) : v(W(std::clamp(p.value, -kReach<T>, kReach<T>))) {}
    T operator()(T a) const { return ownSat<T>(W(W(a) + v)); }
};

template <class T>
struct SatSubS {
    using Sample = T;
    using W = typename OwnTraits<T>::Sum;
    W v;
    explicit SatSubS(const OwnPixelArgs& p) : v(W(std::clamp(p.value, -kReach<T>, kReach<T>))) {}
    T operator()(T a) const { return ownSat<T>(W(W(a) - v)); }
};

template <class T>
struct SatSubSRev {
    using Sample = T;
    using W = typename OwnTraits<T>::Sum;
    W v;
    explicit SatSubSRev(const OwnPixelArgs& p) : v(W(std::clamp(p.value, -kReach<T>, kReach<T>))) {}
    T operator()(T a) const { return ownSat<T>(W(v - W(a))); }
};

// The scalar of the multiplication is unsigned 32-bit; any factor at or
// above the span drives every non-zero sample to a limit, so it is capped
// there (the products then fit the product type: 255 * 256, 65535 * 65536,
// 2^31 * (2^32 - 1)).
template <class T>
struct SatMulS {
    using Sample = T;
    using P = typename OwnTraits<T>::Prod;
    P v;
    explicit SatMulS(const OwnPixelArgs& p)
        : v(P(std::min<int64_t>(int64_t(p.uvalue),
                                std::is_same_v<T, int32_t> ? int64_t(UINT32_MAX) : kSpan<T>))) {}
    T operator()(T a) const { return ownSat<T>(P(P(a) * v)); }
};

// The square saturates at the positive limit only.
template <class T>
struct SatSqr {
    using Sample = T;
    using P = typename OwnTraits<T>::Prod;
    explicit SatSqr(const OwnPixelArgs&) {}
    T operator()(T a) const { return T(std::min<P>(P(P(a) * P(a)), P(kMax<T>))); }
};

// |x| in two's complement of the sample width: the most negative value
// maps to itself. Negation happens in the unsigned type, so nothing
// overflows.
template <class T>
struct AbsWrap {
    using Sample = T;
    using U = typename OwnTraits<T>::U;
    explicit AbsWrap(const OwnPixelArgs&) {}
    T operator()(T a) const { return T(a < 0 ? U(U(0) - U(a)) : U(a)); }
};

// ------------------------------------------------------------------ logic
// Sample types are unsigned: the logic does not depend on the sign, so
// signed and unsigned depths of one width share a kernel.

template <class T>
struct BitAnd {
    using Sample = T;
    explicit BitAnd(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return T(a & b); }
};
template <class T>
struct BitOr {
    using Sample = T;
    explicit BitOr(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return T(a | b); }
};
template <class T>
struct BitXor {
    using Sample = T;
    explicit BitXor(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return T(a ^ b); }
};
// A AND NOT B, and B AND NOT A: subtraction of 1-bit images.
template <class T>
struct BitAndNot {
    using Sample = T;
    explicit BitAndNot(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return T(a & ~b); }
};
template <class T>
struct BitAndNotRev {
    using Sample = T;
    explicit BitAndNotRev(const OwnPixelArgs&) {}
    T operator()(T a, T b) const { return T(b & ~a); }
};

// Scalar patterns: the low bits of the call's 32-bit pattern.
template <class T>
struct BitAndS {
    using Sample = T;
    T m;
    explicit BitAndS(const OwnPixelArgs& p) : m(T(p.pattern)) {}
    T operator()(T a) const { return T(a & m); }
};
template <class T>
struct BitOrS {
    using Sample = T;
    T m;
    explicit BitOrS(const OwnPixelArgs& p) : m(T(p.pattern)) {}
    T operator()(T a) const { return T(a | m); }
};
template <class T>
struct BitXorS {
    using Sample = T;
    T m;
    explicit BitXorS(const OwnPixelArgs& p) : m(T(p.pattern)) {}
    T operator()(T a) const { return T(a ^ m); }
};
// (src AND and) XOR xor, with both masks from the call: the 1-bit forms of
// the scalar subtraction.
struct BitMaskXor {
    using Sample = uint8_t;
    uint8_t andMask, xorMask;
    explicit BitMaskXor(const OwnPixelArgs& p)
        : andMask(uint8_t(p.pattern)), xorMask(uint8_t(p.pattern >> 8)) {}
    uint8_t operator()(uint8_t a) const { return uint8_t((a & andMask) ^ xorMask); }
};
struct BitCopy {
    using Sample = uint8_t;
    explicit BitCopy(const OwnPixelArgs&) {}
    uint8_t operator()(uint8_t a) const { return a; }
};

// ----------------------------------------------------------------- shifts
// Counts are taken as at most 31 and the shift happens in 32 bits, so every
// count is defined: left shifts of 8- and 16-bit samples by their width or
// more give 0 (the caller routes counts at or above the width elsewhere),
// logical right shifts give 0, arithmetic right shifts give the sign fill.

template <class T>
struct ShlS {
    using Sample = T;  // unsigned
    unsigned s;
    explicit ShlS(const OwnPixelArgs& p) : s(std::min(p.shift, 31u)) {}
    T operator()(T a) const { return T(uint32_t(a) << s); }
};
template <class T>
struct ShrS {
    using Sample = T;
    unsigned s;
    explicit ShrS(const OwnPixelArgs& p) : s(std::min(p.shift, 31u)) {}
    T operator()(T a) const {
        if constexpr (std::is_signed_v<T>)
            return T(int32_t(a) >> s);
        else
            return T(uint32_t(a) >> s);
    }
};

// --------------------------------------------------------------- threshold
// s < threshold gives the depth's minimum, else its maximum. The compare
// stays in the sample type: the threshold is clamped into the depth's range,
// and a threshold above the maximum turns the "else" value into the
// minimum too, which keeps every outcome.
template <class T>
struct ThresholdRule {
    using Sample = T;
    T t, high;
    explicit ThresholdRule(const OwnPixelArgs& p)
        : t(T(std::clamp<int64_t>(p.value, kMin<T>, kMax<T>))),
          high(p.value > int64_t(kMax<T>) ? kMin<T> : kMax<T>) {}
    T operator()(T a) const { return a >= t ? high : kMin<T>; }
};

}  // namespace vex
