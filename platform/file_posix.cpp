// POSIX files: positioned reads and writes (pread/pwrite, and pwritev for gathers), exclusive
// temporary files and an atomic rename. POSIX calls and pwritev, which Linux, macOS and the
// BSDs all have; the room set aside for a destination uses Linux's fallocate where there is one.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/file.h"

namespace reelfix::platform {
namespace {

std::string reason_of(int error) { return std::strerror(error); }

// Why a name that must lead to a regular file does not: what it is instead.
std::string kind_of(const struct stat& info) {
  return S_ISDIR(info.st_mode) ? reason_of(EISDIR) : kNotARegularFile;
}

int descriptor(const FileHandle& file) { return static_cast<int>(file.native); }

// The signals whose default action ends the process and that a handler may catch: the user's
// interrupt, quit and hang-up, termination, the timers and CPU limit, the user signals. SIGPIPE
// and SIGXFSZ are ignored from start-up on.
constexpr int kTerminatingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGALRM,
                                       SIGUSR1, SIGUSR2, SIGPROF, SIGVTALRM, SIGXCPU};

// The temporary files that an interruption must remove: a conversion's destination, and the
// source reelprep writes for it beside that. Fixed buffers, so that the signal handler touches
// nothing but memory that exists for the whole process.
struct ArmedPath {
  char path[4096] = {};  // zero-initialised: constant, so no start-up code touches it
  std::atomic<bool> armed{false};
};
ArmedPath g_temp_paths[4];

// The text an interruption leaves on standard error, in place before its length counts.
char g_interruption_note[8192];
std::atomic<std::size_t> g_interruption_note_size{0};

extern "C" void remove_temporary_and_die(int signal_number) {
  for (ArmedPath& slot : g_temp_paths) {
    if (slot.armed.load()) unlink(slot.path);
  }
  const std::size_t size = g_interruption_note_size.load();
  for (std::size_t written = 0; written < size;) {
    const ssize_t n = ::write(STDERR_FILENO, g_interruption_note + written, size - written);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) written += static_cast<std::size_t>(n);
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

void arm_interrupt_cleanup(const std::string& path) {
  if (path.size() >= sizeof g_temp_paths[0].path) return;
  ArmedPath* free_slot = nullptr;
  for (ArmedPath& slot : g_temp_paths) {
    if (!slot.armed.load()) free_slot = &slot;
  }
  if (free_slot == nullptr) return;
  // The path is in place before the slot counts, so the handler never reads half a path.
  std::memcpy(free_slot->path, path.c_str(), path.size() + 1);
  free_slot->armed.store(true);
  struct sigaction action {};
  action.sa_handler = remove_temporary_and_die;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kTerminatingSignals) {
    // Only a signal left to its default action is taken over. One the process was started to
    // ignore (nohup, a background job) stays ignored, and a handler of a program that runs
    // conversions as a library (a fuzzer's timeout alarm) stays in place.
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0) continue;
    const bool plain = (current.sa_flags & SA_SIGINFO) == 0;
    if (!plain || (current.sa_handler != SIG_DFL && current.sa_handler != remove_temporary_and_die)) {
      continue;
    }
    sigaction(signal_number, &action, nullptr);
  }
}

void disarm_interrupt_cleanup(const std::string& path) {
  for (ArmedPath& slot : g_temp_paths) {
    if (slot.armed.load() && path == slot.path) slot.armed.store(false);
  }
}


}  // namespace

void set_interruption_note(const std::string& text) {
  g_interruption_note_size.store(0);
  const std::size_t size = std::min(text.size(), sizeof g_interruption_note);
  std::memcpy(g_interruption_note, text.data(), size);
  g_interruption_note_size.store(size);
}


bool is_open(const FileHandle& file) { return file.native >= 0; }

bool open_for_reading(FileHandle& file, const std::string& name, std::string& reason) {
  int fd;
  do {
    // Without O_NONBLOCK, opening a named pipe would wait for a writer that may never come.
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reason = reason_of(errno);
    return false;
  }
  // Only a regular file has a length and stays put while it is read: not a directory, a pipe
  // or a device.
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    reason = reason_of(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = kind_of(info);
    ::close(fd);
    return false;
  }
  file.native = fd;
  file.name = name;
  return true;
}

std::size_t read_at(FileHandle& file, std::uint64_t offset, void* buffer, std::size_t n) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  // Offsets beyond what off_t holds lie behind any end: nothing to read there.
  constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(INT64_MAX);
  while (done < n && offset + done < kMaxOffset) {
    ssize_t got = ::pread(descriptor(file), bytes + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError("reading", file.name, reason_of(errno));
    }
    if (got == 0) break;  // the end of the file
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void write_at(FileHandle& file, std::uint64_t offset, const void* buffer, std::size_t n) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    ssize_t put = ::pwrite(descriptor(file), bytes + done, n - done, static_cast<off_t>(offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw FileError("writing", file.name, reason_of(errno));
    }
    if (put == 0) throw FileError("writing", file.name, reason_of(ENOSPC));
    done += static_cast<std::size_t>(put);
  }
}

