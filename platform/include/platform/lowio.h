#pragma once
// Low-level file handles without text translation, the only way the media code touches
// files. A handle is a POSIX descriptor; 0 or below means "not open" (Open never hands out
// descriptor 0, even when standard input is closed). Offsets are 32-bit as the callers
// expect: a file of 2 GiB or more is refused by Open.

#include <cstdint>

namespace platform {

// Open flags, the values the callers pass.
constexpr int kO_RDONLY = 0x0000;
constexpr int kO_RDWR = 0x0002;
constexpr int kO_CREAT = 0x0100;
constexpr int kO_TRUNC = 0x0200;
constexpr int kO_BINARY = 0x8000;  // accepted and ignored: there is no text mode here
constexpr int kS_IREAD = 0x0100;
constexpr int kS_IWRITE = 0x0080;

constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

// Opens a regular file. Returns a handle above 0, or -1 when the path cannot be opened,
// is not a regular file (a directory, a FIFO, a device: refused without waiting), or is
// 2 GiB or larger.
int _open(const char* path, int flags, int permission = kS_IREAD | kS_IWRITE);
// Bytes read (0 at end of file), or -1 on error / bad handle. Retries EINTR.
int _read(int fd, void* buffer, unsigned int count);
// Bytes written, or -1 on error / bad handle.
int _write(int fd, const void* buffer, unsigned int count);
// New position, or -1 on error.
long _lseek(int fd, long offset, int origin);
// Current position, or -1.
long _tell(int fd);
// File length in bytes without moving the position, or -1.
long _filelength(int fd);
// 1 at end of file, 0 before it, -1 on error.
int _eof(int fd);
// 0 on success, -1 on error or a handle of 0 or below.
int _close(int fd);

}  // namespace platform
