// How the tool reports a failure: each exception type has one exit status and one
// message, decided here for the whole tool (a single command line, a batch's files, and
// the work on one file's picture).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tvq::cli {

// `text` safe to print as one line on a terminal: control characters (bytes below
// 0x20 and 0x7f) become \n, \r, \t or \x1b-style escapes, the C1 controls U+0080 to
// U+009F \u0080-style escapes, and bytes that are not UTF-8 \xNN escapes, so that a
// file name can neither start a line of its own nor send the terminal a command. A
// backslash stays as it is, so escaping twice changes nothing. Every message the tool
// writes (errors, warnings, a batch's lines, the progress line) goes through it once,
// where it is written.
std::string Printable(std::string_view text);

// Exit statuses besides 0.
inline constexpr int kExitFailure = 1;    // a file, its picture or its result failed
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitStopped = 130;  // Ctrl+C or a signal stopped the work

// A failure while processing a named file; what() names the file first.
class ProcessingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the exception being handled means to the user:
// - OperationStopped: kExitStopped;
// - UsageError (option values refused by a Validate() reach here as UsageError): kExitUsage;
// - FileError, ProcessingError, EZorException, any other std::exception: kExitFailure,
//   with its what();
// - std::bad_alloc: kExitFailure, "not enough memory".
// Anything that is no std::exception is thrown on.
struct Failure {
  int status = kExitFailure;
  bool outOfMemory = false;
  std::string what;

  // The problem as a failure of input's picture: "<input>: <what>"; memory the system
  // would not give is "<input>: not enough memory for this picture".
  std::string About(const std::string& input) const;
};

// The Failure of the exception being handled; call it only inside a catch block.
Failure CurrentFailure();

// Runs `work` on the picture of `input`: every failure but a stop comes out as a
// ProcessingError that names input first.
template <typename Work>
auto Process(const std::string& input, Work work) {
  try {
    return work();
  } catch (...) {
    const Failure failure = CurrentFailure();
    if (failure.status == kExitStopped) throw;
    throw ProcessingError(failure.About(input));
  }
}

}  // namespace tvq::cli
