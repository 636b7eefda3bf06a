// WebVTT's class table and the STYLE block that defines it, for what its
// cue text tags cannot say; filled in by CueTextMaker (balance.h).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cli/font_tag.h"

namespace cli {

// The classes WebVTT cue text uses for what its own tags cannot say: a
// colour (".cRRGGBB"), a face (".f1", ".f2", ... in order of first use), a
// size (".zp4", ".zm1") and strike-out (".s"), each with the rule of the
// STYLE block that defines it. One per file.
//
// The module's sizes are points, whatever encloses them; a CSS percentage
// is of the enclosing size. So a size within another is a class of its own
// (".zm3-zp9": -3 within +9) whose percentage undoes the enclosing one's.
class VttClasses {
 public:
  // Appends the classes of a <font>'s attributes (each kept one of
  // `font`, whose colours readFont has checked); a size that is not a
  // signed number adds none.
  // `enclosingSize` is the size value of the nearest enclosing <font> with
  // one, empty for none. Answers the size value used, empty for none.
  std::string_view appendFont(const FontTag& font, std::string_view enclosingSize,
                              std::string* out);
  // ".s", defined.
  void strike();
  // "STYLE\n" and one line a class used, in the order of their names;
  // empty when no class was used.
  std::string styleBlock() const;

  // Classes defined from here on are the next cue's...
  void beginCue();
  // ...and go again when that cue is not written, its faces' numbers with
  // them: the block defines only what the file's cues use.
  void forgetCue();

 private:
  using Rules = std::map<std::string, std::string>;  // class -> its declarations
  using Faces = std::map<std::string, int, std::less<>>;
  void define(const std::string& name, const std::string& declaration);

  Rules rules_;
  Faces faces_;
  std::vector<Rules::iterator> cueRules_;  // defined first by the cue being made
  std::vector<Faces::iterator> cueFaces_;
};

}  // namespace cli
