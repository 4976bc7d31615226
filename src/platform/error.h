// Run-time errors of the task list control and its platform layers.
//
// Every failure that the control, its widgets, the record set, the settings
// store or the task service can raise is one RuntimeError: a number and a
// description, as a component's run-time error carries them. Procedures that
// pass an error on rethrow the same object so that number and description
// reach the error report unchanged. The numbers are listed, with their
// meaning, in docs/errors.md; keep that table and this one in step.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kevra {

class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    int32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }

  private:
    int32_t number_;
    std::string description_;
};

// Error numbers used by our platform layers.
namespace err {
constexpr int32_t kOverflow = 6;
constexpr int32_t kTypeMismatch = 13;
constexpr int32_t kOutOfMemory = 7;
constexpr int32_t kInternal = 51;
constexpr int32_t kFileNotFound = 53;
constexpr int32_t kPermissionDenied = 70;
constexpr int32_t kPathAccess = 75;
constexpr int32_t kObjectNotSet = 91;
constexpr int32_t kInvalidUseOfNull = 94;
constexpr int32_t kInvalidArgument = 5;
constexpr int32_t kWrongArgumentCount = 450;
constexpr int32_t kNoSuchMember = 438;
constexpr int32_t kCannotCreateComponent = 429;
constexpr int32_t kServerUnavailable = 462;
constexpr int32_t kBadCatalogue = 35750;
constexpr int32_t kBadFilter = 3001;
constexpr int32_t kNoCurrentRow = 3021;
constexpr int32_t kFieldNotFound = 3265;
constexpr int32_t kObjectClosed = 3704;
constexpr int32_t kIndexOutOfBounds = 35600;
constexpr int32_t kItemNotFound = 35601;
constexpr int32_t kKeyNotUnique = 35602;
constexpr int32_t kSettingsStore = 35700;
constexpr int32_t kDatabase = 35800;
// The base of the numbers a component defines for itself (0x80040000).
constexpr int32_t kControlError = -2147221504;
}  // namespace err

}  // namespace kevra
