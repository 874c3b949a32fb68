#include "platform/pulse/pulse_connection.h"

#include "platform/portable/monotonic_clock.h"

namespace {

// A pump stops after this many rounds even if every round found something,
// so that a server sending without pause cannot hold the capture loop.
constexpr int kMostPumpRounds = 64;
// Two pumps closer than this find nothing new worth a system call.
constexpr std::int64_t kPumpFreshNs = 1'000'000;

bool contextFinal(pa_context_state_t state) { return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED; }

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::open(HRESULT* status) {
  std::shared_ptr<PulseConnection> connection(new PulseConnection());
  *status = E_OUTOFMEMORY;
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "audiotap");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "audiotap");
  connection->context_ = pa_context_new_with_proplist(connection->loop_.api(), "audiotap", properties);
  pa_proplist_free(properties);
  if (connection->context_ == nullptr) return nullptr;

  *status = AUDCLNT_E_SERVICE_NOT_RUNNING;
  if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
  const bool timedOut = !connection->waitUntil(
      [&] {
        const pa_context_state_t state = pa_context_get_state(connection->context_);
        return state == PA_CONTEXT_READY || contextFinal(state);
      },
      kServerReplyTimeoutMs);
  const bool ready = pa_context_get_state(connection->context_) == PA_CONTEXT_READY;
  if (!ready) {
    if (timedOut) *status = HRESULT_ERROR_TIMEOUT;
    return nullptr;
  }
  *status = S_OK;
  return connection;
}

PulseConnection::~PulseConnection() {
  if (context_ != nullptr) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
}

bool PulseConnection::alive() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

void PulseConnection::pump() {
  // One round polls without a timeout and dispatches what is ready; what it
  // dispatches may make more ready (a reply read, a write queued), so go on
  // until a round finds nothing.
  for (int round = 0; round < kMostPumpRounds; ++round)
    if (loop_.iterate(0) == 0) break;
  lastPumpNs_ = monotonicNanoseconds();
}

void PulseConnection::pumpIfStale() {
  if (lastPumpNs_ < 0 || monotonicNanoseconds() - lastPumpNs_ >= kPumpFreshNs) pump();
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, int timeoutMs) {
  const pa_usec_t deadline = pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC;
  bool result = false;
  for (;;) {
    if (done()) {
      result = true;
      break;
    }
    // Before the connection is up, its failure is what the caller waits for.
    if (contextFinal(pa_context_get_state(context_))) break;
    const pa_usec_t now = pa_rtclock_now();
    if (now >= deadline) break;
    // Sleeps in poll until the server answers or the deadline comes; a
    // signal only makes it look again.
    loop_.iterate(static_cast<long long>(deadline - now));
  }
  lastPumpNs_ = monotonicNanoseconds();
  return result;
}

bool PulseConnection::finish(pa_operation* operation, int timeoutMs) {
  if (operation == nullptr) return false;
  const bool done =
      waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeoutMs);
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}
