#include "platform/pulse/pulse_library.h"

#include <dlfcn.h>
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <cstdlib>

// Every libpulse function the platform calls. A call to one that is missing
// here fails the link; one the installed library lacks makes it unusable.
#define AUDIOTAP_PULSE_ENTRIES(X)      \
  X(pa_channel_map_init_extend)        \
  X(pa_context_connect)                \
  X(pa_context_disconnect)             \
  X(pa_context_errno)                  \
  X(pa_context_get_server_info)        \
  X(pa_context_get_sink_info_list)     \
  X(pa_context_get_source_info_list)   \
  X(pa_context_get_state)              \
  X(pa_context_new_with_proplist)      \
  X(pa_context_set_subscribe_callback) \
  X(pa_context_subscribe)              \
  X(pa_context_unref)                  \
  X(pa_frame_size)                     \
  X(pa_operation_cancel)               \
  X(pa_operation_get_state)            \
  X(pa_operation_unref)                \
  X(pa_proplist_free)                  \
  X(pa_proplist_new)                   \
  X(pa_proplist_sets)                  \
  X(pa_rtclock_now)                    \
  X(pa_sample_spec_valid)              \
  X(pa_stream_connect_record)          \
  X(pa_stream_cork)                    \
  X(pa_stream_disconnect)              \
  X(pa_stream_drop)                    \
  X(pa_stream_get_buffer_attr)         \
  X(pa_stream_get_state)               \
  X(pa_stream_new)                     \
  X(pa_stream_peek)                    \
  X(pa_stream_unref)                   \
  X(pa_usec_to_bytes)

namespace {

struct PulseEntries {
#define AUDIOTAP_PULSE_SLOT(name) decltype(&::name) name = nullptr;
  AUDIOTAP_PULSE_ENTRIES(AUDIOTAP_PULSE_SLOT)
#undef AUDIOTAP_PULSE_SLOT
  bool complete = false;
};

PulseEntries loadEntries() {
  PulseEntries entries;
  // The versioned name: the unversioned one comes only with the -dev package.
  // Never closed: its objects live as long as the process.
  void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return entries;
  bool complete = true;
#define AUDIOTAP_PULSE_RESOLVE(name)                                         \
  entries.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  complete = complete && entries.name != nullptr;
  AUDIOTAP_PULSE_ENTRIES(AUDIOTAP_PULSE_RESOLVE)
#undef AUDIOTAP_PULSE_RESOLVE
  entries.complete = complete;
  return entries;
}

// Loaded once, by whichever call comes first.
const PulseEntries& entries() {
  static const PulseEntries loaded = loadEntries();
  return loaded;
}

// The device enumerator is created only after pulseLibraryAvailable() said
// yes, so a call without the library means a path that skipped that check.
const PulseEntries& loaded() {
  const PulseEntries& table = entries();
  if (!table.complete) std::abort();
  return table;
}

}  // namespace

bool pulseLibraryAvailable() { return entries().complete; }

// The trampolines, declared by libpulse's own headers: a signature that
// drifts from them does not compile.

pa_channel_map* pa_channel_map_init_extend(pa_channel_map* map, unsigned channels, pa_channel_map_def_t def) {
  return loaded().pa_channel_map_init_extend(map, channels, def);
}

int pa_context_connect(pa_context* context, const char* server, pa_context_flags_t flags, const pa_spawn_api* api) {
  return loaded().pa_context_connect(context, server, flags, api);
}

void pa_context_disconnect(pa_context* context) { loaded().pa_context_disconnect(context); }

int pa_context_errno(const pa_context* context) { return loaded().pa_context_errno(context); }

pa_operation* pa_context_get_server_info(pa_context* context, pa_server_info_cb_t callback, void* userdata) {
  return loaded().pa_context_get_server_info(context, callback, userdata);
}

pa_operation* pa_context_get_sink_info_list(pa_context* context, pa_sink_info_cb_t callback, void* userdata) {
  return loaded().pa_context_get_sink_info_list(context, callback, userdata);
}

pa_operation* pa_context_get_source_info_list(pa_context* context, pa_source_info_cb_t callback, void* userdata) {
  return loaded().pa_context_get_source_info_list(context, callback, userdata);
}

pa_context_state_t pa_context_get_state(const pa_context* context) { return loaded().pa_context_get_state(context); }

pa_context* pa_context_new_with_proplist(pa_mainloop_api* api, const char* name, const pa_proplist* properties) {
  return loaded().pa_context_new_with_proplist(api, name, properties);
}

void pa_context_set_subscribe_callback(pa_context* context, pa_context_subscribe_cb_t callback, void* userdata) {
  loaded().pa_context_set_subscribe_callback(context, callback, userdata);
}

pa_operation* pa_context_subscribe(pa_context* context, pa_subscription_mask_t mask, pa_context_success_cb_t callback,
                                   void* userdata) {
  return loaded().pa_context_subscribe(context, mask, callback, userdata);
}

void pa_context_unref(pa_context* context) { loaded().pa_context_unref(context); }

size_t pa_frame_size(const pa_sample_spec* sampleSpec) { return loaded().pa_frame_size(sampleSpec); }

void pa_operation_cancel(pa_operation* operation) { loaded().pa_operation_cancel(operation); }

pa_operation_state_t pa_operation_get_state(const pa_operation* operation) {
  return loaded().pa_operation_get_state(operation);
}

void pa_operation_unref(pa_operation* operation) { loaded().pa_operation_unref(operation); }

void pa_proplist_free(pa_proplist* properties) { loaded().pa_proplist_free(properties); }

pa_proplist* pa_proplist_new() { return loaded().pa_proplist_new(); }

int pa_proplist_sets(pa_proplist* properties, const char* key, const char* value) {
  return loaded().pa_proplist_sets(properties, key, value);
}

pa_usec_t pa_rtclock_now() { return loaded().pa_rtclock_now(); }

int pa_sample_spec_valid(const pa_sample_spec* sampleSpec) { return loaded().pa_sample_spec_valid(sampleSpec); }

int pa_stream_connect_record(pa_stream* stream, const char* device, const pa_buffer_attr* attributes,
                             pa_stream_flags_t flags) {
  return loaded().pa_stream_connect_record(stream, device, attributes, flags);
}

pa_operation* pa_stream_cork(pa_stream* stream, int corked, pa_stream_success_cb_t callback, void* userdata) {
  return loaded().pa_stream_cork(stream, corked, callback, userdata);
}

int pa_stream_disconnect(pa_stream* stream) { return loaded().pa_stream_disconnect(stream); }

int pa_stream_drop(pa_stream* stream) { return loaded().pa_stream_drop(stream); }

const pa_buffer_attr* pa_stream_get_buffer_attr(pa_stream* stream) {
  return loaded().pa_stream_get_buffer_attr(stream);
}

pa_stream_state_t pa_stream_get_state(const pa_stream* stream) { return loaded().pa_stream_get_state(stream); }

pa_stream* pa_stream_new(pa_context* context, const char* name, const pa_sample_spec* sampleSpec,
                         const pa_channel_map* map) {
  return loaded().pa_stream_new(context, name, sampleSpec, map);
}

int pa_stream_peek(pa_stream* stream, const void** data, size_t* bytes) {
  return loaded().pa_stream_peek(stream, data, bytes);
}

void pa_stream_unref(pa_stream* stream) { loaded().pa_stream_unref(stream); }

size_t pa_usec_to_bytes(pa_usec_t time, const pa_sample_spec* sampleSpec) {
  return loaded().pa_usec_to_bytes(time, sampleSpec);
}
