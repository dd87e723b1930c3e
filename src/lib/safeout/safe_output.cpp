// Output files written whole beside their target and moved over it at the end (safe_output.h).

#include "safe_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

struct SafeOutPending {
  SafeOutPending* next;
  std::atomic<int> live;
  int directory;
  size_t capacity;
  char path[1];
};

namespace {

// The list a signal handler walks. Entries are never freed: a handler may be reading one while
// the program lets it go, and a dead entry is reused for a later name that fits.
std::atomic<SafeOutPending*> g_pending{nullptr};
std::mutex g_pending_lock;

// Links followed one after another before a name is taken for a loop (as the kernel's limit).
constexpr int kMaxLinks = 40;
// Names tried before a directory is taken to be unusable for temporary files.
constexpr int kTempAttempts = 100;
// The part of the target's name a temporary name repeats: enough to tell whose it is, short
// enough that names made from temporary names stay within a file name's limit.
constexpr size_t kTempBaseLength = 48;

int fail(SafeOut* out, int error, const char* format, ...) {
  if (out->error == 0) {
    out->error = error != 0 ? error : EIO;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(out->message, sizeof out->message, format, ap);
    va_end(ap);
  }
  return out->error;
}

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a chain of symbolic links ends at (the name itself when it is none); the last name
// need not exist. False with errno for a loop or an unreadable link.
bool resolve_links(const std::string& path, std::string* resolved) {
  std::string name = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = name;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t n = readlink(name.c_str(), link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    name = link[0] == '/' ? std::string(link) : directory_of(name) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

uint64_t next_random() {
  static std::atomic<uint64_t> counter{0};
  timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t x = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(getpid()) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  return x;
}

// A new file of a unique name in folder, made with O_EXCL (never through an existing name);
// the descriptor or -1 with errno.
int make_temp(const std::string& folder, const std::string& base, std::string* name) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx", static_cast<unsigned long long>(next_random() & 0xFFFFFFFFFFFFull));
    *name = folder + "/." + base.substr(0, kTempBaseLength) + suffix + ".tmp";
    const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

char* copy_text(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that takes nothing would loop for ever: the device is full.
    if (n == 0) return ENOSPC;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

void drop_temp(SafeOut* out) {
  // A descriptor belongs to the record only while it has its temporary file (a zeroed record
  // holds 0, which is not its own).
  if (out->fd >= 0 && out->temp) close(out->fd);
  out->fd = -1;
  if (out->temp) unlink(out->temp);
  SafeOut_Forget(out->pending);
  out->pending = nullptr;
  std::free(out->temp);
  out->temp = nullptr;
}

// Copies the finished temporary file into a FIFO or device target; 0 or the status.
int copy_in_place(SafeOut* out) {
  const int in = open(out->temp, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(out, errno, "cannot read %s back: %s", out->temp, std::strerror(errno));
  const int fd = open(out->target, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    close(in);
    return fail(out, e, "cannot open %s: %s", out->target, std::strerror(e));
  }
  char buffer[65536];
  int status = 0;
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      status = fail(out, errno, "cannot read %s back: %s", out->temp, std::strerror(errno));
      break;
    }
    if (n == 0) break;
    if (const int e = write_all(fd, buffer, static_cast<size_t>(n)); e != 0) {
      status = fail(out, e, "cannot write %s: %s", out->target, std::strerror(e));
      break;
    }
  }
  close(in);
  if (close(fd) != 0 && status == 0) status = fail(out, errno, "cannot write %s: %s", out->target, std::strerror(errno));
  return status;
}

// Removes the files directly in a folder a run made (a folder a writer fills with files of its
// own naming). Only system calls, so that a signal handler may call it.
void empty_folder(const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short length = 0;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      const char* name = buffer + at + 19;
      if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) unlinkat(fd, name, 0);
      if (length == 0) break;
      at += length;
    }
  }
  close(fd);
}

}  // namespace

int SafeOut_Open(SafeOut* out, const char* path) {
  if (!out) return EINVAL;
  std::memset(out, 0, sizeof *out);
  out->fd = -1;
  if (!path || !*path) return fail(out, EINVAL, "no output file name");
  std::string target;
  if (!resolve_links(path, &target)) return fail(out, errno, "cannot follow %s: %s", path, std::strerror(errno));
  struct stat st {};
  std::string folder = directory_of(target);
  if (stat(target.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
      out->in_place = 1;
      // The device's own folder (/dev) takes no files: the bytes wait in the temporary folder.
      const char* tmp = std::getenv("TMPDIR");
      folder = tmp && *tmp ? tmp : "/tmp";
    } else if (!S_ISREG(st.st_mode)) {
      return fail(out, EINVAL, "%s is not a regular file, a FIFO or a character device: not written", path);
    }
    out->mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return fail(out, errno, "cannot write %s: %s", path, std::strerror(errno));
  }
  out->target = copy_text(target);
  if (!out->target) return fail(out, ENOMEM, "no memory for the output %s", path);
  std::string temp;
  out->fd = make_temp(folder, base_of(target), &temp);
  if (out->fd < 0) {
    const int e = errno;
    std::free(out->target);
    out->target = nullptr;
    return fail(out, e, "cannot write %s: %s", path, std::strerror(e));
  }
  out->temp = copy_text(temp);
  out->pending = out->temp ? SafeOut_Register(out->temp, 0) : nullptr;
  if (!out->pending) {
    unlink(temp.c_str());
    close(out->fd);
    out->fd = -1;
    std::free(out->temp);
    out->temp = nullptr;
    std::free(out->target);
    out->target = nullptr;
    return fail(out, ENOMEM, "no memory for the output %s", path);
  }
  // A replaced file keeps its permissions; a new one takes the creation mask, as any new file.
  if (out->mode != 0 && !out->in_place) fchmod(out->fd, out->mode);
  return 0;
}

