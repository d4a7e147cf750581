// Clang's thread-safety attributes, which let the compiler check that data
// is touched only with the lock that guards it held (-Wthread-safety):
//
//     Mutex m_mutex;
//     int m_count GUARDED_BY(m_mutex);
//     void bump() REQUIRES(m_mutex);
//
// Other compilers see nothing. Only a type that says it is a capability can
// be named in them; see Mutex.h for ours.
#pragma once

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)

// A data member read and written only with `lock` held.
#define GUARDED_BY(lock) THREAD_ANNOTATION(guarded_by(lock))
// A pointer member whose pointee is used only with `lock` held.
#define PT_GUARDED_BY(lock) THREAD_ANNOTATION(pt_guarded_by(lock))

// A function the caller calls with the locks held.
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that takes the locks itself: the caller must not hold them.
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the locks (none named: the object's own) and
// returns holding them, or that lets them go.
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The function takes the capability when it returns `result`.
#define TRY_ACQUIRE(...) THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

// A function the analysis leaves alone; say why wherever it is used.
#define NO_THREAD_SAFETY_ANALYSIS THREAD_ANNOTATION(no_thread_safety_analysis)
