// The module's one exported symbol.
#include <new>

#include "component/subrite.h"

// Makes one component holding one reference, which the host owns. Always
// answers 0; failure is a null object. Nothing may leave a C entry point by
// an exception, so running out of memory is caught here.
extern "C" __attribute__((visibility("default"))) std::int32_t _getPlugin(FLM::PluginHost* host,
                                                                          FLM::Plugin** out) {
  if (out == nullptr) return 0;
  *out = nullptr;
  try {
    *out = new FLM::Subrite(host);
  } catch (const std::bad_alloc&) {
    *out = nullptr;
  }
  return 0;
}
