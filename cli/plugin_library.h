// Loading the module as the media host does: dlopen and one symbol.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/driver.h"

namespace cli {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads `path` and resolves _getPlugin; false with *error for a missing
  // file, a library that does not load, or one without the entry point.
  bool load(const std::string& path, std::string* error);
  hostkit::GetPlugin entry() const { return entry_; }
  // Unloads; every object the library made must be gone by then.
  void unload();

 private:
  void* handle_ = nullptr;
  hostkit::GetPlugin entry_ = nullptr;
};

// Where the plug-in is looked for when --plugin is not given: beside the
// program, then in ../lib from it (an installed tree). The first that
// exists; empty when none does, with *searched naming the places (or
// saying that the program's folder cannot be told).
std::string defaultPluginPath(std::string* searched);

}  // namespace cli
