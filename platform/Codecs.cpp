#include "Codecs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
// permissions follow the umask as those of any new file. Returns the descriptor, or -1.
int CreateBeside(const std::string& target, TemporaryFile& temporary) {
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = dir + "." + base + "." + std::to_string(::getpid()) + "." +
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

std::unique_ptr<TBitmap> LoadPictureFromFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) throw EFOpenError(path);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) throw EFOpenError(path);
  // A file several times larger than the largest picture we accept is not one of ours.
  if (info.st_size > kMaxPicturePixels * 4 + 65536) {
    throw EInvalidGraphic("File too large for a picture: " + path);
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EReadError();
    if (got == 0) break;  // the file shrank while we read it: decode what is there
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return DecodePicture(bytes.data(), bytes.size());
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

  TemporaryFile temporary;
  FileDescriptor file(CreateBeside(path, temporary));
  if (file.Get() < 0) throw EFCreateError(path);
  if (!WriteAll(file.Get(), bytes.data(), bytes.size())) throw EWriteError();
  // The data must be on disk before the rename makes it the file at path.
  if (::fsync(file.Get()) != 0 || !file.Close()) throw EWriteError();
  if (::rename(temporary.Path().c_str(), path.c_str()) != 0) throw EFCreateError(path);
  temporary.Keep();
}

}  // namespace ombrix
