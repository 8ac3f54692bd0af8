#pragma once
// Status codes of the audio routines: negative is a failure, 0 success, 1 "nothing done".
#include <cstdint>

namespace tunewick::status {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNothingDone = 1;
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);             // E_FAIL
constexpr std::int32_t kNotInitialized = static_cast<std::int32_t>(0x800401F0u);   // CO_E_NOTINITIALIZED
constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057u);       // E_INVALIDARG
constexpr std::int32_t kNoDevice = static_cast<std::int32_t>(0x88780078u);         // no capture device

constexpr bool failed(std::int32_t s) { return s < 0; }

}  // namespace tunewick::status
