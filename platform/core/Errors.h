#pragma once
// The run-time errors of Ombrix. Every failure that ends a handler is one of these; the
// application's error report shows what() to the user, so each text is exactly the one the
// user is meant to read.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace ombrix {

class EOmbrixError : public std::runtime_error {
 public:
  // what() is the error's own text; reason, when given, says in English why the operation
  // failed (the system's or a library's own words), for command-line tools; detail, when
  // given, is the second line of the window's report, below the text.
  explicit EOmbrixError(const std::string& text, std::string reason = {},
                        const std::string& detail = {})
      : std::runtime_error(text),
        reason_(std::move(reason)),
        report_(detail.empty() ? text : text + "\n" + detail) {}
  // The English reason, or what() when none was given.
  const char* Reason() const noexcept { return reason_.empty() ? what() : reason_.c_str(); }
  // What the window's error report shows: what(), then the detail on a line of its own.
  const char* ReportText() const noexcept { return report_.c_str(); }

 private:
  std::string reason_;
  std::string report_;
};

// The system's text for an errno value ("No such file or directory").
std::string SystemReason(int error);

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
  // reason: what was wrong with the data, in English (default: the stream ended early).
  explicit EReadError(const std::string& reason = "unexpected end of data");
};

// A file could not be created for writing.
class EFCreateError : public EOmbrixError {
 public:
  // reason: why, in English (SystemReason of the failing call's errno, usually); when given,
  // the window's report shows it on its second line.
  explicit EFCreateError(const std::string& fileName, const std::string& reason = {});
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
  explicit EFOpenError(const std::string& fileName, const std::string& reason = {});
};

// Bytes could not be written to a stream or file (disk full, I/O error).
class EWriteError : public EOmbrixError {
 public:
  // reason: why, in English; fileName: the file being written, when there is one. The window's
  // report shows "fileName: reason" on its second line (either alone when the other is empty).
  explicit EWriteError(const std::string& reason = {}, const std::string& fileName = {});
};

// The JPEG library reported an error; code is its message number, message its own text.
class EJPEG : public EOmbrixError {
 public:
  explicit EJPEG(int code, const std::string& message = {});
};

// Printing was asked for but no default printer exists.
class EPrinter : public EOmbrixError {
 public:
  EPrinter();
};

}  // namespace ombrix
