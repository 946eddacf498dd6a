// What the library throws, and what callers may rely on.
//
// Every routine below src/app and src/cli reports a failure with one of three types:
// - EZorException (imagebase.h) with its code: the image model refuses an operation
//   (formats that do not convert, sizes that differ, a view with no image, a bad size
//   or format code).
// - FileError: a file cannot be read or written, or the picture read from it cannot
//   be processed into a result worth writing (values that are not finite, a solver
//   that diverged, more memory than allowed). what() says what is wrong in one line;
//   code that knows the file's name puts it first ("<path>: <problem>"), and code that
//   works on bytes or pixels in memory leaves that to its caller.
// - SettingError: a usage error, a setting or argument outside what the routine
//   accepts. It is a std::invalid_argument; what() names the setting.
// Nothing else is thrown on purpose. Two more things pass through every layer and are
// not failures of the library: OperationStopped (progress.h), a stop the user asked
// for, and std::bad_alloc, memory the system would not give. The command-line tool
// turns each type into an exit status, and the desktop application into a message box,
// each in one place.
#pragma once

#include <stdexcept>
#include <string>

#include "imaging/imagebase.h"

namespace tvq {

// Any failure to read or write a file, or to make a result of the picture it holds.
// what() = "<path>: <what is wrong>" (one line); decoders that work on bytes in memory
// throw it with the problem only, and the reader of the file prefixes the path.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A picture refused for having more pixels than the reader's limit allows.
class PixelLimitError : public FileError {
 public:
  using FileError::FileError;
};

// A refused setting: what() is "<caption>: <problem>"; Flag() and Problem() let the
// command-line tool name its option instead. Arguments a routine refuses that no
// setting describes carry their whole message and no flag.
class SettingError : public std::invalid_argument {
 public:
  SettingError(const char* caption, const char* flag, const std::string& problem);
  explicit SettingError(const std::string& message);
  // The command-line option without dashes; nullptr when no setting is named.
  const char* Flag() const { return flag_; }
  const std::string& Problem() const { return problem_; }

 private:
  const char* flag_ = nullptr;
  std::string problem_;
};

}  // namespace tvq
