#include "cli/batch_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "cli/output_file.h"
#include "cli/paths.h"
#include "script/text.h"

namespace cli {
namespace {

bool hasScriptExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot);
  for (char& c : extension) c = ssa::asciiLower(c);
  return extension == ".ass" || extension == ".ssa";
}

std::string withoutExtension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The scripts of a folder, in the order of their names: every file named as
// one but for folders (not searched below) and what is not a regular file
// (*others: a pipe would hold the batch up). One that cannot be looked at
// (a link to nothing, a folder closed to the user) is kept: its conversion
// says what is wrong.
bool listFolder(const std::string& folder, std::vector<std::string>* files,
                std::vector<std::string>* others, std::string* error) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    *error = "cannot read " + folder + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] != '.' && hasScriptExtension(name)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = joinPath(folder, name);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
      files->push_back(path);
    } else if (!S_ISDIR(info.st_mode)) {
      others->push_back(path);
    }
  }
  return true;
}

// A file by its device and inode, whatever the names it has.
using FileId = std::pair<dev_t, ino_t>;

// The scripts given and those directly in the folders given, each file
// once (*seen: the first name it was given); what yields nothing is named
// as a script that fails is.
std::vector<std::string> gatherScripts(const std::vector<std::string>& scripts,
                                       std::map<FileId, std::string>* seen, Messages& messages,
                                       std::uint64_t* failed) {
  std::vector<std::string> files;
  for (const std::string& script : scripts) {
    const auto fail = [&](const std::string& why, const std::string& path) {
      messages.say(why);
      messages.say({"not converted: ", path});
      ++*failed;
    };
    struct stat info {};
    if (::stat(script.c_str(), &info) != 0) {
      fail("cannot open " + script + ": " + std::strerror(errno), script);
      continue;
    }
    std::vector<std::string> found;
    std::vector<std::string> others;
    std::string error;
    if (!S_ISDIR(info.st_mode)) {
      found.push_back(script);
    } else if (!listFolder(script, &found, &others, &error)) {
      fail(error, script);
      continue;
    }
    for (const std::string& other : others) fail(other + " is not a regular file", other);
    if (S_ISDIR(info.st_mode) && found.empty() && others.empty()) {
      // Folders are not searched below: one per episode gives nothing.
      fail("no .ass or .ssa file in " + script, script);
      continue;
    }
    for (const std::string& file : found) {
      struct stat fileInfo {};
      if (::stat(file.c_str(), &fileInfo) != 0) {
        files.push_back(file);  // its conversion says what is wrong
        continue;
      }
      const auto [first, isNew] = seen->emplace(FileId{fileInfo.st_dev, fileInfo.st_ino}, file);
      if (isNew) {
        files.push_back(file);
      } else if (first->second != file) {
        messages.say(file + " is " + first->second + " under another name: converted once");
      }
    }
  }
  return files;
}

// Each file's output in `outputDir`, refused where it would replace one of
// the scripts, stands on what is not a regular file, or lands on another's.
std::vector<BatchItem> assignOutputs(const std::vector<std::string>& files,
                                     const std::map<FileId, std::string>& seen,
                                     const std::string& outputDir, OutputForm form,
                                     Messages& messages, std::uint64_t* failed) {
  // Scripts that share a name but for its extension keep it in their
  // output's; of those of one name in two folders, the first is converted.
  std::map<std::string, std::set<std::string>> namesOfStem;
  for (const std::string& file : files) {
    const std::string name = nameOf(file);
    namesOfStem[withoutExtension(name)].insert(name);
  }
  std::set<std::string> keepExtension;
  for (const auto& [stem, names] : namesOfStem) {
    if (names.size() > 1) keepExtension.insert(names.begin(), names.end());
  }
  // A name without its extension can be one that keeps it (a.ass.ass beside
  // a.ass and a.ssa): then it keeps its own too, and so on down the chain.
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [stem, names] : namesOfStem) {
      if (keepExtension.count(stem) == 0) continue;
      for (const std::string& name : names) grew = keepExtension.insert(name).second || grew;
    }
  }
  std::vector<BatchItem> items;
  std::map<std::string, std::string> outputs;  // where an output lands -> its script
  for (const std::string& file : files) {
    const std::string name = nameOf(file);
    const std::string stem = withoutExtension(name);
    const std::string output =
        joinPath(outputDir, (keepExtension.count(name) != 0 ? name : stem) + extensionOf(form));
    const auto refuse = [&](const std::string& why) {
      messages.say({"not converted: ", file, ": its output ", output, " is ", why});
      ++*failed;
    };
    struct stat existing {};
    if (::stat(output.c_str(), &existing) == 0) {
      if (seen.count({existing.st_dev, existing.st_ino}) != 0) {
        refuse("one of the scripts being read");
        continue;
      }
      // A pipe left there would hold the batch until something reads it.
      if (!S_ISREG(existing.st_mode)) {
        refuse("not a regular file");
        continue;
      }
    }
    // A link already in the folder may take two outputs to one file.
    const auto [taken, isNew] = outputs.emplace(landingPath(output), file);
    if (!isNew) {
      refuse(taken->second + "'s");
      continue;
    }
    items.push_back(BatchItem{file, output});
  }
  return items;
}

}  // namespace

std::vector<BatchItem> listBatch(const std::vector<std::string>& scripts,
                                 const std::string& outputDir, OutputForm form, Messages& messages,
                                 std::uint64_t* failed) {
  std::map<FileId, std::string> seen;
  const std::vector<std::string> files = gatherScripts(scripts, &seen, messages, failed);
  return assignOutputs(files, seen, outputDir, form, messages, failed);
}

}  // namespace cli
