// FLM::Subrite: construction, teardown, interfaces, properties and ports.
#include "component/subrite.h"

#include <cctype>
#include <memory>
#include <new>

namespace FLM {
namespace {

// Property names, in table order.
constexpr const char* kInputFormat = "InputFormat";
constexpr const char* kName = "Name";
constexpr const char* kOutputFormat = "OutputFormat";
constexpr const char* kType = "Type";

const unsigned short kDisplayName[] = {'G', 'l', 'y', 'p', 'h', 't', 'i', 'd', 'e',
                                       ' ', 'S', 'u', 'b', 't', 'i', 't', 'l', 'e',
                                       ' ', 'D', 'e', 'c', 'o', 'd', 'e', 'r', 0};
constexpr const char* kTypeText = "Overlay|Decoder|Glyphtide";

// Accepted format names: the whole text must match, terminator included.
bool isInputFormat(const char* format) {
  return std::strcmp(format, "SSA") == 0 || std::strcmp(format, "ASS") == 0;
}
bool isOutputFormat(const char* format) { return std::strcmp(format, "UTF8") == 0; }

std::unique_ptr<String<char>> makeString(const char* text) {
  return std::make_unique<String<char>>(text, &sharedAllocator<char>());
}

// First four bytes of a format name, each upper-cased, first in the lowest
// byte. The terminator counts as a byte, so "SSA" gives 0 as the fourth.
std::uint32_t fourCharacterCode(const char* name) {
  std::uint32_t code = 0;
  bool ended = false;
  for (int i = 0; i < 4; ++i) {
    const unsigned char c = ended ? 0 : static_cast<unsigned char>(name[i]);
    ended = ended || c == 0;  // never read past the terminator
    code |= static_cast<std::uint32_t>(std::toupper(c) & 0xFF) << (8 * i);
  }
  return code;
}

}  // namespace

Subrite::Subrite(PluginHost* host)
    : Plugin(host),
      attachValue(0),
      upstreamPeer(nullptr),
      downstreamPeer(nullptr),
      inputPort(nullptr),
      outputPort(nullptr),
      inputFormat(nullptr),
      outputFormat(nullptr),
      heldSample(nullptr),
      sampleDrops(0),
      nestedSamples(0),
      sampleAllocator(nullptr),
      heldFormat(nullptr),
      formatDrops(0),
      lockedPayloads(nullptr),
      streamParams{0, 0} {
  // Entries are made first (all zero), then given their strings, so that a
  // failed allocation leaves only strings that freePropertyStrings can find.
  try {
    TypedValue& name = properties[kName];
    name.type = TypeWideString;
    name.payload.wideString =
        new String<unsigned short>(kDisplayName, &sharedAllocator<unsigned short>());
    TypedValue& type = properties[kType];
    type.type = TypeString;
    type.payload.string = makeString(kTypeText).release();
    TypedValue& input = properties[kInputFormat];
    input.type = TypeString;
    input.payload.string = makeString(nullptr).release();
    TypedValue& output = properties[kOutputFormat];
    output.type = TypeString;
    output.payload.string = makeString(nullptr).release();
  } catch (...) {
    freePropertyStrings();
    throw;
  }
}

// The host makes its last release with no other thread inside, so the held
// buffers go without the lock. The lock is held over the rest all the same,
// as the contract has it; waitForIdle then finds it held by this thread
// alone and returns at once.
Subrite::~Subrite() {
  while (heldSample != nullptr) dropHeldSample();  // a release may send one more in
  dropHeldFormat();
  {
    Guard guard(lock);
    // Neither disconnect allocates, so teardown cannot fail half way.
    disconnectUpstream(inputPort);
    disconnectDownstream(outputPort);
    waitForIdle();
    freePropertyStrings();
  }
  // The tables, the property table and the lock go with the members, in
  // reverse order of declaration.
}

std::int32_t Subrite::queryInterface(const String<char>* identifier, void** out) {
  if (out == nullptr) return StatusNotSupported;
  *out = nullptr;
  if (identifier == nullptr) return StatusNotSupported;
  if (sameIdentifier(*identifier, IdInterfaceComponent)) {
    *out = static_cast<ComponentInterface*>(this);
  } else if (sameIdentifier(*identifier, IdInterfaceTransform)) {
    *out = static_cast<TransformInterface*>(this);
  } else if (sameIdentifier(*identifier, IdComponentTransform)) {
    *out = static_cast<TransformComponent*>(this);
  } else {
    return StatusNotSupported;
  }
  return StatusFound;
}

bool Subrite::attach(AttachContext* context) {
  if (context == nullptr) return false;
  attachValue = context->value();
  return true;
}

bool Subrite::detach() {
  attachValue = 0;
  return true;
}

bool Subrite::getPropertyNames(std::vector<const char*>* names) {
  if (names == nullptr) return false;
  // Room first: only this can fail, and then the list is as it was.
  names->reserve(names->size() + properties.size());
  for (const auto& entry : properties) names->push_back(entry.first);
  return true;
}

bool Subrite::getProperty(const char* name, TypedValue* value) {
  if (name == nullptr || value == nullptr) return false;
  const auto entry = properties.find(name);
  if (entry == properties.end()) return false;
  // The format names are answered as codes from the module's own copies,
  // not from the caller's texts, which may be gone; the stored strings are
  // never handed out.
  const bool isInput = std::strcmp(name, kInputFormat) == 0;
  if (isInput || std::strcmp(name, kOutputFormat) == 0) {
    const bool open = (isInput ? inputFormat : outputFormat) != nullptr;
    const char* copy = entry->second.payload.string->data;
    if (value->type != TypeFourCC || !open || copy == nullptr) return false;
    value->payload.fourCC = fourCharacterCode(copy);
    return true;
  }
  *value = entry->second;
  return true;
}

PortInterface* Subrite::connectUpstream(std::int32_t selector, const char* format, std::uintptr_t) {
  if (inputPort != nullptr || selector != 1 || format == nullptr || !isInputFormat(format)) {
    return nullptr;
  }
  // Everything that can fail is made before anything changes.
  auto value = makeString(format);
  auto port = std::make_unique<Input>(this);
  inputFormat = format;
  inputPort = port.release();
  replaceFormatProperty(kInputFormat, value.release());
  return inputPort;
}

bool Subrite::disconnectUpstream(PortInterface* port) {
  // The held format record goes first, whether or not the port matches.
  dropHeldFormat();
  if (inputPort == nullptr || port != inputPort) return false;
  delete inputPort;
  inputPort = nullptr;
  inputFormat = nullptr;
  clearFormatProperty(kInputFormat);
  return true;
}

PortInterface* Subrite::connectDownstream(std::int32_t selector, const char* format,
                                          std::uintptr_t) {
  if (outputPort != nullptr || selector != 1 || format == nullptr || !isOutputFormat(format)) {
    return nullptr;
  }
  auto value = makeString(format);
  auto port = std::make_unique<Output>(this);
  outputFormat = format;
  outputPort = port.release();
  replaceFormatProperty(kOutputFormat, value.release());
  return outputPort;
}

bool Subrite::disconnectDownstream(PortInterface* port) {
  if (outputPort == nullptr || port != outputPort) return false;
  delete outputPort;
  outputPort = nullptr;
  outputFormat = nullptr;
  // The downstream peer and the sample allocator stay recorded.
  clearFormatProperty(kOutputFormat);
  return true;
}

void Subrite::dropHeldFormat() {
  if (heldFormat == nullptr) return;
  MediaBuffer* const record = heldFormat;
  heldFormat = nullptr;
  ++formatDrops;
  releaseHeld(*record);
}

bool Subrite::waitForIdle() {
  Guard guard(lock);
  return true;
}

void Subrite::replaceFormatProperty(const char* name, String<char>* value) {
  TypedValue& entry = properties.find(name)->second;
  delete entry.payload.string;  // its buffer goes back through its own allocator
  entry.payload.string = value;
}

// Emptied in place rather than replaced: closing a port allocates nothing, so
// it cannot fail half way. Nobody outside sees the difference.
void Subrite::clearFormatProperty(const char* name) {
  properties.find(name)->second.payload.string->clear();
}

void Subrite::freePropertyStrings() {
  for (const char* name : {kName, kType, kInputFormat, kOutputFormat}) {
    const auto entry = properties.find(name);
    if (entry == properties.end() || entry->second.payload.object == nullptr) continue;
    // Each string's buffer goes back through its own allocator.
    if (entry->second.type == TypeWideString) {
      delete entry->second.payload.wideString;
    } else {
      delete entry->second.payload.string;
    }
    entry->second.payload.object = nullptr;
  }
}

}  // namespace FLM
