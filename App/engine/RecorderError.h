#pragma once

#include <exception>
#include <string>

namespace kestrova {

// The engine's own errors. Their descriptions are what the user reads. Errors of platform services
// (capture, encoding) travel beside these as their own exception types, with their own
// descriptions.
class RecorderError : public std::exception {
 public:
  enum class Case {
    writer,
    noDisplay,
    noFrames,
    // The user declined to share the screen: no recording, and nothing to report.
    cancelled,
  };

  static RecorderError writer(std::string message) {
    return RecorderError(Case::writer, std::move(message));
  }
  static RecorderError noDisplay() {
    return RecorderError(Case::noDisplay, "The selected display is no longer available.");
  }
  static RecorderError noFrames() {
    return RecorderError(Case::noFrames, "No frames were captured.");
  }

  static RecorderError cancelled() {
    return RecorderError(Case::cancelled, "The recording was cancelled.");
  }

  Case errorCase() const noexcept { return case_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  RecorderError(Case c, std::string description) : case_(c), description_(std::move(description)) {}

  Case case_;
  std::string description_;
};

// A failure of a platform service (the X server, the encoder, the file system), with a description
// written for the user.
class PlatformError : public std::exception {
 public:
  explicit PlatformError(std::string description) : description_(std::move(description)) {}
  // The desktop ended the screen sharing (its own "stop sharing" control, on Wayland): the
  // recording ends as if the user had stopped it, and nothing is reported as a failure.
  static PlatformError sharingEnded() {
    PlatformError error("Screen sharing was stopped.");
    error.sharingEnded_ = true;
    return error;
  }

  bool isSharingEnded() const noexcept { return sharingEnded_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string description_;
  bool sharingEnded_ = false;
};

}  // namespace kestrova