void write_gather_at(FileHandle& file, std::uint64_t offset, const ByteRange* ranges,
                     std::size_t count) {
  // At most this many ranges go to one call: pwritev refuses more than IOV_MAX.
  constexpr std::size_t kBatch = IOV_MAX < 1024 ? IOV_MAX : 1024;
  struct iovec pieces[kBatch];
  std::size_t next = 0;          // the first range not yet in `pieces`
  std::size_t skip = 0;          // bytes of ranges[next] already written
  while (next < count) {
    std::size_t n = 0;
    std::size_t bytes = 0;
    for (std::size_t i = next; i < count && n < kBatch; ++i, ++n) {
      const std::size_t from = i == next ? skip : 0;
      pieces[n].iov_base = const_cast<char*>(static_cast<const char*>(ranges[i].data)) + from;
      pieces[n].iov_len = ranges[i].size - from;
      bytes += pieces[n].iov_len;
    }
    const ssize_t put = ::pwritev(descriptor(file), pieces, static_cast<int>(n),
                                  static_cast<off_t>(offset));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw FileError("writing", file.name, reason_of(errno));
    }
    if (put == 0 && bytes > 0) throw FileError("writing", file.name, reason_of(ENOSPC));
    offset += static_cast<std::uint64_t>(put);
    // Past the ranges written whole, into the one written in part.
    std::size_t done = static_cast<std::size_t>(put);
    while (next < count && done >= ranges[next].size - skip) {
      done -= ranges[next].size - skip;
      skip = 0;
      ++next;
    }
    skip += done;
  }
}

bool preallocate(FileHandle& file, std::uint64_t n) {
#ifdef __linux__
  // fallocate, not posix_fallocate: where the file system cannot set room aside, the latter
  // writes zeros over the whole length, which costs what it was to save.
  int result;
  do {
    result = ::fallocate(descriptor(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(n));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (errno == ENOSPC || errno == EDQUOT) throw FileError("writing", file.name, reason_of(errno));
  return false;  // EOPNOTSUPP, ENOSYS, ENODEV and the like: the writes find room as they go
#else
  (void)file;
  (void)n;
  return false;
#endif
}

void set_length(FileHandle& file, std::uint64_t n) {
  int result;
  do {
    result = ::ftruncate(descriptor(file), static_cast<off_t>(n));
  } while (result != 0 && errno == EINTR);
  if (result != 0) throw FileError("writing", file.name, reason_of(errno));
}

std::uint64_t file_length(FileHandle& file) {
  struct stat info {};
  if (fstat(descriptor(file), &info) != 0) {
    throw FileError("reading the length of", file.name, reason_of(errno));
  }
  return static_cast<std::uint64_t>(info.st_size);
}

void close_file(FileHandle& file) {
  if (!is_open(file)) return;
  int fd = descriptor(file);
  file.native = -1;
  if (::close(fd) != 0 && errno != EINTR) throw FileError("closing", file.name, reason_of(errno));
}

bool create_temporary_beside(const std::string& dest_name, FileHandle& file,
                             std::string& temp_path, std::string& reason) {
  mode_t mode = 0666;  // narrowed by the umask, as for any new file
  struct stat info {};
  if (stat(dest_name.c_str(), &info) == 0) {
    // Only a regular file is replaced: renaming over a directory, a device or a pipe would
    // destroy what stands there.
    if (!S_ISREG(info.st_mode)) {
      reason = kind_of(info);
      return false;
    }
    if (access(dest_name.c_str(), W_OK) != 0) {
      reason = reason_of(errno);
      return false;
    }
    mode = info.st_mode & 07777;  // a replaced file keeps its permissions
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temporary_name_beside(dest_name);
    // Armed before the file exists: an interruption right after its creation must not leave
    // it behind. Should the name be taken after all, it is disarmed at once; an interruption in
    // between would remove a file of that random name, a far smaller chance than the one this
    // closes.
    arm_interrupt_cleanup(candidate);
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      const int error = errno;
      disarm_interrupt_cleanup(candidate);
      if (error == EEXIST || error == EINTR) continue;
      reason = reason_of(error);
      return false;
    }
    if (mode != 0666) fchmod(fd, mode);
    file.native = fd;
    file.name = dest_name;
    temp_path = candidate;
    return true;
  }
  reason = reason_of(EEXIST);
  return false;
}

void replace_with_temporary(const std::string& temp_path, const std::string& dest_name) {
  if (std::rename(temp_path.c_str(), dest_name.c_str()) != 0) {
    throw FileError("replacing", dest_name, reason_of(errno));
  }
  disarm_interrupt_cleanup(temp_path);
}

void remove_temporary(const std::string& temp_path) noexcept {
  disarm_interrupt_cleanup(temp_path);
  if (!temp_path.empty()) unlink(temp_path.c_str());
}

bool name_exists(const std::string& name) {
  struct stat info {};
  return lstat(name.c_str(), &info) == 0;
}

bool same_existing_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool same_file_name(const std::string& a, const std::string& b) { return a == b; }

}  // namespace reelfix::platform
