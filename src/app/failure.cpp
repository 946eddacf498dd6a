#include "app/failure.h"

#include <new>
#include <stdexcept>

#include "app/parsefloat.h"
#include "imaging/errors.h"
#include "imaging/progress.h"

namespace tvq {

std::optional<FailureMessage> FailureMessageOf(std::exception_ptr error,
                                               const FailurePlace& place) {
  const auto failed = [&place](const char* problem) {
    return FailureMessage{place.command + " failed: " + QString::fromUtf8(problem), "Error"};
  };
  try {
    std::rethrow_exception(error);
  } catch (const OperationStopped&) {
    // STOP before the command had a result: the picture stays, with no message.
    return std::nullopt;
  } catch (const ParseFloatError&) {
    return FailureMessage{kParseErrorText, kParseErrorCaption};
  } catch (const FileError& e) {
    if (place.fileCaption.isEmpty()) return failed(e.what());
    return FailureMessage{QString::fromUtf8(e.what()), place.fileCaption};
  } catch (const std::invalid_argument& e) {
    // A SettingError names the setting already.
    if (!place.settings) return failed(e.what());
    return FailureMessage{QString::fromUtf8(e.what()), "Error"};
  } catch (const std::bad_alloc&) {
    return failed("there is not enough memory for this picture.");
  } catch (const std::exception& e) {
    // EZorException and whatever else the standard library may throw.
    return failed(e.what());
  } catch (...) {
    return FailureMessage{place.command + " failed for an unknown reason.", "Error"};
  }
}

}  // namespace tvq
