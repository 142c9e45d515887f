#pragma once
// The journal's file as the operating system sees it, before SQLite does:
// what kind of file is at the path (nothing, an empty file, our journal, an
// unmarked journal of an earlier version, or someone else's), on what kind
// of file system, and a lock on the very file opened that every program of
// ours respects.
//
// The lock is flock(2) on our own descriptor of the file, independent of
// SQLite's record locks. Holders of the shared lock use the file; the one
// that moves a damaged file aside holds it exclusively and moves only the
// file it has open (same device and inode as the path), so a journal
// another program has just created is never taken for the damaged one.
// A program that finds, under the shared lock, that the path no longer
// leads to its file knows the file was moved aside and opens the new one.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace pmjournal {

// Marks our files: "PMSJ".
inline constexpr std::uint32_t kApplicationId = 0x504D534A;

// What a file's first 100 bytes (the SQLite header) and its size say.
enum class FileKind {
  Empty,     // zero bytes: ours to start a journal in
  Foreign,   // not an SQLite database at all
  OtherApp,  // an SQLite database of another program (its application id)
  Ours,      // marked with our application id
  Unmarked,  // an SQLite database without an application id: a journal of an earlier version, or not ours
};

struct Header {
  FileKind kind = FileKind::Foreign;
  std::int32_t userVersion = 0;  // the schema version, as any file may set it
  std::uint32_t applicationId = 0;
};

Header ReadHeader(const unsigned char* bytes, std::size_t n, std::uint64_t fileSize);

// A file system on which SQLite's write-ahead log does not work (its locks
// and shared memory are local to one machine): NFS, SMB/CIFS, FUSE, 9P ...
// The name of the kind, or "" for a local file system.
std::string NetworkFileSystem(long magic);

// Our descriptor of the journal's file. Throws JournalError naming the path.
class JournalFile {
 public:
  // Opens the file at `path`; creates an empty one when `create` and it is
  // missing. Refuses what is not a regular file and a network file system.
  JournalFile(const std::string& path, bool create);
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // The shared or the exclusive lock, waiting at most `waitMs`; false when
  // the time ran out. Taking one drops the other first.
  bool Shared(int waitMs);
  bool Exclusive(int waitMs);
  void Unlock();

  // Whether `path` still leads to the file opened.
  bool StillAt(const std::string& path) const;
  Header ReadHeader() const;
  std::uint64_t Size() const;
  bool Writable() const { return m_writable; }

 private:
  bool Lock(int operation, int waitMs);

  int m_fd = -1;
  bool m_writable = false;
};

// Holds the shared lock of a file for one scope.
class SharedHold {
 public:
  SharedHold(JournalFile& file, int waitMs) : m_file(file), m_held(file.Shared(waitMs)) {}
  ~SharedHold() {
    if (m_held) m_file.Unlock();
  }
  SharedHold(const SharedHold&) = delete;
  SharedHold& operator=(const SharedHold&) = delete;
  bool Held() const { return m_held; }

 private:
  JournalFile& m_file;
  bool m_held;
};

}  // namespace pmjournal
