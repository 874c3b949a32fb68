#include "platform/pulse/pulse_connection.h"

#include "platform/pulse/com_object.h"

namespace {

void onContextState(pa_context*, void* connection) { static_cast<PulseConnection*>(connection)->wake(); }

void onOperationState(pa_operation*, void* connection) { static_cast<PulseConnection*>(connection)->wake(); }

struct Deadline {
  PulseConnection* connection;
  bool passed = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* deadline = static_cast<Deadline*>(userdata);
  deadline->passed = true;
  deadline->connection->wake();
}

bool contextFinal(pa_context_state_t state) {
  return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::open(HRESULT* status) {
  std::shared_ptr<PulseConnection> connection(new PulseConnection());
  *status = E_OUTOFMEMORY;
  connection->loop_ = pa_threaded_mainloop_new();
  if (connection->loop_ == nullptr) return nullptr;
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "audiotap");
  pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "audiotap");
  connection->context_ =
      pa_context_new_with_proplist(pa_threaded_mainloop_get_api(connection->loop_), "audiotap", properties);
  pa_proplist_free(properties);
  if (connection->context_ == nullptr) return nullptr;
  pa_context_set_state_callback(connection->context_, onContextState, connection.get());

  *status = AUDCLNT_E_SERVICE_NOT_RUNNING;
  if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
  if (pa_threaded_mainloop_start(connection->loop_) < 0) return nullptr;
  bool ready = false;
  {
    Lock lock(*connection);
    bool timedOut = !connection->waitUntil(
        [&] {
          const pa_context_state_t state = pa_context_get_state(connection->context_);
          return state == PA_CONTEXT_READY || contextFinal(state);
        },
        kServerReplyTimeoutMs);
    ready = pa_context_get_state(connection->context_) == PA_CONTEXT_READY;
    if (timedOut && !ready) *status = kTimeoutStatus;
  }
  if (!ready) return nullptr;
  *status = S_OK;
  return connection;
}

PulseConnection::~PulseConnection() {
  if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::alive() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

bool PulseConnection::waitUntil(const std::function<bool()>& done, int timeoutMs) {
  Deadline deadline{this};
  pa_time_event* timer =
      pa_context_rttime_new(context_, pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC,
                            onDeadline, &deadline);
  bool result = false;
  for (;;) {
    if (done()) {
      result = true;
      break;
    }
    const pa_context_state_t state = pa_context_get_state(context_);
    // Before the connection is up, its failure is what the caller waits for.
    if (contextFinal(state) || deadline.passed || timer == nullptr) break;
    pa_threaded_mainloop_wait(loop_);
  }
  if (timer != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
  return result;
}

bool PulseConnection::finish(pa_operation* operation, int timeoutMs) {
  if (operation == nullptr) return false;
  pa_operation_set_state_callback(operation, onOperationState, this);
  const bool done =
      waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeoutMs);
  pa_operation_set_state_callback(operation, nullptr, nullptr);
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}
