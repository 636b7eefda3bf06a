#include "framework/plugin.h"

namespace FLM {

std::int32_t Plugin::retain() { return ++referenceCount; }

std::int32_t Plugin::release() {
  const std::int32_t count = --referenceCount;
  if (count != 0) return count;
  // Everything used after the deletion is read into locals first.
  PluginHost* const owner = host;
  Plugin* const self = this;
  if (owner != nullptr) owner->pluginReleasing(self);
  delete this;
  if (owner != nullptr) owner->pluginReleased(self);
  return 0;
}

std::int32_t Plugin::refCount() const { return referenceCount; }

std::int32_t Plugin::getReserved() const { return reserved; }

PluginHost* Plugin::getHost() const { return host; }

}  // namespace FLM
