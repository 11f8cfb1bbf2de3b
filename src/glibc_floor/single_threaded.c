// libstdc++ 11 and later skip atomic operations on reference counts while
// __libc_single_threaded is non-zero; glibc keeps that flag from 2.32 on, and
// older glibc has none. The statically linked libstdc++ reads this one
// instead: zero, "not known to be single-threaded", keeps every count atomic,
// which is right on any glibc.
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
