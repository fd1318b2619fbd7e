// Windows files: positioned reads and writes (ReadFile/WriteFile with OVERLAPPED offsets on
// synchronous handles), exclusive temporary files and an atomic MoveFileExW. Names arrive as
// UTF-8 and reach the system as UTF-16, so names in any script work.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "platform/file.h"
#include "platform/utf16_win32.h"

namespace reelfix::platform {
namespace {

std::string last_error_reason() { return system_message(GetLastError()); }

// Windows has no message of its own for these; its "Access is denied" for a directory would
// mislead.
constexpr char kIsADirectory[] = "Is a directory";

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native); }

// A ReadFile or WriteFile moves at most this many bytes in one call.
constexpr std::size_t kMaxTransfer = 1u << 30;

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// The temporary files that a console break must remove: a conversion's destination, and the
// source reelprep writes for it beside that. Fixed buffers, so that the handler, which the
// system calls on a thread of its own, touches nothing that is freed or moved.
struct ArmedPath {
  wchar_t path[32768] = {};  // zero-initialised: constant, so no start-up code touches it
  std::atomic<bool> armed{false};
};
ArmedPath g_temp_paths[4];
std::atomic<bool> g_handler_installed{false};

// The text a break leaves on standard error, in place before its length counts.
char g_interruption_note[8192];
std::atomic<std::size_t> g_interruption_note_size{0};

// The temporary files are open with FILE_SHARE_DELETE, so they can be deleted here while the
// main thread still writes them: they go when the process ends and its handles close. FALSE
// passes the event on to the default handler, which ends the process.
BOOL WINAPI remove_temporary_on_break(DWORD /*event*/) {
  for (ArmedPath& slot : g_temp_paths) {
    if (slot.armed.exchange(false)) DeleteFileW(slot.path);
  }
  const DWORD size = static_cast<DWORD>(g_interruption_note_size.load());
  DWORD written = 0;
  if (size > 0) {
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), g_interruption_note, size, &written, nullptr);
  }
  return FALSE;
}

