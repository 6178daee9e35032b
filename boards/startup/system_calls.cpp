// The C library's system interface on the bare chip: standard output and
// error go to the console, there are no files and no heap.
#include <sys/stat.h>

#include <cerrno>

#include "platform/console.h"

extern "C" {

int _write(int file, const char* data, int size) {
  if (file != 1 && file != 2) {
    errno = ENOSYS;
    return -1;
  }
  consoleWrite(data, static_cast<size_t>(size));
  return size;
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
int _isatty(int file) { return file <= 2 ? 1 : 0; }
// No heap: every allocation fails.
void* _sbrk(int) {
  errno = ENOMEM;
  return reinterpret_cast<void*>(-1);
}

}
