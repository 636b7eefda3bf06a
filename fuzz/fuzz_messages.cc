// The input is a program of host operations on the plug-in object and both
// of its ports: opening and closing ports with arbitrary selectors and
// formats, control and stream messages with arbitrary identifiers, tags,
// null addresses and null payloads, samples and format records of odd sizes
// or without a payload, flushes, attachment, references, properties and
// interface queries, and downstream peers that call back into the component.
//
// Beside the module runs a model of the few facts the host can know: which
// buffer references the component took, which ports are open, who the
// downstream peer is. Every answer the message table fixes is checked as it
// comes, the buffers after every operation, and everything after the last
// release.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fuzz/accounts.h"

namespace {

using fuzzing::expect;

// Format names a host might ask for; only the first two open an input port
// and only the third an output port.
const char* const kFormats[] = {"SSA", "ASS",  "UTF8", "ssa",   "SSA ",
                                "AS",  "ASSA", "utf8", "UTF-8", ""};

const FLM::String<char>* const kIdentifiers[] = {
    &FLM::IdInterfaceComponent,    &FLM::IdInterfaceTransform,      &FLM::IdComponentTransform,
    &FLM::IdComponentInput,        &FLM::IdInterfaceInput,          &FLM::IdComponentOutput,
    &FLM::IdComponentOutputSingle, &FLM::IdComponentOutputMultiple, &FLM::IdInterfaceOutput,
};

const char* const kPropertyNames[] = {"InputFormat", "Name",  "OutputFormat", "Type",
                                      "name",        "Input", "TypeX",        ""};

const char kHeader[] =
    "[Script Info]\nScriptType: v4.00+\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
    "Style: Default,Arial,20,&HFF8000,-1,0\nStyle: Note,Tahoma,30,255,0,1\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

const char kDialoguePrefix[] = "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,";

bool isValidObject(const FLM::TypedValue* value) {
  return value != nullptr && value->type == FLM::TypeObject && value->payload.object != nullptr;
}

std::u16string wideText(const FLM::String<unsigned short>& string) {
  std::u16string text;
  for (std::int32_t i = 0; i < string.length; ++i) text.push_back(string.data[i]);
  return text;
}

class Program {
 public:
  explicit Program(FuzzedDataProvider& input) : input(input) {
    _getPlugin(&pluginHost, &plugin);
    expect(plugin != nullptr, "_getPlugin gave no object");
    void* found = nullptr;
    plugin->queryInterface(&FLM::IdInterfaceComponent, &found);
    component = static_cast<FLM::ComponentInterface*>(found);
    plugin->queryInterface(&FLM::IdInterfaceTransform, &found);
    transform = static_cast<FLM::TransformInterface*>(found);
    plugin->queryInterface(&FLM::IdComponentTransform, &found);
    transformComponent = static_cast<FLM::TransformComponent*>(found);
    expect(component != nullptr && transform != nullptr && transformComponent != nullptr,
           "an interface is missing");
    for (hostkit::SinkPort* sink : {&sinks[0], &sinks[1]}) {
      sink->onOutput = [this](const hostkit::ReceivedSample&) { callBack(); };
    }
  }

  void run() {
    while (input.remaining_bytes() > 0) {
      step();
      checkQuiet();
    }
    finish();
  }

 private:
  void step() {
    switch (input.ConsumeIntegralInRange(0, 16)) {
      case 0:
        return connectUpstream();
      case 1:
        return disconnectUpstream();
      case 2:
        return connectDownstream();
      case 3:
        return disconnectDownstream();
      case 4:
        return inputControl();
      case 5:
        return outputControl();
      case 6:
        return sendSample();
      case 7:
        return sendFormat();
      case 8:
        return sendStreamParams();
      case 9:
        return sendOtherStream();
      case 10:
        return acceptAndQuery();
      case 11:
        return flush();
      case 12:
        return attachment();
      case 13:
        return references();
      case 14:
        return properties();
      case 15:
        return queryInterface();
      default:
        return behaviour();
    }
  }

