// One-dimensional Fourier kernels of the two-dimensional FFT, working on
// batches of kFftLanes independent sequences at once.
//
// Batch layout: element j of lane l sits at a[j * kFftLanes + l], so every
// butterfly runs one unit-stride loop over the lanes and the compiler turns
// it into vector code whatever the transform length. Rows are batched by
// gathering kFftLanes rows at a time; columns by gathering kFftLanes columns,
// which streams the column pass through cache in narrow blocks.
//
// Sign convention: sign = -1 is the exponent e^(-2 pi i jk/n), sign = +1
// e^(+2 pi i jk/n). No transform scales its result.
#pragma once

#include <cstdint>

namespace vex {

constexpr int kFftLanes = 16;

// Tables of one length, built on first use and cached per thread.
struct OwnFftTable {
    int n;
    bool pow2;
    // Power-of-two lengths: bit reversal of n and the twiddles
    // cos(2 pi k/n), -sin(2 pi k/n) for k < n/2.
    // Other lengths: cos(2 pi m/n), -sin(2 pi m/n) for m < n.
    int* rev;
    double* cosD;
    double* sinD;
    float* cosF;
    float* sinF;
    OwnFftTable* next;
};

// The calling thread's table of length n (n >= 1), built when absent;
// null when memory runs out.
const OwnFftTable* ownFftTable(int n);
// Releases every table of the calling thread.
void ownFftFreeTables();
// Number of tables the calling thread holds (for tests).
int ownFftTableCount();

inline bool ownIsPow2(int n) { return n > 0 && (n & (n - 1)) == 0; }

// Real sequences of length n -> packed spectrum of length n (position 0:
// Re X0; 2k-1, 2k: Re Xk, Im Xk; n-1 for even n: Re X(n/2)). `in` and `out`
// are batches of n elements; `scratch` holds 2 * n batch elements.
// Needs the tables of n (and n/2 for a power of two); returns false when
// they cannot be had.
template <class T>
bool ownRealForward(const T* in, T* out, T* scratch, int n, int sign);
// Packed spectrum -> real sequences (the unscaled sum over all n terms,
// the omitted half taken from conjugate symmetry).
template <class T>
bool ownRealInverse(const T* in, T* out, T* scratch, int n, int sign);
// Complex sequences in split form (re, im batches) transformed in place;
// `scratch` holds 2 * n batch elements.
template <class T>
bool ownComplex(T* re, T* im, T* scratch, int n, int sign);

// The same transforms on input already placed at bit-reversed positions
// (power-of-two n only), for callers that gather straight into place.
// Real: z_m = x(2m) + i x(2m+1) sits at re/im[rev(n/2)[m]], m < n/2; the
// packed spectrum goes to `out`. Complex: element j at rev(n)[j], in place.
// The bit reversal of a length: ownFftTable(n)->rev.
template <class T>
bool ownRealForwardPermuted(T* zr, T* zi, T* out, int n, int sign);
template <class T>
bool ownComplexPermuted(T* re, T* im, int n, int sign);

}  // namespace vex
