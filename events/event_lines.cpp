#include "events/event_lines.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "events/json_escape.h"

namespace {
constexpr std::size_t kSlotsListSize = 64;
constexpr std::size_t kRateListSize = 96;
constexpr std::size_t kListItemSize = 48;
constexpr char kStoppedLine[] = "{\"event\":\"stopped\"}\n";
static_assert(sizeof(kStoppedLine) - 1 == 20, "hosts read the stopped line as 20 bytes");

// Appends item to a NUL-terminated text held in a buffer of capacity bytes,
// cutting what does not fit.
void appendText(char* text, std::size_t capacity, const char* item) {
  const std::size_t used = std::strlen(text);
  if (used + 1 >= capacity) return;
  std::snprintf(text + used, capacity - used, "%s", item);
}
}  // namespace

void formatCallFailure(const char* callName, std::int32_t status, char* buffer) {
  std::snprintf(buffer, kCallFailureDetailSize, "%s:0x%08lx", callName,
                static_cast<unsigned long>(static_cast<std::uint32_t>(status)));
}

void endRunOnFault(const char* reason, const char* detail, const char* slot, int exitStatus) {
  emitFault(reason, detail, slot);
  std::exit(exitStatus);
}

void endRunOnCallFailure(const char* reason, const char* callName, std::int32_t status, const char* slot,
                         int exitStatus) {
  char detail[kCallFailureDetailSize];
  formatCallFailure(callName, status, detail);
  endRunOnFault(reason, detail, slot, exitStatus);
}

void emitFault(const char* reason, const char* detail, const char* slot) {
  char escapedDetail[kEscapedTextLimit];
  escapeJson(detail, escapedDetail, sizeof escapedDetail);
  if (slot != nullptr) {
    std::fprintf(stderr, "{\"event\":\"fault\",\"reason\":\"%s\",\"detail\":\"%s\",\"slot\":\"%s\"}\n", reason,
                 escapedDetail, slot);
  } else {
    std::fprintf(stderr, "{\"event\":\"fault\",\"reason\":\"%s\",\"detail\":\"%s\"}\n", reason, escapedDetail);
  }
  std::fflush(stderr);
}

void emitStarted(const StartedSource* sources, int sourceCount) {
  char slotsList[kSlotsListSize] = "";
  char rateList[kRateListSize] = "";
  char micName[kEscapedTextLimit] = "";
  char systemName[kEscapedTextLimit] = "";
  char item[kListItemSize];
  for (int i = 0; i < sourceCount; ++i) {
    const StartedSource& source = sources[i];
    const char* separator = i == 0 ? "" : ",";
    std::snprintf(item, sizeof item, "%s\"%s\"", separator, source.label);
    appendText(slotsList, sizeof slotsList, item);
    std::snprintf(item, sizeof item, "%s\"%s\":%d", separator, source.label, static_cast<int>(source.deviceRate));
    appendText(rateList, sizeof rateList, item);
    char* name = std::strcmp(source.label, "mic") == 0 ? micName : systemName;
    escapeJson(source.friendlyName, name, kEscapedTextLimit);
  }
  std::fprintf(stderr,
               "{\"event\":\"started\",\"slots\":[%s],\"mic\":\"%s\",\"system\":\"%s\",\"clock\":\"qpc\","
               "\"deviceRate\":{%s}}\n",
               slotsList, micName, systemName, rateList);
  std::fflush(stderr);
}

void emitSwitched(const char* label, const char* friendlyName, std::int32_t deviceRate) {
  char name[kEscapedTextLimit];
  escapeJson(friendlyName, name, sizeof name);
  std::fprintf(stderr, "{\"event\":\"switched\",\"slot\":\"%s\",\"name\":\"%s\",\"deviceRate\":%d}\n", label, name,
               static_cast<int>(deviceRate));
  std::fflush(stderr);
}

void emitStopped() {
  std::fwrite(kStoppedLine, 1, sizeof kStoppedLine - 1, stderr);
  std::fflush(stderr);
}