void arm_interrupt_cleanup(const std::wstring& path) {
  if (path.size() >= sizeof g_temp_paths[0].path / sizeof(wchar_t)) return;
  ArmedPath* free_slot = nullptr;
  for (ArmedPath& slot : g_temp_paths) {
    if (!slot.armed.load()) free_slot = &slot;
  }
  if (free_slot == nullptr) return;
  std::memcpy(free_slot->path, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  free_slot->armed.store(true);
  if (!g_handler_installed.exchange(true)) SetConsoleCtrlHandler(remove_temporary_on_break, TRUE);
}

void disarm_interrupt_cleanup(const std::string& path) {
  const std::wstring wide = to_utf16(path);
  for (ArmedPath& slot : g_temp_paths) {
    if (slot.armed.load() && wide == slot.path) slot.armed.store(false);
  }
}


// A handle that reads no data but tells which file a name leads to; directories too.
HANDLE open_for_identity(const std::string& name) {
  return CreateFileW(to_utf16(name).c_str(), 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The volume and the file's number on it. ReFS numbers files with 128 bits, which FileIdInfo
// gives (Windows 8 and later); the 64-bit index of GetFileInformationByHandle is the fallback.
struct FileIdentity {
  unsigned long long volume = 0;
  unsigned char id[16] = {};
};

bool identity_of(HANDLE handle, FileIdentity& identity) {
  FILE_ID_INFO full{};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &full, sizeof full)) {
    identity.volume = full.VolumeSerialNumber;
    std::memcpy(identity.id, full.FileId.Identifier, sizeof identity.id);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  const unsigned long long index =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  std::memcpy(identity.id, &index, sizeof index);
  return true;
}

}  // namespace

void set_interruption_note(const std::string& text) {
  g_interruption_note_size.store(0);
  const std::size_t size = std::min(text.size(), sizeof g_interruption_note);
  std::memcpy(g_interruption_note, text.data(), size);
  g_interruption_note_size.store(size);
}


bool is_open(const FileHandle& file) { return file.native != -1; }

bool open_for_reading(FileHandle& file, const std::string& name, std::string& reason) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open at all.
  HANDLE handle =
      CreateFileW(to_utf16(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A directory answers "Access is denied"; say what it is.
    const DWORD attributes = GetFileAttributesW(to_utf16(name).c_str());
    reason = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? kIsADirectory
                 : system_message(error);
    return false;
  }
  // Only a file on a disk has a length and stays put while it is read: not a console (CON
  // would wait for the keyboard), a pipe or another device.
  BY_HANDLE_FILE_INFORMATION info{};
  const bool on_disk = GetFileType(handle) == FILE_TYPE_DISK;
  if (!on_disk || (GetFileInformationByHandle(handle, &info) &&
                   (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
    reason = on_disk ? kIsADirectory : kNotARegularFile;
    CloseHandle(handle);
    return false;
  }
  file.native = reinterpret_cast<std::intptr_t>(handle);
  file.name = name;
  return true;
}

std::size_t read_at(FileHandle& file, std::uint64_t offset, void* buffer, std::size_t n) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  // Offsets beyond what a LARGE_INTEGER holds lie behind any end: nothing to read there.
  constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(LLONG_MAX);
  while (done < n && offset + done < kMaxOffset) {
    const DWORD chunk = static_cast<DWORD>(std::min(n - done, kMaxTransfer));
    OVERLAPPED position = at_offset(offset + done);
    DWORD got = 0;
    if (!ReadFile(handle_of(file), bytes + done, chunk, &got, &position)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;  // at or behind the end
      throw FileError("reading", file.name, last_error_reason());
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void write_at(FileHandle& file, std::uint64_t offset, const void* buffer, std::size_t n) {
  // Writing behind the end makes the file longer; the file system fills the gap with zeros.
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const DWORD chunk = static_cast<DWORD>(std::min(n - done, kMaxTransfer));
    OVERLAPPED position = at_offset(offset + done);
    DWORD put = 0;
    if (!WriteFile(handle_of(file), bytes + done, chunk, &put, &position)) {
      throw FileError("writing", file.name, last_error_reason());
    }
    if (put == 0) throw FileError("writing", file.name, system_message(ERROR_DISK_FULL));
    done += put;
  }
}

void write_gather_at(FileHandle& file, std::uint64_t offset, const ByteRange* ranges,
                     std::size_t count) {
  // No gathering WriteFile for ordinary handles: one call per range. The conversion copies its
  // pieces into one buffer here (kWritesGathered is false), so that is one call per buffer.
  for (std::size_t i = 0; i < count; ++i) {
    write_at(file, offset, ranges[i].data, ranges[i].size);
    offset += ranges[i].size;
  }
}

bool preallocate(FileHandle& file, std::uint64_t n) {
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(n);
  if (SetFileInformationByHandle(handle_of(file), FileAllocationInfo, &allocation,
                                 sizeof allocation)) {
    return true;
  }
  const DWORD error = GetLastError();
  constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED; not in mingw-w64's headers
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == kDiskQuotaExceeded) {
    throw FileError("writing", file.name, system_message(error));
  }
  return false;
}

void set_length(FileHandle& file, std::uint64_t n) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(n);
  if (!SetFileInformationByHandle(handle_of(file), FileEndOfFileInfo, &end, sizeof end)) {
    throw FileError("writing", file.name, last_error_reason());
  }
}

std::uint64_t file_length(FileHandle& file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(file), &size)) {
    throw FileError("reading the length of", file.name, last_error_reason());
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

void close_file(FileHandle& file) {
  if (!is_open(file)) return;
  HANDLE handle = handle_of(file);
  file.native = -1;
  if (!CloseHandle(handle)) throw FileError("closing", file.name, last_error_reason());
}

bool create_temporary_beside(const std::string& dest_name, FileHandle& file,
                             std::string& temp_path, std::string& reason) {
  const std::wstring dest = to_utf16(dest_name);
  const DWORD attributes = GetFileAttributesW(dest.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // MoveFileExW would refuse to replace these only once the whole movie is written.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      reason = kIsADirectory;
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      reason = system_message(ERROR_ACCESS_DENIED);
      return false;
    }
    HANDLE probe = CreateFileW(dest.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {  // no write access, or locked by another
      reason = last_error_reason();
      return false;
    }
    CloseHandle(probe);
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = temporary_name_beside(dest_name);
    std::wstring wide_candidate = to_utf16(candidate);
    // Armed before the file exists, as on POSIX: a break right after its creation must not
    // leave it behind; disarmed at once when the file cannot be made.
    arm_interrupt_cleanup(wide_candidate);
    // Others may read the file meanwhile (and delete it: see remove_temporary_on_break).
    HANDLE handle =
        CreateFileW(wide_candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      disarm_interrupt_cleanup(candidate);
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      reason = system_message(error);
      return false;
    }
    file.native = reinterpret_cast<std::intptr_t>(handle);
    file.name = dest_name;
    temp_path = candidate;
    return true;
  }
  reason = system_message(ERROR_FILE_EXISTS);
  return false;
}

void replace_with_temporary(const std::string& temp_path, const std::string& dest_name) {
  if (!MoveFileExW(to_utf16(temp_path).c_str(), to_utf16(dest_name).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw FileError("replacing", dest_name, last_error_reason());
  }
  disarm_interrupt_cleanup(temp_path);
}

void remove_temporary(const std::string& temp_path) noexcept {
  disarm_interrupt_cleanup(temp_path);
  if (!temp_path.empty()) DeleteFileW(to_utf16(temp_path).c_str());
}

bool name_exists(const std::string& name) {
  return GetFileAttributesW(to_utf16(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool same_existing_file(const std::string& a, const std::string& b) {
  HANDLE first = open_for_identity(a);
  if (first == INVALID_HANDLE_VALUE) return false;
  HANDLE second = open_for_identity(b);
  if (second == INVALID_HANDLE_VALUE) {
    CloseHandle(first);
    return false;
  }
  FileIdentity x;
  FileIdentity y;
  const bool known = identity_of(first, x) && identity_of(second, y);
  CloseHandle(first);
  CloseHandle(second);
  return known && x.volume == y.volume && std::memcmp(x.id, y.id, sizeof x.id) == 0;
}

bool same_file_name(const std::string& a, const std::string& b) {
  const std::wstring x = to_utf16(a);
  const std::wstring y = to_utf16(b);
  // Bytes that are no UTF-8 all turn into U+FFFD; such names are compared byte by byte.
  if (to_utf8(x) != a || to_utf8(y) != b) return a == b;
  if (x.size() > static_cast<std::size_t>(INT_MAX) ||
      y.size() > static_cast<std::size_t>(INT_MAX)) {
    return a == b;
  }
  // As NTFS compares names: ordinal, each character upper-cased by the system's table.
  return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                              static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace reelfix::platform