  // --- Arguments --------------------------------------------------------

  const char* formatName() {
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      formatTexts.push_back(input.ConsumeRandomLengthString(8));
      return formatTexts.back().c_str();
    }
    return kFormats[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kFormats) - 1)];
  }

  std::uint32_t identifier(std::initializer_list<std::uint32_t> real) {
    const std::size_t pick = input.ConsumeIntegralInRange<std::size_t>(0, real.size());
    if (pick < real.size()) return *(real.begin() + pick);
    return input.ConsumeIntegral<std::uint32_t>();
  }

  // A message argument: mostly a value with tag 14 and the payload given,
  // sometimes a null address, another tag or a null payload.
  FLM::TypedValue* argument(FLM::TypedValue& storage, void* payload) {
    std::memset(&storage, 0xA5, sizeof storage);  // bytes the module must not rely on
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
        return nullptr;
      case 1:
        storage.type = input.ConsumeIntegral<std::uint8_t>();
        break;
      case 2:
        storage.type = FLM::TypeObject;
        payload = nullptr;
        break;
      default:
        storage.type = FLM::TypeObject;
        break;
    }
    storage.payload.object = payload;
    return &storage;
  }

  hostkit::Buffer* makeSample() {
    std::string bytes;
    if (input.ConsumeBool()) bytes = kDialoguePrefix;
    bytes += input.ConsumeRandomLengthString(96);
    return makeBuffer(ledger.sample(bytes, hostkit::Holder::Component));
  }

  // payloadSize never exceeds the buffer (a host does not lie about it), but
  // may be smaller, down to 0; and some buffers have no payload at all.
  hostkit::Buffer* makeBuffer(hostkit::Buffer* buffer) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
        buffer->payloadSize = 0;
        break;
      case 1:
        buffer->payloadSize = input.ConsumeIntegralInRange<std::uint32_t>(0, buffer->payloadSize);
        break;
      case 2:
        buffer->setHasPayload(false);
        break;
      default:
        break;
    }
    buffer->passThrough[0] = input.ConsumeIntegral<std::uint32_t>();
    buffer->passThrough[1] = input.ConsumeIntegral<std::uint32_t>();
    return buffer;
  }

  // --- Ports ------------------------------------------------------------

  void connectUpstream() {
    const auto selector = input.ConsumeIntegralInRange<std::int32_t>(-1, 2);
    const char* format = formatName();
    const bool opens = in == nullptr && selector == 1 &&
                       (std::strcmp(format, "SSA") == 0 || std::strcmp(format, "ASS") == 0);
    FLM::PortInterface* port = transform->connectUpstream(selector, format, 0);
    expect((port != nullptr) == opens, "connectUpstream answer");
    if (port != nullptr) {
      in = port;
      inFormat = format;
    }
  }

  void connectDownstream() {
    const auto selector = input.ConsumeIntegralInRange<std::int32_t>(-1, 2);
    const char* format = formatName();
    const bool opens = out == nullptr && selector == 1 && std::strcmp(format, "UTF8") == 0;
    FLM::PortInterface* port = transform->connectDownstream(selector, format, 0);
    expect((port != nullptr) == opens, "connectDownstream answer");
    if (port != nullptr) {
      out = port;
      outFormat = format;
    }
  }

  // Any pointer may be handed back: the open port, the other one, a port
  // closed earlier (only compared, never called), a foreign port or null.
  FLM::PortInterface* somePort() {
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0:
        return in;
      case 1:
        return out;
      case 2:
        return formerPorts.empty() ? nullptr : formerPorts.back();
      case 3:
        return &sinks[0];
      default:
        return nullptr;
    }
  }

  void disconnectUpstream() {
    FLM::PortInterface* port = somePort();
    const bool closes = in != nullptr && port == in;
    expect(transform->disconnectUpstream(port) == closes, "disconnectUpstream answer");
    heldFormat = nullptr;  // released whatever the answer
    if (closes) {
      formerPorts.push_back(in);
      in = nullptr;
    }
  }

  void disconnectDownstream() {
    FLM::PortInterface* port = somePort();
    const bool closes = out != nullptr && port == out;
    expect(transform->disconnectDownstream(port) == closes, "disconnectDownstream answer");
    if (closes) {
      formerPorts.push_back(out);
      out = nullptr;
    }
  }

  // --- Control messages -------------------------------------------------

  void inputControl() {
    if (in == nullptr) return;
    const std::uint32_t id = identifier({FLM::MsgConnect, FLM::MsgFlush, FLM::MsgAllocator});
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, &source);
    const bool expected =
        id != FLM::MsgConnect || (value != nullptr && value->payload.object != nullptr);
    expect(in->controlMessage(id, value) == expected, "input controlMessage answer");
  }

  void outputControl() {
    if (out == nullptr) return;
    const std::uint32_t id = identifier({FLM::MsgConnect, FLM::MsgAllocator, FLM::MsgFlush});
    FLM::TypedValue storage;
    FLM::TypedValue* value;
    bool expected = true;
    if (id == FLM::MsgConnect) {
      hostkit::SinkPort* peer = &sinks[input.ConsumeIntegralInRange(0, 1)];
      value = argument(storage, peer);
      expected = value != nullptr && value->payload.object != nullptr;
      if (expected) downstream = peer;
    } else if (id == FLM::MsgAllocator) {
      hostkit::LedgerAllocator* allocator = input.ConsumeBool() ? &allocators[0] : &allocators[1];
      value = argument(storage, allocator);
      expected = value != nullptr;
    } else {
      value = argument(storage, &source);
    }
    expect(out->controlMessage(id, value) == expected, "output controlMessage answer");
    if (id == FLM::MsgFlush) expectOnlyFormatHeld();
  }

  void flush() {
    if (out == nullptr) return;
    FLM::TypedValue storage;
    expect(out->controlMessage(FLM::MsgFlush, argument(storage, &source)), "MsgFlush answer");
    expectOnlyFormatHeld();
  }

  // --- Stream messages --------------------------------------------------

  void sendSample() {
    if (in == nullptr) return;
    hostkit::Buffer* sample = input.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : makeSample();
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, sample);
    const bool taken = isValidObject(value);
    const bool answer = in->streamMessage(FLM::MsgSample, value);
    if (!taken) expect(!answer, "MsgSample without a sample answered true");
    if (!taken && sample != nullptr) sample->returnToHost();
  }

  void sendFormat() {
    if (in == nullptr) return;
    static const char* const kCodes[] = {"SUB ", "sub ", "SUBT", "SUB", "SUB  "};
    std::string code = input.ConsumeBool() ? kCodes[input.ConsumeIntegralInRange<std::size_t>(0, 4)]
                                           : input.ConsumeRandomLengthString(12);
    std::string header = input.ConsumeBool() ? kHeader : "";
    header += input.ConsumeRandomLengthString(256);
    hostkit::Buffer* record =
        makeBuffer(ledger.formatRecord(code, header, hostkit::Holder::Component));
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      record->formatIdentifierLength = input.ConsumeIntegralInRange<std::uint32_t>(0, 12);
    }
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, record);
    const bool accepted = isValidObject(value) && heldFormat == nullptr &&
                          record->formatIdentifierLength == 4 &&
                          std::memcmp(record->formatIdentifier, "SUB ", 4) == 0;
    const Forwarding forwarding = watch();
    const bool answer = in->streamMessage(FLM::MsgFormat, value);
    if (accepted) {
      heldFormat = record;
      expect(!forwarding.happened(), "an accepted format record was forwarded");
    } else {
      forwarding.expectForwarded(FLM::MsgFormat, value, answer);
      record->returnToHost();
    }
  }

  void sendStreamParams() {
    if (in == nullptr) return;
    FLM::StreamParameters parameters{
        input.ConsumeIntegral<std::uint32_t>(),
        {input.ConsumeIntegral<std::uint32_t>(), input.ConsumeIntegral<std::uint32_t>()}};
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, &parameters);
    if (isValidObject(value)) {
      streamParams[0] = parameters.words[0];
      streamParams[1] = parameters.words[1];
    }
    const Forwarding forwarding = watch();
    const bool answer = in->streamMessage(FLM::MsgStreamParams, value);
    forwarding.expectForwarded(FLM::MsgStreamParams, value, answer);
  }

  void sendOtherStream() {
    if (in == nullptr) return;
    std::uint32_t id = input.ConsumeIntegral<std::uint32_t>();
    if (id == FLM::MsgSample || id == FLM::MsgFormat || id == FLM::MsgStreamParams) ++id;
    hostkit::Buffer* sample = makeSample();
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, sample);
    const Forwarding forwarding = watch();
    expect(!in->streamMessage(id, value), "an unknown stream message answered true");
    expect(!forwarding.happened(), "an unknown stream message was forwarded");
    sample->returnToHost();
  }

  void acceptAndQuery() {
    const std::uint32_t id = identifier({FLM::MsgSample, FLM::MsgFormat, FLM::MsgFlush});
    FLM::TypedValue storage;
    FLM::TypedValue* value = argument(storage, &source);
    for (FLM::PortInterface* port : {in, out}) {
      if (port == nullptr) continue;
      expect(port->acceptMessage(id, value), "acceptMessage answered false");
      expect(!port->queryMessage(id, value), "queryMessage answered true");
    }
    if (out != nullptr)
      expect(!out->streamMessage(id, value), "output streamMessage answered true");
  }

  // Which downstream peer saw what during one message.
  struct Forwarding {
    hostkit::SinkPort* peer;
    std::size_t before;
    bool happened() const { return peer != nullptr && peer->forwarded.size() != before; }
    // Forwarded unchanged, answered with the peer's answer; without a peer
    // nothing can be forwarded and the answer is the module's own.
    void expectForwarded(std::uint32_t id, FLM::TypedValue* value, bool answer) const {
      if (peer == nullptr) return;
      expect(peer->forwarded.size() == before + 1, "a message was not forwarded once");
      expect(peer->forwarded.back().id == id && peer->forwarded.back().value == value,
             "a message was forwarded changed");
      expect(answer == peer->answer, "a forwarded message did not answer the peer's answer");
    }
  };
  Forwarding watch() const {
    return Forwarding{downstream, downstream == nullptr ? 0 : downstream->forwarded.size()};
  }

  // --- The object -------------------------------------------------------

  void attachment() {
    switch (input.ConsumeIntegralInRange(0, 2)) {
      case 0:
        expect(!component->attach(nullptr), "attach(null) answered true");
        break;
      case 1:
        expect(component->attach(&context), "attach answered false");
        break;
      default:
        expect(component->detach(), "detach answered false");
        break;
    }
  }

  // The count stays at 1 or more until the end; then the last release.
  void references() {
    if (input.ConsumeBool() || referenceCount == 1) {
      expect(plugin->retain() == ++referenceCount, "retain answer");
    } else {
      expect(plugin->release() == --referenceCount, "release answer");
    }
    expect(plugin->refCount() == referenceCount, "refCount answer");
    expect(plugin->getReserved() == 0 && plugin->getHost() == &pluginHost, "plug-in fields");
    expect(pluginHost.events.empty(), "the host was told of a deletion too early");
  }

  void properties() {
    if (input.ConsumeBool()) {
      std::vector<const char*> names(input.ConsumeIntegralInRange(0, 2), "mine");
      const std::size_t before = names.size();
      expect(component->getPropertyNames(&names), "getPropertyNames answered false");
      expect(names.size() == before + 4 && std::strcmp(names[before], "InputFormat") == 0 &&
                 std::strcmp(names[before + 1], "Name") == 0 &&
                 std::strcmp(names[before + 2], "OutputFormat") == 0 &&
                 std::strcmp(names[before + 3], "Type") == 0,
             "property names");
      return;
    }
    std::string name;
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      name = input.ConsumeRandomLengthString(16);
    } else {
      name = kPropertyNames[input.ConsumeIntegralInRange<std::size_t>(0, 7)];
    }
    name = name.c_str();  // the component sees the text up to its NUL
    FLM::TypedValue value;
    std::memset(&value, 0x5A, sizeof value);
    value.type = input.ConsumeBool() ? FLM::TypeFourCC : input.ConsumeIntegral<std::uint8_t>();
    FLM::TypedValue before = value;
    const bool answer = component->getProperty(name.c_str(), &value);
    if (name == "Name") {
      expect(answer && value.type == FLM::TypeWideString &&
                 wideText(*value.payload.wideString) == u"Glyphtide Subtitle Decoder",
             "the Name property");
    } else if (name == "Type") {
      expect(answer && value.type == FLM::TypeString &&
                 std::strcmp(value.payload.string->data, "Overlay|Decoder|Glyphtide") == 0,
             "the Type property");
    } else if (name == "InputFormat" || name == "OutputFormat") {
      const char* format = name == "InputFormat" ? inFormat : outFormat;
      const bool open = name == "InputFormat" ? in != nullptr : out != nullptr;
      expect(answer == (open && before.type == FLM::TypeFourCC), "a format property answer");
      if (answer) {
        std::uint8_t code[4] = {};
        for (int i = 0; i < 4 && format[i] != 0; ++i) {
          code[i] = static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(format[i])));
        }
        expect(std::memcmp(value.payload.bytes, code, 4) == 0, "a format property's code");
        std::memcpy(value.payload.bytes, before.payload.bytes, 4);
      }
      expect(std::memcmp(&value, &before, sizeof value) == 0,
             "getProperty changed more than the code");
    } else {
      expect(!answer && std::memcmp(&value, &before, sizeof value) == 0,
             "an unknown property was answered");
    }
  }

  void queryInterface() {
    const std::size_t pick = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kIdentifiers));
    FLM::String<char> other(pick == std::size(kIdentifiers) && input.ConsumeBool()
                                ? input.ConsumeRandomLengthString(48).c_str()
                                : nullptr,
                            &FLM::sharedAllocator<char>());
    const FLM::String<char>* id = pick < std::size(kIdentifiers) ? kIdentifiers[pick] : &other;
    void* found = &found;
    const std::int32_t status = plugin->queryInterface(id, &found);
    void* const expected[] = {static_cast<void*>(component), static_cast<void*>(transform),
                              static_cast<void*>(transformComponent)};
    // A text that happens to equal an answered identifier is answered.
    std::size_t match = pick;
    for (std::size_t i = 0; i < 3 && pick == std::size(kIdentifiers); ++i) {
      if (FLM::sameIdentifier(other, *kIdentifiers[i])) match = i;
    }
    if (match < 3) {
      expect(status == 0 && found == expected[match], "queryInterface of an answered identifier");
    } else {
      expect(status == 3 && found == nullptr, "queryInterface of an identifier not answered");
    }
  }

  // What the peers and the allocators do: answers, failures, call-backs.
  void behaviour() {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        sinks[input.ConsumeIntegralInRange(0, 1)].answer = input.ConsumeBool();
        break;
      case 1:
        allocators[1].yieldNothing = input.ConsumeBool();
        break;
      case 2:
        allocators[1].withoutPayload = input.ConsumeBool();
        break;
      default:
        callback = static_cast<Callback>(input.ConsumeIntegralInRange(0, 3));
        break;
    }
  }

  // A downstream peer calling back into the component from inside its
  // streamMessage, on the thread that holds the lock.
  void callBack() {
    if (depth >= 2 || callback == Callback::None) return;
    ++depth;
    switch (callback) {
      case Callback::Flush:
        if (out != nullptr) out->controlMessage(FLM::MsgFlush, nullptr);
        break;
      case Callback::Sample:
        if (in != nullptr) {
          hostkit::Buffer* sample = makeSample();
          FLM::TypedValue value = hostkit::objectValue(sample);
          in->streamMessage(FLM::MsgSample, &value);
        }
        break;
      case Callback::Properties: {
        FLM::TypedValue value{};
        value.type = FLM::TypeFourCC;
        component->getProperty("OutputFormat", &value);
        break;
      }
      case Callback::None:
        break;
    }
    --depth;
  }

  // --- Checks -----------------------------------------------------------

  // Between operations the component holds at most one sample and the
  // format record; every output carries the stream parameters of the moment.
  void checkQuiet() {
    const std::uint64_t held = heldFormat != nullptr ? 1 : 0;
    const std::uint64_t live = ledger.counts().live;
    expect(live >= held && live <= held + 1, "the component holds buffers it was not handed",
           ledger.summary());
    for (hostkit::SinkPort& sink : sinks) {
      for (const hostkit::ReceivedSample& output : sink.outputs) {
        expect(
            output.streamParams[0] == streamParams[0] && output.streamParams[1] == streamParams[1],
            "an output sample without the stream parameters");
      }
      sink.outputs.clear();
    }
  }

  void expectOnlyFormatHeld() {
    expect(ledger.counts().live == (heldFormat != nullptr ? 1u : 0u), "a flush left a sample held",
           ledger.summary());
  }

  void finish() {
    // Teardown closes open ports itself; a host may also close them first.
    if (input.ConsumeBool()) {
      if (in != nullptr) expect(transform->disconnectUpstream(in), "closing the input port");
      if (out != nullptr) expect(transform->disconnectDownstream(out), "closing the output port");
    }
    while (referenceCount > 1) expect(plugin->release() == --referenceCount, "release answer");
    expect(pluginHost.events.empty(), "the host was told of a deletion too early");
    const void* address = plugin;
    expect(plugin->release() == 0, "the last release did not answer 0");
    expect(pluginHost.toldAroundRelease(address),
           "the host was not told around the deletion exactly once");
    for (const hostkit::SinkPort& sink : sinks) fuzzing::expectSinkClean(sink);
    fuzzing::expectLedgerClean(ledger);
    expect(source.calls == 0, "the upstream peer was called");
  }

  enum class Callback { None, Flush, Sample, Properties };

  FuzzedDataProvider& input;
  hostkit::LoggingPluginHost pluginHost;
  hostkit::Ledger ledger;
  hostkit::LedgerAllocator allocators[2] = {hostkit::LedgerAllocator(ledger),
                                            hostkit::LedgerAllocator(ledger)};
  hostkit::SinkPort sinks[2];
  hostkit::SourcePort source;
  hostkit::ConstantAttachContext context{0x1234u};

  FLM::Plugin* plugin = nullptr;
  FLM::ComponentInterface* component = nullptr;
  FLM::TransformInterface* transform = nullptr;
  FLM::TransformComponent* transformComponent = nullptr;

  // The model.
  FLM::PortInterface* in = nullptr;
  FLM::PortInterface* out = nullptr;
  const char* inFormat = nullptr;
  const char* outFormat = nullptr;
  std::vector<FLM::PortInterface*> formerPorts;  // closed: compared only, never called
  std::deque<std::string> formatTexts;           // kept by address while a port is open
  hostkit::SinkPort* downstream = nullptr;
  hostkit::Buffer* heldFormat = nullptr;
  std::uint32_t streamParams[2] = {0, 0};
  std::int32_t referenceCount = 1;
  Callback callback = Callback::None;
  int depth = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Program(input).run();
  return 0;
}
