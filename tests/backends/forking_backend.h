// The forking test backend (forking_backend.cpp): what the variable kWhen names happens in its initialiser or
// finaliser. A waiting one creates kInside, then waits until kRelease exists.
#pragma once

namespace kelmar::forking_backend {
inline constexpr const char* kWhen = "KELMAR_FORKING_BACKEND";
inline constexpr const char* kHoldLoad = "hold-load";      // the initialiser waits
inline constexpr const char* kHoldUnload = "hold-unload";  // the finaliser waits
inline constexpr const char* kForkInLoad = "fork-in-load";  // the initialiser forks; the child has kChildSeconds
inline constexpr unsigned kChildSeconds = 20;
inline constexpr const char* kInside = "/tmp/forking-backend-inside";
inline constexpr const char* kRelease = "/tmp/forking-backend-release";
}  // namespace kelmar::forking_backend
