// A path cut where the system cuts it: at its last "/".
#pragma once

#include <string>

namespace cli {

// The folder `path` names a file in: "." when it names none, "/" for the
// root; "a/b" for "a/b/c".
std::string folderOf(const std::string& path);

// What `path` names within its folder: all after its last "/"; the path
// itself when it has none.
std::string nameOf(const std::string& path);

}  // namespace cli
