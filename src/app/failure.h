// What the user is told when something the application started fails.
//
// Every command, file command and settings dialog hands what it caught to
// FailureMessageOf, so each exception type is worded in this one place: a stop shows
// nothing; a number that does not parse, a refused setting and a file problem are
// shown as they are where the user chose them; anything else reads
// "<command> failed: <what>".
#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <utility>

namespace tvq {

// The text and caption of a message box.
struct FailureMessage {
  QString text;
  QString caption;
};

// Where a failure happened, which decides its words.
struct FailurePlace {
  // A command: `command` is what failed, as the message starts ("Resampling", "Opening
  // C:/a.png"). For a file command, `fileCaption` is set: a FileError names the file
  // and the problem already, and is shown as it is under that caption ("Open").
  FailurePlace(QString command, QString fileCaption = {})
      : command(std::move(command)), fileCaption(std::move(fileCaption)) {}
  // Reading a settings dialog: a refused setting is shown as it is.
  static FailurePlace Settings() {
    FailurePlace place{QString()};
    place.settings = true;
    return place;
  }

  QString command;
  QString fileCaption;
  bool settings = false;
};

// The message box for `error`, or std::nullopt for a stop the user asked for.
std::optional<FailureMessage> FailureMessageOf(std::exception_ptr error, const FailurePlace& place);

}  // namespace tvq
