#include "cli/failure.h"

#include <exception>
#include <new>

#include "cli/options.h"
#include "imaging/progress.h"

namespace tvq::cli {

std::string Failure::About(const std::string& input) const {
  return input + ": " + (outOfMemory ? "not enough memory for this picture" : what);
}

Failure CurrentFailure() {
  try {
    throw;
  } catch (const OperationStopped& e) {
    return {kExitStopped, false, e.what()};
  } catch (const UsageError& e) {
    return {kExitUsage, false, e.what()};
  } catch (const std::bad_alloc&) {
    return {kExitFailure, true, "not enough memory"};
  } catch (const std::exception& e) {
    return {kExitFailure, false, e.what()};
  }
}

}  // namespace tvq::cli
