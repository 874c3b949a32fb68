// Preloaded into audiotap to play a machine without libpulse: dlopen answers
// "not found" for it, as the loader does where the library is not installed,
// and passes every other name on.
#include <dlfcn.h>

#include <cstring>

extern "C" void* dlopen(const char* file, int mode) {
  using Dlopen = void* (*)(const char*, int);
  static const Dlopen next = reinterpret_cast<Dlopen>(dlsym(RTLD_NEXT, "dlopen"));
  if (file != nullptr && std::strstr(file, "libpulse") != nullptr) return nullptr;
  return next(file, mode);
}