int SafeOut_Write(SafeOut* out, const void* data, size_t size) {
  if (!out) return EINVAL;
  if (out->error) return out->error;
  if (out->fd < 0) return fail(out, EBADF, "cannot write %s: it is not open", out->target ? out->target : "the output");
  if (const int e = write_all(out->fd, data, size); e != 0) {
    return fail(out, e, "cannot write %s: %s", out->target, std::strerror(e));
  }
  return 0;
}

int SafeOut_Commit(SafeOut* out) {
  if (!out) return EINVAL;
  if (!out->temp) return out->error ? out->error : fail(out, EBADF, "no output to complete");
  if (out->error) {
    drop_temp(out);
    return out->error;
  }
  // The bytes that count are the ones the name holds now: whatever library wrote the file may
  // have made it anew under the same name. The file written through the descriptor is synced
  // whole; a file put there by another is synced for its data (its own writer has made it, and
  // only the rename that brought it changed the rest).
  struct stat mine {}, named {};
  const bool replaced = out->fd < 0 || fstat(out->fd, &mine) != 0 || stat(out->temp, &named) != 0 ||
                        mine.st_ino != named.st_ino || mine.st_dev != named.st_dev;
  if (out->fd >= 0) {
    const int fd = out->fd;
    out->fd = -1;
    if (!replaced && fsync(fd) != 0) {
      const int e = errno;
      close(fd);
      fail(out, e, "cannot write %s: %s", out->target, std::strerror(e));
    } else if (close(fd) != 0) {
      fail(out, errno, "cannot write %s: %s", out->target, std::strerror(errno));
    }
  }
  if (!out->error && replaced) {
    const int fd = open(out->temp, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fdatasync(fd) != 0) fail(out, errno, "cannot write %s: %s", out->target, std::strerror(errno));
    if (fd >= 0) close(fd);
  }
  if (!out->error) {
    if (out->in_place) {
      copy_in_place(out);
    } else if (rename(out->temp, out->target) != 0) {
      fail(out, errno, "cannot write %s: %s", out->target, std::strerror(errno));
    } else {
      SafeOut_Forget(out->pending);
      out->pending = nullptr;
      std::free(out->temp);
      out->temp = nullptr;
    }
  }
  drop_temp(out);
  std::free(out->target);
  out->target = nullptr;
  return out->error;
}

void SafeOut_Abort(SafeOut* out) {
  if (!out) return;
  drop_temp(out);
  std::free(out->target);
  out->target = nullptr;
}

SafeOutPending* SafeOut_Register(const char* path, int directory) {
  if (!path) return nullptr;
  const size_t length = std::strlen(path);
  std::lock_guard<std::mutex> lock(g_pending_lock);
  SafeOutPending* entry = nullptr;
  for (SafeOutPending* e = g_pending.load(); e && !entry; e = e->next) {
    if (e->live.load() == 0 && e->capacity > length) entry = e;
  }
  if (entry) {
    std::memcpy(entry->path, path, length + 1);
    entry->directory = directory;
    entry->live.store(1);
    return entry;
  }
  entry = static_cast<SafeOutPending*>(std::malloc(sizeof(SafeOutPending) + length));
  if (!entry) return nullptr;
  new (&entry->live) std::atomic<int>(1);
  entry->directory = directory;
  entry->capacity = length + 1;
  std::memcpy(entry->path, path, length + 1);
  entry->next = g_pending.load();
  g_pending.store(entry);
  return entry;
}

void SafeOut_Forget(SafeOutPending* entry) {
  if (entry) entry->live.store(0);
}

void SafeOut_RemovePending(void) {
  for (SafeOutPending* e = g_pending.load(); e; e = e->next) {
    if (e->live.load() != 1) continue;
    if (e->directory) {
      empty_folder(e->path);
      rmdir(e->path);
    } else {
      unlink(e->path);
    }
    e->live.store(0);
  }
}

namespace {

// The lines the handler writes, made before any signal can come.
char g_interrupted[128], g_terminated[128], g_hung_up[128];

void end_on_signal(int signal) {
  SafeOut_RemovePending();
  const char* text = signal == SIGINT ? g_interrupted : signal == SIGHUP ? g_hung_up : g_terminated;
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
  _exit(128 + signal);
}

}  // namespace

void SafeOut_EndOnSignals(const char* program) {
  const char* name = program ? program : "program";
  std::snprintf(g_interrupted, sizeof g_interrupted, "%s: interrupted; no output written\n", name);
  std::snprintf(g_terminated, sizeof g_terminated, "%s: terminated; no output written\n", name);
  std::snprintf(g_hung_up, sizeof g_hung_up, "%s: hung up; no output written\n", name);
  struct sigaction action {};
  action.sa_handler = end_on_signal;
  sigemptyset(&action.sa_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

int SafeOut_SameFile(const char* path, const char* other) {
  struct stat a {}, b {};
  if (!path || !other || stat(path, &a) != 0 || stat(other, &b) != 0) return 0;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
