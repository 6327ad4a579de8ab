#include "Codecs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ostream>
#include <sstream>
#include <vector>

#include "CodecsPrivate.h"

namespace ombrix {

namespace codecs {

void Malformed(const char* format, const std::string& what) {
  throw EInvalidGraphic(std::string("Invalid ") + format + " file: " + what);
}

void CheckPictureSize(const char* format, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) {
    Malformed(format, "picture size " + std::to_string(width) + " x " + std::to_string(height));
  }
  if (width > kMaxPicturePixels || height > kMaxPicturePixels ||
      width * height > kMaxPicturePixels) {
    Malformed(format, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels is too large");
  }
}

void RequirePicture(const TBitmap& bitmap, const char* format) {
  if (bitmap.Empty()) {
    throw EInvalidGraphic(std::string("Cannot write an empty picture as ") + format);
  }
}

void WriteBytes(std::ostream& out, const void* data, std::size_t size) {
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) throw EWriteError();
}

}  // namespace codecs

namespace {

// Owns one file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now; false when close reports an error (for a written file, lost data).
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Removes a temporary file unless it was put in place.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  void Set(std::string path) { path_ = std::move(path); }
  const std::string& Path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Creates a new file beside target, exclusively so no other file is ever overwritten; its
// permissions follow the umask as those of any new file. Its name does not grow with
// target's: a name of the longest length a folder allows must still leave room for it.
// Returns the descriptor, or -1.
int CreateBeside(const std::string& target, TemporaryFile& temporary) {
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = dir + ".ombrix-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temporary.Set(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// The file that path finally names once every symbolic link on its last component is followed
// (the file itself need not exist). A relative link is read from the folder of the link.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  // The kernel's own limit on links in one lookup.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size() - 1);
    if (length <= 0) throw EFCreateError(path, SystemReason(length < 0 ? errno : ENOENT));
    const std::string next(link.data(), static_cast<std::size_t>(length));
    const std::size_t slash = current.rfind('/');
    current = next.front() == '/' || slash == std::string::npos
                  ? next
                  : current.substr(0, slash + 1) + next;
  }
  throw EFCreateError(path, SystemReason(ELOOP));
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

TFileFormat DetectFileFormat(const uint8_t* data, std::size_t size) {
  static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data == nullptr) return ffUnknown;
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return ffPng;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ffJpeg;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return ffBmp;
  return ffUnknown;
}

std::unique_ptr<TBitmap> DecodePicture(const uint8_t* data, std::size_t size) {
  switch (DetectFileFormat(data, size)) {
    case ffBmp:
      return DecodeBmp(data, size);
    case ffPng:
      return DecodePng(data, size);
    case ffJpeg:
      return DecodeJpeg(data, size);
    case ffUnknown:
      break;
  }
  throw EInvalidGraphic("Unknown picture format (not a BMP, PNG or JPEG file)");
}

std::string ReadRegularFile(const std::string& path, uint64_t maxBytes) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come; for a regular
  // file the flag changes nothing. What was opened is checked, not what the name named a
  // moment before.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.Get() < 0) throw EFOpenError(path, SystemReason(errno));
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) throw EFOpenError(path, SystemReason(errno));
  if (S_ISDIR(info.st_mode)) throw EFOpenError(path, SystemReason(EISDIR));
  if (!S_ISREG(info.st_mode)) throw EFOpenError(path, "not a regular file");
  if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    throw EInvalidGraphic("File too large: " + path);
  }
  std::string bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EReadError(SystemReason(errno));
    if (got == 0) break;  // the file shrank while we read it: take what is there
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

std::unique_ptr<TBitmap> LoadPictureFromFile(const std::string& path) {
  // A file several times larger than the largest picture we accept is not one of ours.
  const std::string bytes = ReadRegularFile(path, kMaxPicturePixels * 4 + 65536);
  return DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TFileFormat FileFormatOfName(const std::string& fileName, TFileFormat otherwise) {
  const std::size_t slash = fileName.rfind('/');
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return otherwise;
  std::string extension = fileName.substr(dot);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (extension == ".jpg" || extension == ".jpeg") return ffJpeg;
  if (extension == ".png") return ffPng;
  if (extension == ".bmp") return ffBmp;
  return otherwise;
}

void WritePicture(const TBitmap& bitmap, std::ostream& out, TFileFormat format) {
  switch (format) {
    case ffBmp:
      WriteBmp(bitmap, out);
      return;
    case ffPng:
      WritePng(bitmap, out);
      return;
    case ffJpeg:
      WriteJpeg(bitmap, out);
      return;
    case ffUnknown:
      break;
  }
  throw EInvalidGraphic("No picture format chosen for writing");
}

void WritePictureFile(const TBitmap& bitmap, const std::string& path, TFileFormat format) {
  std::ostringstream encoded(std::ios::binary);
  WritePicture(bitmap, encoded, format);
  const std::string bytes = std::move(encoded).str();

  // A link stays a link: the file it leads to is the one replaced.
  const std::string target = FollowLinks(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) throw EFCreateError(path, SystemReason(EISDIR));
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a FIFO cannot be replaced by renaming: the data goes straight into it.
    FileDescriptor file(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) throw EFCreateError(path, SystemReason(errno));
    if (!WriteAll(file.Get(), bytes.data(), bytes.size()) || !file.Close()) {
      throw EWriteError(SystemReason(errno), path);
    }
    return;
  }

  TemporaryFile temporary;
  FileDescriptor file(CreateBeside(target, temporary));
  if (file.Get() < 0) throw EFCreateError(path, SystemReason(errno));
  if (exists) {
    // The new file takes the place of the old one with its owner and permissions, so a
    // private picture stays private. Only root may give a file away, so for anyone else
    // the new file is the writer's. The mode is set after the owner, which clears set-id
    // bits.
    [[maybe_unused]] const int owned = ::fchown(file.Get(), existing.st_uid, existing.st_gid);
    if (::fchmod(file.Get(), existing.st_mode & 07777) != 0) {
      throw EFCreateError(path, SystemReason(errno));
    }
  }
  if (!WriteAll(file.Get(), bytes.data(), bytes.size())) {
    throw EWriteError(SystemReason(errno), path);
  }
  // The data must be on disk before the rename makes it the file at path.
  if (::fsync(file.Get()) != 0 || !file.Close()) throw EWriteError(SystemReason(errno), path);
  if (::rename(temporary.Path().c_str(), target.c_str()) != 0) {
    throw EFCreateError(path, SystemReason(errno));
  }
  temporary.Keep();
}

}  // namespace ombrix
