#pragma once
// The run-time errors of Ombrix. Every failure that ends a handler is one of these; the
// application's error report shows what() to the user, so each text is exactly the one the
// user is meant to read.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ombrix {

class EOmbrixError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Memory for a buffer could not be had.
class EOutOfMemory : public EOmbrixError {
 public:
  EOutOfMemory();
};

// An integer division by zero that the arithmetic would otherwise trap on.
class EDivByZero : public EOmbrixError {
 public:
  EDivByZero();
};

// A stream ended before all the bytes a reader needed.
class EReadError : public EOmbrixError {
 public:
  EReadError();
};

// A file could not be created for writing.
class EFCreateError : public EOmbrixError {
 public:
  explicit EFCreateError(const std::string& fileName);
};

// An index outside a list, array or kernel.
class EListError : public EOmbrixError {
 public:
  explicit EListError(int64_t index);
};

// Assign between classes that do not know each other. Names are class names, "nil" for none.
class EConvertError : public EOmbrixError {
 public:
  EConvertError(const std::string& sourceName, const std::string& targetName);
};

// A picture file that is malformed, truncated or of a kind we do not read. The text names the
// format and the fault ("Invalid BMP file: pixel data extends past the end of the file").
class EInvalidGraphic : public EOmbrixError {
 public:
  using EOmbrixError::EOmbrixError;
};

// A file could not be opened for reading.
class EFOpenError : public EOmbrixError {
 public:
  explicit EFOpenError(const std::string& fileName);
};

// Bytes could not be written to a stream or file (disk full, I/O error).
class EWriteError : public EOmbrixError {
 public:
  EWriteError();
};

// The JPEG library reported an error; code is its message number.
class EJPEG : public EOmbrixError {
 public:
  explicit EJPEG(int code);
};

// Printing was asked for but no default printer exists.
class EPrinter : public EOmbrixError {
 public:
  EPrinter();
};

}  // namespace ombrix
