#include "tests/conformance/seam_check.h"

#include <cstdio>
#include <cstring>

namespace {

struct NamedStatus {
  HRESULT status;
  const char* name;
};

constexpr NamedStatus kStatusNames[] = {
    {static_cast<HRESULT>(0x00000000u), "S_OK"},
    {static_cast<HRESULT>(0x00000001u), "S_FALSE"},
    {static_cast<HRESULT>(0x08890001u), "AUDCLNT_S_BUFFER_EMPTY"},
    {static_cast<HRESULT>(0x80004001u), "E_NOTIMPL"},
    {static_cast<HRESULT>(0x80004002u), "E_NOINTERFACE"},
    {static_cast<HRESULT>(0x80004003u), "E_POINTER"},
    {static_cast<HRESULT>(0x80004005u), "E_FAIL"},
    {static_cast<HRESULT>(0x80070005u), "E_ACCESSDENIED"},
    {static_cast<HRESULT>(0x8007000Eu), "E_OUTOFMEMORY"},
    {static_cast<HRESULT>(0x80070057u), "E_INVALIDARG"},
    {static_cast<HRESULT>(0x80070490u), "E_NOTFOUND"},
    {static_cast<HRESULT>(0x88890001u), "AUDCLNT_E_NOT_INITIALIZED"},
    {static_cast<HRESULT>(0x88890002u), "AUDCLNT_E_ALREADY_INITIALIZED"},
    {static_cast<HRESULT>(0x88890003u), "AUDCLNT_E_WRONG_ENDPOINT_TYPE"},
    {static_cast<HRESULT>(0x88890004u), "AUDCLNT_E_DEVICE_INVALIDATED"},
    {static_cast<HRESULT>(0x88890005u), "AUDCLNT_E_NOT_STOPPED"},
    {static_cast<HRESULT>(0x88890006u), "AUDCLNT_E_BUFFER_TOO_LARGE"},
    {static_cast<HRESULT>(0x88890007u), "AUDCLNT_E_OUT_OF_ORDER"},
    {static_cast<HRESULT>(0x88890008u), "AUDCLNT_E_UNSUPPORTED_FORMAT"},
    {static_cast<HRESULT>(0x88890009u), "AUDCLNT_E_INVALID_SIZE"},
    {static_cast<HRESULT>(0x8889000Bu), "AUDCLNT_E_BUFFER_OPERATION_PENDING"},
    {static_cast<HRESULT>(0x8889000Eu), "AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED"},
    {static_cast<HRESULT>(0x88890010u), "AUDCLNT_E_SERVICE_NOT_RUNNING"},
    {static_cast<HRESULT>(0x88890011u), "AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED"},
    {static_cast<HRESULT>(0x88890014u), "AUDCLNT_E_EVENTHANDLE_NOT_SET"},
    {static_cast<HRESULT>(0x88890018u), "AUDCLNT_E_BUFFER_ERROR"},
};

void printLine(const char* format, const char* a, const char* b = "", const char* c = "", const char* d = "",
               const char* e = "") {
  std::printf(format, a, b, c, d, e);
  std::fflush(stdout);  // the Wine leg's driver relays it line by line
}

}  // namespace

std::string statusText(HRESULT status) {
  for (const NamedStatus& named : kStatusNames)
    if (named.status == status) return named.name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

void SeamChecks::beginRule(const char* rule, const char* seen, const char* statement) {
  rule_ = rule;
  ++rules_;
  printLine("\n%s: %s\n  (seen in: %s)\n", rule, statement, seen);
}

const SeamDifference* SeamChecks::listedDifference(const char* check) const {
  for (int i = 0; i < kSeamDifferenceCount; ++i) {
    const SeamDifference& row = kSeamDifferences[i];
    if (std::strcmp(row.platform, platform_) == 0 && std::strcmp(row.rule, rule_) == 0 &&
        std::strcmp(row.check, check) == 0)
      return &row;
  }
  return nullptr;
}

bool SeamChecks::expect(const char* check, const std::string& answered, const std::string& wasapi) {
  const SeamDifference* listed = listedDifference(check);
  if (answered == wasapi && listed == nullptr) {
    ++passed_;
    printLine("  ok     %s: %s\n", check, answered.c_str());
    return true;
  }
  if (listed != nullptr && answered == listed->answer) {
    ++known_;
    seen_[listed - kSeamDifferences] = true;
    printLine("  differs %s: %s (WASAPI: %s) - listed: %s\n", check, answered.c_str(), wasapi.c_str(), listed->reason);
    return false;
  }
  ++failed_;
  if (listed != nullptr && answered == wasapi) {
    printLine("  FAIL   %s: %s, as WASAPI; the table still lists \"%s\" here: remove that row\n", check,
              answered.c_str(), listed->answer);
    return true;
  }
  printLine("  FAIL   %s: %s, WASAPI: %s\n", check, answered.c_str(), wasapi.c_str());
  return false;
}

bool SeamChecks::expectStatus(const char* check, HRESULT answered, HRESULT wasapi) {
  return expect(check, statusText(answered), statusText(wasapi));
}

bool SeamChecks::expectYes(const char* check, bool answered) { return expect(check, answered ? "yes" : "no", "yes"); }

void SeamChecks::note(const char* what, const std::string& figure) {
  printLine("  note   %s: %s\n", what, figure.c_str());
}

int SeamChecks::finish() {
  if (kSeamDifferenceCount > static_cast<int>(sizeof seen_)) {
    printLine("FAIL   the table of differences has more rows than %s can follow\n", "SeamChecks");
    return 1;
  }
  printLine("\nWhere a platform answers other than WASAPI (%s is this run; *: seen, !: not reached):\n", platform_);
  for (int i = 0; i < kSeamDifferenceCount; ++i) {
    const SeamDifference& row = kSeamDifferences[i];
    const bool mine = std::strcmp(row.platform, platform_) == 0;
    printLine("  %s %-7s", mine ? (seen_[i] ? "*" : "!") : " ", row.platform);
    printLine(" %s / %s: %s\n", row.rule, row.check, row.answer);
    printLine("            why: %s\n", row.reason);
  }
  char totals[160];
  std::snprintf(totals, sizeof totals, "%d rules; %d checks as WASAPI, %d listed differences, %d failures", rules_,
                passed_, known_, failed_);
  printLine("\nseam conformance on %s: %s\n", platform_, totals);
  return failed_ == 0 ? 0 : 1;
}
