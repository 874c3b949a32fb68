// The fault vocabulary a host reads on standard error, and the exit status
// that goes with each kind of ending.
#pragma once

namespace faultReason {
inline constexpr const char* targetMissing = "capture.targetMissing";
inline constexpr const char* separateUnavailable = "capture.separateUnavailable";
inline constexpr const char* permissionDenied = "capture.permissionDenied";
inline constexpr const char* linkFailed = "capture.linkFailed";
inline constexpr const char* stopped = "capture.stopped";
}  // namespace faultReason

namespace exitStatus {
inline constexpr int ok = 0;             // listing done, or an orderly stop
inline constexpr int setupFailed = 3;    // nothing captured yet
inline constexpr int captureFailed = 4;  // a running stream failed
}  // namespace exitStatus
