// The start of a program that glibc 2.17 and later can run. The start files
// of glibc 2.34 and later call __libc_start_main@GLIBC_2.34, which older glibc
// lacks, and pass it no init function, leaving it to find the program's
// constructors itself; the older versions run only the init function they are
// given. This stands in for the start files' call: it hands the oldest
// version an init function that runs the constructors, and old and new glibc
// alike call it exactly once. The destructors need nothing: the dynamic
// loader runs them in every version.
#include <stddef.h>

typedef int (*Main)(int argc, char** argv, char** envp);
typedef void (*Constructor)(int argc, char** argv, char** envp);

int oldest_libc_start_main(Main main, int argc, char** argv, Constructor init, void (*fini)(void),
                           void (*rtld_fini)(void), void* stack_end);
__asm__(".symver oldest_libc_start_main, __libc_start_main@GLIBC_2.2.5");

// From the start files (crti.o) and the linker.
extern void _init(void);
extern const Constructor __init_array_start[] __attribute__((visibility("hidden")));
extern const Constructor __init_array_end[] __attribute__((visibility("hidden")));

static void RunConstructors(int argc, char** argv, char** envp) {
  _init();
  const size_t count = (size_t)(__init_array_end - __init_array_start);
  for (size_t i = 0; i < count; ++i) __init_array_start[i](argc, argv, envp);
}

__attribute__((visibility("hidden"))) int __libc_start_main(Main main, int argc, char** argv, Constructor init,
                                                            void (*fini)(void), void (*rtld_fini)(void),
                                                            void* stack_end) {
  (void)init;
  (void)fini;
  return oldest_libc_start_main(main, argc, argv, RunConstructors, NULL, rtld_fini, stack_end);
}
