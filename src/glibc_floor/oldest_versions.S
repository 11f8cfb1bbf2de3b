// Calls into libc by the oldest version of each entry point, so that what we
// ship loads on glibc 2.17 and later. Linked today, a call binds to the newest
// version: dlopen@GLIBC_2.34, which moved from libdl into libc there, and so
// on. Each entry point here is a local jump to the version that every glibc
// since 2.2.5 exports (from libdl.so.2 or libpthread.so.0 before 2.34, from
// libc.so.6 since), whatever its arguments. The binary's own calls bind to
// these at link time. A shared library's --gc-sections drops the ones it does
// not call; a program keeps them all, which costs nothing on any glibc.

.macro oldest name, version
  .section .text.oldest.\name, "ax", @progbits
  .globl \name
  .hidden \name
  .type \name, @function
\name:
  jmp *\name\()_oldest@GOTPCREL(%rip)
  .size \name, . - \name
  .symver \name\()_oldest, \name@\version
.endm

oldest dladdr, GLIBC_2.2.5
oldest dladdr1, GLIBC_2.3.3
oldest dlclose, GLIBC_2.2.5
oldest dlerror, GLIBC_2.2.5
oldest dlinfo, GLIBC_2.3.3
oldest dlopen, GLIBC_2.2.5
oldest dlsym, GLIBC_2.2.5
oldest pthread_create, GLIBC_2.2.5
oldest pthread_getspecific, GLIBC_2.2.5
oldest pthread_join, GLIBC_2.2.5
oldest pthread_key_create, GLIBC_2.2.5
oldest pthread_once, GLIBC_2.2.5
oldest pthread_rwlock_rdlock, GLIBC_2.2.5
oldest pthread_rwlock_trywrlock, GLIBC_2.2.5
oldest pthread_rwlock_unlock, GLIBC_2.2.5
oldest pthread_rwlock_wrlock, GLIBC_2.2.5
oldest pthread_setspecific, GLIBC_2.2.5

.section .note.GNU-stack, "", @progbits
