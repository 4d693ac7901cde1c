// Code generation for the hot row kernels: functions marked OWN_CLONES are
// compiled twice, for AVX2 and for the baseline, and the loader picks one
// per process. VEXLIB_PORTABLE builds keep only the baseline so that the
// whole test suite can run on the portable kernels.
//
// ThreadSanitizer builds keep only the baseline too. The loader runs the
// clone dispatchers (ifunc resolvers) while it relocates the program, before
// the sanitizer runtime has started; an instrumented dispatcher then crashes
// the program at load time whenever the library's objects are linked into an
// instrumented executable. The kernels are bit-exact across the two forms,
// so a sanitized build computes the same results. The few hand-written AVX2
// paths choose their form with __builtin_cpu_supports at call time and need
// no such care.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define OWN_SANITIZE_THREAD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define OWN_SANITIZE_THREAD 1
#endif
#endif

#if defined(VEXLIB_PORTABLE) || !defined(__x86_64__) || defined(__clang__) || defined(OWN_SANITIZE_THREAD)
#define OWN_CLONES
#else
#define OWN_CLONES __attribute__((target_clones("avx2", "default")))
#endif
