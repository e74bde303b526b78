#pragma once

// The attributes of Clang's thread-safety analysis (-Wthread-safety): which capability
// (a mutex, or a thread's role) guards a member, which a function needs, takes or gives
// back. They cost nothing at run time and expand to nothing for other compilers.
#if defined(__clang__)
#define QS_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define QS_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) QS_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY QS_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) QS_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) QS_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) QS_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QS_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) QS_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QS_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QS_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QS_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) QS_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QS_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) QS_THREAD_ATTRIBUTE(lock_returned(x))
// The escape: the analysis does not look into the function. Each use says why.
#define NO_THREAD_SAFETY_ANALYSIS QS_THREAD_ATTRIBUTE(no_thread_safety_analysis)
