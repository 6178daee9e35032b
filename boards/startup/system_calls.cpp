// The C library's system interface on the bare chip: no files, no heap.
// Formatting into buffers needs none of it, but the library's stream code
// refers to it.
#include <sys/stat.h>

#include <cerrno>

extern "C" {

int _write(int, const char*, int) {
  errno = ENOSYS;
  return -1;
}
int _read(int, char*, int) {
  errno = ENOSYS;
  return -1;
}
int _close(int) {
  errno = ENOSYS;
  return -1;
}
int _lseek(int, int, int) {
  errno = ENOSYS;
  return -1;
}
int _fstat(int, struct stat*) {
  errno = ENOSYS;
  return -1;
}
int _isatty(int) { return 0; }
// No heap: every allocation fails.
void* _sbrk(int) {
  errno = ENOMEM;
  return reinterpret_cast<void*>(-1);
}

}
