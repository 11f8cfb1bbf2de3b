// glibc before 2.33 exports no stat, fstat or lstat: its headers turned them
// into calls of __xstat, __fxstat and __lxstat, which take the layout version
// of struct stat first (1 on x86-64, where stat and stat64 are one layout).
// glibc 2.33 and later still export those, so these calls work on both.
struct stat;

enum { kStatLayout = 1 };

#define HIDDEN __attribute__((visibility("hidden")))

int oldest_xstat(int layout, const char* path, struct stat* status);
int oldest_lxstat(int layout, const char* path, struct stat* status);
int oldest_fxstat(int layout, int fd, struct stat* status);
__asm__(".symver oldest_xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver oldest_lxstat, __lxstat@GLIBC_2.2.5");
__asm__(".symver oldest_fxstat, __fxstat@GLIBC_2.2.5");

HIDDEN int stat(const char* path, struct stat* status) { return oldest_xstat(kStatLayout, path, status); }
HIDDEN int stat64(const char* path, struct stat* status) { return oldest_xstat(kStatLayout, path, status); }
HIDDEN int lstat(const char* path, struct stat* status) { return oldest_lxstat(kStatLayout, path, status); }
HIDDEN int fstat(int fd, struct stat* status) { return oldest_fxstat(kStatLayout, fd, status); }
