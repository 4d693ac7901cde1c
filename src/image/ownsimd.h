// Code generation for the hot row kernels: functions marked OWN_CLONES are
// compiled twice, for AVX2 and for the baseline, and the loader picks one
// per process. VEXLIB_PORTABLE builds keep only the baseline so that the
// whole test suite can run on the portable kernels.
#pragma once

#if defined(VEXLIB_PORTABLE) || !defined(__x86_64__) || defined(__clang__)
#define OWN_CLONES
#else
#define OWN_CLONES __attribute__((target_clones("avx2", "default")))
#endif
