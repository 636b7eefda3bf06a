// A shared library that loads but is no plug-in: it has no _getPlugin.
extern "C" __attribute__((visibility("default"))) int subrite_not_a_plugin() { return 0; }
