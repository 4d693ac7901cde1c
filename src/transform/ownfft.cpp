// One-dimensional Fourier kernels on lane batches and their cached tables.
//
// Tables live in a per-thread cache. Several threads may transform at the
// same time, each with the lengths it needs, and none waits for another:
// the library takes no lock anywhere. Freeing (the end of a call, or the
// free flag) releases the calling thread's tables only; a thread's tables
// are also released when the thread ends.
#include "transform/ownfft.h"

#include <cmath>
#include <cstring>

#include "image/ownsimd.h"
#include "vexlib.h"

namespace vex {

namespace {

constexpr int L = kFftLanes;

struct TableCache {
    OwnFftTable* head = nullptr;
    void clear() {
        while (head) {
            OwnFftTable* t = head;
            head = t->next;
            vexFree(t->rev);
            vexFree(t->cosD);
            vexFree(t->sinD);
            vexFree(t->cosF);
            vexFree(t->sinF);
            vexFree(t);
        }
    }
    ~TableCache() { clear(); }
};

thread_local TableCache t_cache;

OwnFftTable* buildTable(int n) {
    OwnFftTable* t = static_cast<OwnFftTable*>(vexMalloc(static_cast<int>(sizeof(OwnFftTable))));
    if (!t) return nullptr;
    std::memset(t, 0, sizeof *t);
    t->n = n;
    t->pow2 = ownIsPow2(n);
    // Power of two: twiddles for k < n/2; otherwise the whole circle.
    const int count = t->pow2 ? (n > 1 ? n / 2 : 1) : n;
    t->cosD = vexdMalloc(count);
    t->sinD = vexdMalloc(count);
    t->cosF = vexsMalloc(count);
    t->sinF = vexsMalloc(count);
    if (t->pow2) t->rev = vexiMalloc(n);
    if (!t->cosD || !t->sinD || !t->cosF || !t->sinF || (t->pow2 && !t->rev)) {
        vexFree(t->rev);
        vexFree(t->cosD);
        vexFree(t->sinD);
        vexFree(t->cosF);
        vexFree(t->sinF);
        vexFree(t);
        return nullptr;
    }
    const double step = 2.0 * 3.14159265358979323846 / n;
    for (int k = 0; k < count; ++k) {
        t->cosD[k] = std::cos(step * k);
        t->sinD[k] = -std::sin(step * k);
        t->cosF[k] = static_cast<float>(t->cosD[k]);
        t->sinF[k] = static_cast<float>(t->sinD[k]);
    }
    if (t->pow2) {
        int bits = 0;
        while ((1 << bits) < n) ++bits;
        for (int i = 0; i < n; ++i) {
            int r = 0;
            for (int b = 0; b < bits; ++b)
                if (i & (1 << b)) r |= 1 << (bits - 1 - b);
            t->rev[i] = r;
        }
    }
    return t;
}

template <class T> const T* tabCos(const OwnFftTable* t);
template <class T> const T* tabSin(const OwnFftTable* t);
template <> const float* tabCos<float>(const OwnFftTable* t) { return t->cosF; }
template <> const float* tabSin<float>(const OwnFftTable* t) { return t->sinF; }
template <> const double* tabCos<double>(const OwnFftTable* t) { return t->cosD; }
template <> const double* tabSin<double>(const OwnFftTable* t) { return t->sinD; }

// ---------------------------------------------------------------------------
// Complex power-of-two transform on bit-reversed input, natural-order output.
// Stages are fused in pairs (radix-4 passes of two radix-2 levels), with a
// lone radix-2 pass first when log2(n) is odd. One batch element (kFftLanes
// values) is handled as whole 32-byte vectors; builds without AVX2 lower
// them to pairs of 16-byte operations.
template <class T>
struct Lanes {
    typedef T V __attribute__((vector_size(32), aligned(alignof(T))));
    static constexpr int kVecs = L * static_cast<int>(sizeof(T)) / 32;
};

template <class T>
__attribute__((always_inline)) inline void butterflies(T* __restrict re, T* __restrict im, int n,
                                                       const T* tc, const T* ts, int sign) {
    using V = typename Lanes<T>::V;
    constexpr int kV = Lanes<T>::kVecs;
    constexpr int kW = 32 / static_cast<int>(sizeof(T));  // values per vector
    const T sg = sign < 0 ? T(1) : T(-1);      // applied to the table's -sin
    const T sigma = sign < 0 ? T(-1) : T(1);   // the quarter turn is (0, sigma)
    int h = 1;
    int logn = 0;
    while ((1 << logn) < n) ++logn;
    if (logn & 1) {
        for (int s = 0; s < n; s += 2) {
            V* r0 = reinterpret_cast<V*>(re + s * L);
            V* i0 = reinterpret_cast<V*>(im + s * L);
            for (int v = 0; v < kV; ++v) {
                const V ar = r0[v], ai = i0[v], br = r0[kV + v], bi = i0[kV + v];
                r0[v] = ar + br;
                i0[v] = ai + bi;
                r0[kV + v] = ar - br;
                i0[kV + v] = ai - bi;
            }
        }
        h = 2;
    }
    (void)kW;
    for (; h < n; h *= 4) {
        const int st1 = n / (2 * h), st2 = n / (4 * h);
        for (int s = 0; s < n; s += 4 * h) {
            for (int j = 0; j < h; ++j) {
                const T w1r = tc[j * st1], w1i = sg * ts[j * st1];
                const T w2r = tc[j * st2], w2i = sg * ts[j * st2];
                const T w3r = w1r * w2r - w1i * w2i, w3i = w1r * w2i + w1i * w2r;  // w1 w2
                V* r0 = reinterpret_cast<V*>(re + (s + j) * L);
                V* i0 = reinterpret_cast<V*>(im + (s + j) * L);
                V* r1 = r0 + h * kV;
                V* i1 = i0 + h * kV;
                V* r2 = r0 + 2 * h * kV;
                V* i2 = i0 + 2 * h * kV;
                V* r3 = r0 + 3 * h * kV;
                V* i3 = i0 + 3 * h * kV;
                // x2 and x3 are turned by w2 and w1 w2 first, so that the
                // second level needs no further product: 3 complex products.
                for (int v = 0; v < kV; ++v) {
                    const V x1r = r1[v] * w1r - i1[v] * w1i, x1i = r1[v] * w1i + i1[v] * w1r;
                    const V x2r = r2[v] * w2r - i2[v] * w2i, x2i = r2[v] * w2i + i2[v] * w2r;
                    const V x3r = r3[v] * w3r - i3[v] * w3i, x3i = r3[v] * w3i + i3[v] * w3r;
                    const V p0r = r0[v], p0i = i0[v];
                    const V a0r = p0r + x1r, a0i = p0i + x1i;
                    const V a1r = p0r - x1r, a1i = p0i - x1i;
                    const V b2r = x2r + x3r, b2i = x2i + x3i;
                    const V c3r = x2r - x3r, c3i = x2i - x3i;
                    const V b3r = c3i * -sigma, b3i = c3r * sigma;
                    r0[v] = a0r + b2r;
                    i0[v] = a0i + b2i;
                    r2[v] = a0r - b2r;
                    i2[v] = a0i - b2i;
                    r1[v] = a1r + b3r;
                    i1[v] = a1i + b3i;
                    r3[v] = a1r - b3r;
                    i3[v] = a1i - b3i;
                }
            }
        }
    }
}

OWN_CLONES void butterfliesF(float* re, float* im, int n, const float* tc, const float* ts, int sign) {
    butterflies<float>(re, im, n, tc, ts, sign);
}
OWN_CLONES void butterfliesD(double* re, double* im, int n, const double* tc, const double* ts,
                             int sign) {
    butterflies<double>(re, im, n, tc, ts, sign);
}
inline void runButterflies(float* re, float* im, int n, const OwnFftTable* t, int sign) {
    butterfliesF(re, im, n, t->cosF, t->sinF, sign);
}
inline void runButterflies(double* re, double* im, int n, const OwnFftTable* t, int sign) {
    butterfliesD(re, im, n, t->cosD, t->sinD, sign);
}

inline void copyLane(float* dst, const float* src) { std::memcpy(dst, src, L * sizeof(float)); }
inline void copyLane(double* dst, const double* src) { std::memcpy(dst, src, L * sizeof(double)); }

// ---------------------------------------------------------------------------
// Direct transforms for lengths that are not powers of two.

// Packed real spectrum by direct sums.
template <class T>
__attribute__((always_inline)) inline void directRealForward(const T* __restrict in, T* __restrict out,
                                                             int n, const T* tc, const T* ts, int sign) {
    const T sg = sign < 0 ? T(1) : T(-1);
    T sum[L];
    for (int l = 0; l < L; ++l) sum[l] = 0;
    for (int j = 0; j < n; ++j)
        for (int l = 0; l < L; ++l) sum[l] += in[j * L + l];
    for (int l = 0; l < L; ++l) out[l] = sum[l];
    const int half = (n + 1) / 2;
    for (int k = 1; k < half; ++k) {
        T accR[L], accI[L];
        for (int l = 0; l < L; ++l) accR[l] = accI[l] = 0;
        int m = 0;
        for (int j = 0; j < n; ++j) {
            const T c = tc[m], s = sg * ts[m];
            const T* __restrict x = in + j * L;
            for (int l = 0; l < L; ++l) {
                accR[l] += x[l] * c;
                accI[l] += x[l] * s;
            }
            m += k;
            if (m >= n) m -= n;
        }
        for (int l = 0; l < L; ++l) {
            out[(2 * k - 1) * L + l] = accR[l];
            out[2 * k * L + l] = accI[l];
        }
    }
    if (n % 2 == 0) {
        for (int l = 0; l < L; ++l) sum[l] = 0;
        for (int j = 0; j < n; ++j) {
            const T* __restrict x = in + j * L;
            if (j & 1)
                for (int l = 0; l < L; ++l) sum[l] -= x[l];
            else
                for (int l = 0; l < L; ++l) sum[l] += x[l];
        }
        for (int l = 0; l < L; ++l) out[(n - 1) * L + l] = sum[l];
    }
}

// Real sequences from a packed spectrum by direct sums.
template <class T>
__attribute__((always_inline)) inline void directRealInverse(const T* __restrict in, T* __restrict out,
                                                             int n, const T* tc, const T* ts, int sign) {
    const T sg = sign > 0 ? T(1) : T(-1);
    const int half = (n + 1) / 2;
    for (int j = 0; j < n; ++j) {
        T acc[L];
        for (int l = 0; l < L; ++l) acc[l] = 0;
        int m = j;
        for (int k = 1; k < half; ++k) {
            const T c = tc[m], s = sg * ts[m];
            const T* __restrict xr = in + (2 * k - 1) * L;
            const T* __restrict xi = in + 2 * k * L;
            for (int l = 0; l < L; ++l) acc[l] += xr[l] * c + xi[l] * s;
            m += j;
            if (m >= n) m -= n;
        }
        T* __restrict y = out + j * L;
        for (int l = 0; l < L; ++l) y[l] = in[l] + (acc[l] + acc[l]);
        if (n % 2 == 0) {
            const T* __restrict xn = in + (n - 1) * L;
            if (j & 1)
                for (int l = 0; l < L; ++l) y[l] -= xn[l];
            else
                for (int l = 0; l < L; ++l) y[l] += xn[l];
        }
    }
}

// Complex sequences by direct sums; (sr, si) hold the input. Frequencies k
// and n - k share their cosine and sine sums, so both come from one pass.
template <class T>
__attribute__((always_inline)) inline void directComplex(const T* __restrict sr, const T* __restrict si,
                                                         T* __restrict re, T* __restrict im, int n,
                                                         const T* tc, const T* ts, int sign) {
    const T sg = sign < 0 ? T(1) : T(-1);
    for (int k = 0; 2 * k <= n; ++k) {
        T ar[L], ai[L], br[L], bi[L];
        for (int l = 0; l < L; ++l) ar[l] = ai[l] = br[l] = bi[l] = 0;
        int m = 0;
        for (int j = 0; j < n; ++j) {
            const T c = tc[m], s = sg * ts[m];
            const T* __restrict xr = sr + j * L;
            const T* __restrict xi = si + j * L;
            for (int l = 0; l < L; ++l) {
                ar[l] += xr[l] * c;
                ai[l] += xi[l] * c;
                br[l] += xr[l] * s;
                bi[l] += xi[l] * s;
            }
            m += k;
            if (m >= n) m -= n;
        }
        for (int l = 0; l < L; ++l) {
            re[k * L + l] = ar[l] - bi[l];
            im[k * L + l] = ai[l] + br[l];
        }
        if (k > 0 && 2 * k < n)
            for (int l = 0; l < L; ++l) {
                re[(n - k) * L + l] = ar[l] + bi[l];
                im[(n - k) * L + l] = ai[l] - br[l];
            }
    }
}

OWN_CLONES void directRealForwardF(const float* in, float* out, int n, const float* tc, const float* ts,
                                   int sign) {
    directRealForward<float>(in, out, n, tc, ts, sign);
}
OWN_CLONES void directRealForwardD(const double* in, double* out, int n, const double* tc,
                                   const double* ts, int sign) {
    directRealForward<double>(in, out, n, tc, ts, sign);
}
OWN_CLONES void directRealInverseF(const float* in, float* out, int n, const float* tc, const float* ts,
                                   int sign) {
    directRealInverse<float>(in, out, n, tc, ts, sign);
}
OWN_CLONES void directRealInverseD(const double* in, double* out, int n, const double* tc,
                                   const double* ts, int sign) {
    directRealInverse<double>(in, out, n, tc, ts, sign);
}
OWN_CLONES void directComplexF(const float* sr, const float* si, float* re, float* im, int n,
                               const float* tc, const float* ts, int sign) {
    directComplex<float>(sr, si, re, im, n, tc, ts, sign);
}
OWN_CLONES void directComplexD(const double* sr, const double* si, double* re, double* im, int n,
                               const double* tc, const double* ts, int sign) {
    directComplex<double>(sr, si, re, im, n, tc, ts, sign);
}
inline void runDirectRealForward(const float* in, float* out, int n, const OwnFftTable* t, int sign) {
    directRealForwardF(in, out, n, t->cosF, t->sinF, sign);
}
inline void runDirectRealForward(const double* in, double* out, int n, const OwnFftTable* t, int sign) {
    directRealForwardD(in, out, n, t->cosD, t->sinD, sign);
}
inline void runDirectRealInverse(const float* in, float* out, int n, const OwnFftTable* t, int sign) {
    directRealInverseF(in, out, n, t->cosF, t->sinF, sign);
}
inline void runDirectRealInverse(const double* in, double* out, int n, const OwnFftTable* t, int sign) {
    directRealInverseD(in, out, n, t->cosD, t->sinD, sign);
}
inline void runDirectComplex(const float* sr, const float* si, float* re, float* im, int n,
                             const OwnFftTable* t, int sign) {
    directComplexF(sr, si, re, im, n, t->cosF, t->sinF, sign);
}
inline void runDirectComplex(const double* sr, const double* si, double* re, double* im, int n,
                             const OwnFftTable* t, int sign) {
    directComplexD(sr, si, re, im, n, t->cosD, t->sinD, sign);
}

// The split step of the real transform: X(k) for k = 1 .. N-1 from the
// half-length spectrum Z, with twiddles (c, s) of length 2N.
template <class T>
__attribute__((always_inline)) inline void split(const T* zr, const T* zi, T* out, int N, const T* tc,
                                                 const T* ts, T sgOut) {
    using V = typename Lanes<T>::V;
    constexpr int kV = Lanes<T>::kVecs;
    for (int k = 1; k < N; ++k) {
        const T c = tc[k], s = ts[k];
        const V* ar = reinterpret_cast<const V*>(zr + k * L);
        const V* ai = reinterpret_cast<const V*>(zi + k * L);
        const V* br = reinterpret_cast<const V*>(zr + (N - k) * L);
        const V* bi = reinterpret_cast<const V*>(zi + (N - k) * L);
        V* xr = reinterpret_cast<V*>(out + (2 * k - 1) * L);
        V* xi = reinterpret_cast<V*>(out + 2 * k * L);
        for (int v = 0; v < kV; ++v) {
            // B = conj(Z[N-k]); E = (A + B) / 2; O = -i (A - B) / 2.
            const V er = (ar[v] + br[v]) * T(0.5), ei = (ai[v] - bi[v]) * T(0.5);
            const V dr = (ar[v] - br[v]) * T(0.5), di = (ai[v] + bi[v]) * T(0.5);
            const V orr = di, oi = -dr;
            xr[v] = er + (orr * c - oi * s);
            xi[v] = (ei + (oi * c + orr * s)) * sgOut;
        }
    }
}
OWN_CLONES void splitF(const float* zr, const float* zi, float* out, int N, const float* tc, const float* ts,
                       float sgOut) {
    split<float>(zr, zi, out, N, tc, ts, sgOut);
}
OWN_CLONES void splitD(const double* zr, const double* zi, double* out, int N, const double* tc,
                       const double* ts, double sgOut) {
    split<double>(zr, zi, out, N, tc, ts, sgOut);
}
inline void runSplit(const float* zr, const float* zi, float* out, int N, const float* tc, const float* ts,
                     float sgOut) {
    splitF(zr, zi, out, N, tc, ts, sgOut);
}
inline void runSplit(const double* zr, const double* zi, double* out, int N, const double* tc,
                     const double* ts, double sgOut) {
    splitD(zr, zi, out, N, tc, ts, sgOut);
}

}  // namespace

// ---------------------------------------------------------------------------

const OwnFftTable* ownFftTable(int n) {
    if (n < 1) return nullptr;
    for (OwnFftTable* t = t_cache.head; t; t = t->next)
        if (t->n == n) return t;
    OwnFftTable* t = buildTable(n);
    if (!t) return nullptr;
    t->next = t_cache.head;
    t_cache.head = t;
    return t;
}

void ownFftFreeTables() { t_cache.clear(); }

int ownFftTableCount() {
    int count = 0;
    for (OwnFftTable* t = t_cache.head; t; t = t->next) ++count;
    return count;
}

template <class T>
bool ownComplex(T* re, T* im, T* scratch, int n, int sign) {
    if (n == 1) return true;
    const OwnFftTable* t = ownFftTable(n);
    if (!t) return false;
    T* sr = scratch;
    T* si = scratch + static_cast<size_t>(n) * L;
    std::memcpy(sr, re, sizeof(T) * n * L);
    std::memcpy(si, im, sizeof(T) * n * L);
    if (t->pow2) {
        for (int j = 0; j < n; ++j) {
            copyLane(re + t->rev[j] * L, sr + j * L);
            copyLane(im + t->rev[j] * L, si + j * L);
        }
        runButterflies(re, im, n, t, sign);
    } else {
        runDirectComplex(sr, si, re, im, n, t, sign);
    }
    return true;
}

template <class T>
bool ownComplexPermuted(T* re, T* im, int n, int sign) {
    if (n == 1) return true;
    const OwnFftTable* t = ownFftTable(n);
    if (!t || !t->pow2) return false;
    runButterflies(re, im, n, t, sign);
    return true;
}

template <class T>
bool ownRealForwardPermuted(T* zr, T* zi, T* out, int n, int sign) {
    const int N = n / 2;
    const OwnFftTable* tn = ownFftTable(n);
    const OwnFftTable* th = ownFftTable(N);
    if (!tn || !th || !tn->pow2 || n < 2) return false;
    runButterflies(zr, zi, N, th, -1);
    // Split the half-length spectrum into the real spectrum.
    const T* tc = tabCos<T>(tn);
    const T* ts = tabSin<T>(tn);
    const T sgOut = sign < 0 ? T(1) : T(-1);
    for (int l = 0; l < L; ++l) {
        out[l] = zr[l] + zi[l];
        out[(n - 1) * L + l] = zr[l] - zi[l];
    }
    runSplit(zr, zi, out, N, tc, ts, sgOut);
    return true;
}

template <class T>
bool ownRealForward(const T* in, T* out, T* scratch, int n, int sign) {
    if (n == 1) {
        copyLane(out, in);
        return true;
    }
    if (!ownIsPow2(n)) {
        const OwnFftTable* t = ownFftTable(n);
        if (!t) return false;
        runDirectRealForward(in, out, n, t, sign);
        return true;
    }
    const int N = n / 2;
    const OwnFftTable* th = ownFftTable(N);
    if (!th) return false;
    T* __restrict zr = scratch;
    T* __restrict zi = scratch + static_cast<size_t>(N) * L;
    // Even samples as real parts, odd samples as imaginary parts.
    for (int m = 0; m < N; ++m) {
        T* __restrict dr = zr + th->rev[m] * L;
        T* __restrict di = zi + th->rev[m] * L;
        const T* __restrict x = in + 2 * m * L;
        for (int l = 0; l < L; ++l) {
            dr[l] = x[l];
            di[l] = x[L + l];
        }
    }
    return ownRealForwardPermuted<T>(zr, zi, out, n, sign);
}

template <class T>
bool ownRealInverse(const T* in, T* out, T* scratch, int n, int sign) {
    if (n == 1) {
        copyLane(out, in);
        return true;
    }
    if (!ownIsPow2(n)) {
        const OwnFftTable* t = ownFftTable(n);
        if (!t) return false;
        runDirectRealInverse(in, out, n, t, sign);
        return true;
    }
    const int N = n / 2;
    const OwnFftTable* tn = ownFftTable(n);
    const OwnFftTable* th = ownFftTable(N);
    if (!tn || !th) return false;
    T* __restrict zr = scratch;
    T* __restrict zi = scratch + static_cast<size_t>(N) * L;
    const T* tc = tabCos<T>(tn);
    const T* ts = tabSin<T>(tn);
    // The exponent's sign is carried by conjugating the spectrum.
    const T sgIn = sign > 0 ? T(1) : T(-1);
    for (int k = 0; k < N; ++k) {
        const T c = tc[k], s = ts[k];
        const T* __restrict ar = k == 0 ? in : in + (2 * k - 1) * L;
        const T* __restrict ai = k == 0 ? nullptr : in + 2 * k * L;
        const T* __restrict br = k == 0 ? in + (n - 1) * L : in + (2 * (N - k) - 1) * L;
        const T* __restrict bi = k == 0 ? nullptr : in + 2 * (N - k) * L;
        T* __restrict dr = zr + th->rev[k] * L;
        T* __restrict di = zi + th->rev[k] * L;
        for (int l = 0; l < L; ++l) {
            const T aI = ai ? sgIn * ai[l] : T(0);
            const T bI = bi ? -sgIn * bi[l] : T(0);  // conj(X[N-k])
            const T sr = ar[l] + br[l], si = aI + bI;
            const T er = ar[l] - br[l], ei = aI - bI;
            // P = conj(w^k) * (A - B) with w^k = (c, s), s = -sin.
            const T pr = c * er + s * ei, pi = c * ei - s * er;
            dr[l] = sr - pi;
            di[l] = si + pr;
        }
    }
    runButterflies(zr, zi, N, th, +1);
    for (int m = 0; m < N; ++m) {
        copyLane(out + 2 * m * L, zr + m * L);
        copyLane(out + (2 * m + 1) * L, zi + m * L);
    }
    return true;
}

template bool ownComplex<float>(float*, float*, float*, int, int);
template bool ownComplex<double>(double*, double*, double*, int, int);
template bool ownRealForward<float>(const float*, float*, float*, int, int);
template bool ownRealForward<double>(const double*, double*, double*, int, int);
template bool ownRealInverse<float>(const float*, float*, float*, int, int);
template bool ownRealInverse<double>(const double*, double*, double*, int, int);
template bool ownComplexPermuted<float>(float*, float*, int, int);
template bool ownComplexPermuted<double>(double*, double*, int, int);
template bool ownRealForwardPermuted<float>(float*, float*, float*, int, int);
template bool ownRealForwardPermuted<double>(double*, double*, double*, int, int);

}  // namespace vex
