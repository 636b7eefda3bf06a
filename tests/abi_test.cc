// The binary contract, checked from outside. This program loads the built
// module with dlopen, as the closed host does, and reaches it only through the
// table entries and byte offsets written out below. It includes nothing of the
// module's own: a test that shares the module's headers moves with them, so a
// reordered virtual declaration, a removed slot or a moved field would pass it
// while the host called the wrong function. Here the two sides are written
// apart and have to agree.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace {

using Word = std::uintptr_t;

// --- Records shared with the host ----------------------------------------

struct alignas(8) TypedValue {
  std::uint8_t type;
  std::uint8_t unused[7];
  union {
    void* object;
    std::uint32_t fourCC;
    std::uint8_t bytes[8];
  } payload;
};

template <typename T>
struct String {
  const T* data;
  std::int32_t length;
  void* allocator;
};

// Written with the table pointer as a plain member, so offsetof is exact.
struct MediaBufferRecord {
  const Word* table;
  std::uint32_t payloadSize;
  std::uint8_t unknown1[36];
  union {
    std::uint32_t passThrough[2];
    char formatIdentifier[12];
  };
  std::uint32_t formatIdentifierLength;
  std::uint8_t unknown2[8];
  std::uint32_t streamParams[2];
};

struct StreamParameters {
  std::uint32_t unknown;
  std::uint32_t words[2];
};

static_assert(sizeof(TypedValue) == 16 && alignof(TypedValue) == 8);
static_assert(offsetof(TypedValue, type) == 0 && offsetof(TypedValue, payload) == 8);
static_assert(offsetof(StreamParameters, words[0]) == 4);
static_assert(offsetof(StreamParameters, words[1]) == 8);
#if defined(__i386__)
static_assert(sizeof(String<char>) == 12 && sizeof(String<unsigned short>) == 12);
static_assert(offsetof(String<char>, length) == 4 && offsetof(String<char>, allocator) == 8);
static_assert(offsetof(MediaBufferRecord, payloadSize) == 4);
static_assert(offsetof(MediaBufferRecord, passThrough[0]) == 44);
static_assert(offsetof(MediaBufferRecord, passThrough[1]) == 48);
static_assert(offsetof(MediaBufferRecord, formatIdentifier) == 44);
static_assert(offsetof(MediaBufferRecord, formatIdentifierLength) == 56);
static_assert(offsetof(MediaBufferRecord, streamParams[0]) == 68);
static_assert(offsetof(MediaBufferRecord, streamParams[1]) == 72);
static_assert(sizeof(MediaBufferRecord) == 76);
#elif defined(__x86_64__)
// Not the host's architecture: the layout pinned for test hosts, with an
// 8-byte table pointer and every MediaBuffer field 4 bytes further on.
static_assert(sizeof(String<char>) == 24 && sizeof(String<unsigned short>) == 24);
static_assert(offsetof(String<char>, length) == 8 && offsetof(String<char>, allocator) == 16);
static_assert(offsetof(MediaBufferRecord, payloadSize) == 8);
static_assert(offsetof(MediaBufferRecord, passThrough[0]) == 48);
static_assert(offsetof(MediaBufferRecord, passThrough[1]) == 52);
static_assert(offsetof(MediaBufferRecord, formatIdentifier) == 48);
static_assert(offsetof(MediaBufferRecord, formatIdentifierLength) == 60);
static_assert(offsetof(MediaBufferRecord, streamParams[0]) == 72);
static_assert(offsetof(MediaBufferRecord, streamParams[1]) == 76);
static_assert(sizeof(MediaBufferRecord) == 80);
#else
#error "no pinned layout for this architecture"
#endif

constexpr std::uint8_t TypeFourCC = 6, TypeString = 11, TypeWideString = 13, TypeObject = 14;
constexpr std::uint32_t MsgConnect = 0x3000000E, MsgAllocator = 0x3008000E, MsgFlush = 0x30010000,
                        MsgStreamParams = 0x2009000E, MsgSample = 0x200D000A,
                        MsgFormat = 0x2019000E;

// --- Tables, as the host reads them ---------------------------------------
//
// Slot n counts the virtual destructor as one position, slot 0. Under the
// Itanium C++ ABI a virtual destructor takes two table entries (the complete
// and the deleting destructor), so slot n is table entry n + 1 for n >= 1.
// A call reads the object's table pointer, takes the entry and calls it as a
// plain function with the object first: g++ member functions are cdecl with
// `this` first on the stack on i386, and take `this` in the first register on
// x86_64, so one free-function type serves both.

template <typename R, typename... A>
R callSlot(void* self, int slot, A... args) {
  const Word* table = *static_cast<const Word* const*>(self);
  return reinterpret_cast<R (*)(void*, A...)>(table[slot + 1])(self, args...);
}

struct PluginTable {  // FLM::Plugin, from _getPlugin
  void* self = nullptr;
  std::int32_t retain() { return callSlot<std::int32_t>(self, 1); }
  std::int32_t release() { return callSlot<std::int32_t>(self, 2); }
  std::int32_t refCount() { return callSlot<std::int32_t>(self, 3); }
  std::int32_t getReserved() { return callSlot<std::int32_t>(self, 4); }
  void* getHost() { return callSlot<void*>(self, 5); }
  std::int32_t queryInterface(const String<char>* id, void** out) {
    return callSlot<std::int32_t>(self, 6, id, out);
  }
};

struct ComponentTable {  // ComponentInterface
  void* self = nullptr;
  bool attach(void* context) { return callSlot<bool>(self, 1, context); }
  bool detach() { return callSlot<bool>(self, 2); }
  bool twoWordSlot(int slot) { return callSlot<bool>(self, slot, Word{1}, Word{2}); }  // 3 to 6
  bool slot7() { return callSlot<bool>(self, 7, Word{1}, Word{2}, Word{3}, Word{4}, Word{5}); }
  bool getPropertyNames(std::vector<const char*>* names) { return callSlot<bool>(self, 8, names); }
  bool getProperty(const char* name, TypedValue* value) {
    return callSlot<bool>(self, 9, name, value);
  }
};

struct InputSideTable {  // InputInterface: the transform pointer itself
  void* self = nullptr;
  void* connectDownstream(std::int32_t selector, const char* format) {
    return callSlot<void*>(self, 1, selector, format, Word{0});
  }
  bool disconnectDownstream(void* port) { return callSlot<bool>(self, 2, port); }
};

struct OutputSideTable {  // OutputInterface: the transform's second base, one word on
  void* self = nullptr;
  void* connectUpstream(std::int32_t selector, const char* format) {
    return callSlot<void*>(self, 1, selector, format, Word{0});
  }
  bool disconnectUpstream(void* port) { return callSlot<bool>(self, 2, port); }
};

struct PortTable {  // PortInterface
  void* self = nullptr;
  bool acceptMessage(std::uint32_t id, TypedValue* v) { return callSlot<bool>(self, 1, id, v); }
  bool controlMessage(std::uint32_t id, TypedValue* v) { return callSlot<bool>(self, 2, id, v); }
  bool queryMessage(std::uint32_t id, TypedValue* v) { return callSlot<bool>(self, 3, id, v); }
  bool streamMessage(std::uint32_t id, TypedValue* v) { return callSlot<bool>(self, 4, id, v); }
};

// --- Host objects, with hand-made tables ----------------------------------

// Every host call the module makes outside the named slots lands here.
int strayCalls = 0;
Word stray(void*) {
  ++strayCalls;
  return 0;
}

template <typename F>
Word entryOf(F* function) {
  return reinterpret_cast<Word>(function);
}

// A host object's table, laid out as g++ lays one out: the offset to top and
// the type_info before the entries; entries 0 and 1 stand for the destructor
// pair, entry n + 1 is slot n, and an entry not set is a trap.
template <int LastSlot>
struct HostTable {
  std::intptr_t offsetToTop;
  const std::type_info* type;
  Word entry[LastSlot + 2];

  explicit HostTable(const std::type_info& type) : offsetToTop(0), type(&type) {
    std::fill(std::begin(entry), std::end(entry), entryOf(&stray));
  }
  template <typename F>
  HostTable& set(int slot, F* function) {
    entry[slot + 1] = entryOf(function);
    return *this;
  }
};
static_assert(offsetof(HostTable<1>, entry) == 2 * sizeof(void*));

// The host's objects are of the framework's classes, and their type_info
// carries those names. Only a sanitizer build of the module reads them: it
// checks the dynamic type of every object it calls (-fsanitize=vptr).
const abi::__class_type_info kPluginHostType("N3FLM10PluginHostE");
const abi::__class_type_info kAttachContextType("N3FLM13AttachContextE");
const abi::__class_type_info kMediaBufferType("N3FLM11MediaBufferE");
const abi::__class_type_info kSampleAllocatorType("N3FLM15SampleAllocatorE");
const abi::__class_type_info kPortType("N3FLM13PortInterfaceE");

struct PluginHost {
  const Word* table;
  std::vector<std::pair<std::string, void*>> events;
};
std::int32_t pluginReleasing(void* self, void* plugin) {
  static_cast<PluginHost*>(self)->events.emplace_back("releasing", plugin);
  return 0;
}
std::int32_t pluginReleased(void* self, void* plugin) {
  static_cast<PluginHost*>(self)->events.emplace_back("released", plugin);
  return 0;
}
const HostTable<9> kPluginHostTable =
    HostTable<9>(kPluginHostType).set(8, &pluginReleasing).set(9, &pluginReleased);

struct AttachContext {
  const Word* table;
  int calls;
};
std::uint32_t attachValue(void* self) {
  ++static_cast<AttachContext*>(self)->calls;
  return 0xA77AC4EDu;
}
const HostTable<10> kAttachContextTable = HostTable<10>(kAttachContextType).set(10, &attachValue);

// A MediaBuffer: the shared record first, the host's accounting after it.
struct Buffer {
  MediaBufferRecord record;
  int references;
  int openLocks;  // lockPayload calls not yet ended by unlockPayload
  int lockCalls;
  int unbalancedUnlocks;
  std::vector<char> payload;
};
static_assert(std::is_standard_layout_v<Buffer> && offsetof(Buffer, record) == 0);

void bufferRelease(void* self) { --static_cast<Buffer*>(self)->references; }
void* bufferLock(void* self) {
  auto* buffer = static_cast<Buffer*>(self);
  ++buffer->openLocks;
  ++buffer->lockCalls;
  return buffer->payload.empty() ? nullptr : buffer->payload.data();
}
void bufferUnlock(void* self) {
  auto* buffer = static_cast<Buffer*>(self);
  if (buffer->openLocks == 0)
    ++buffer->unbalancedUnlocks;
  else
    --buffer->openLocks;
}
const HostTable<4> kBufferTable =
    HostTable<4>(kMediaBufferType).set(2, &bufferRelease).set(3, &bufferLock).set(4, &bufferUnlock);

// Owns the memory of every buffer, so a release that is one too many is
// counted, not a use after free.
struct Buffers {
  std::vector<std::unique_ptr<Buffer>> all;

  Buffer* make(std::string_view bytes, std::size_t capacity) {
    all.push_back(std::make_unique<Buffer>());
    Buffer* buffer = all.back().get();
    buffer->record.table = kBufferTable.entry;
    buffer->references = 1;
    buffer->payload.assign(bytes.begin(), bytes.end());
    buffer->payload.resize(capacity, '\xAA');
    buffer->record.payloadSize = static_cast<std::uint32_t>(bytes.size());
    return buffer;
  }
  Buffer* find(const void* address) const {
    for (const auto& buffer : all)
      if (buffer.get() == address) return buffer.get();
    return nullptr;
  }
};

struct SampleAllocator {
  const Word* table;
  Buffers* buffers;
  std::vector<std::uint32_t> requests;  // payloadBytes, count, flags of each call
};
void* allocateSample(void* self, std::uint32_t payloadBytes, std::uint32_t count,
                     std::uint32_t flags) {
  auto* allocator = static_cast<SampleAllocator*>(self);
  allocator->requests.insert(allocator->requests.end(), {payloadBytes, count, flags});
  return allocator->buffers->make("", payloadBytes);
}
const HostTable<3> kSampleAllocatorTable =
    HostTable<3>(kSampleAllocatorType).set(3, &allocateSample);

// A downstream peer: keeps what reaches its streamMessage and answers as
// told. A sample that arrives is the peer's: the test releases it.
struct PeerPort {
  const Word* table;
  bool answer;
  struct Received {
    std::uint32_t id;
    const TypedValue* argument;
    std::uint8_t type;
    void* object;
  };
  std::vector<Received> received;
};
bool peerStream(void* self, std::uint32_t id, TypedValue* value) {
  static_cast<PeerPort*>(self)->received.push_back(
      {id, value, value ? value->type : std::uint8_t{0}, value ? value->payload.object : nullptr});
  return static_cast<PeerPort*>(self)->answer;
}
const HostTable<4> kPeerPortTable = HostTable<4>(kPortType).set(4, &peerStream);
const HostTable<4> kSilentPortTable(kPortType);  // the upstream peer is never called

TypedValue objectValue(void* object) {
  TypedValue value{};
  value.type = TypeObject;
  value.payload.object = object;
  return value;
}

// --- The module, loaded as the host loads it -------------------------------

const char* const kAnswered[] = {"com.zelk.flowloom.interface.component",
                                 "com.zelk.flowloom.interface.transform",
                                 "com.zelk.flowloom.component.transform"};
const char* const kRefused[] = {
    "com.zelk.flowloom.component.input",           "com.zelk.flowloom.interface.input",
    "com.zelk.flowloom.component.output",          "com.zelk.flowloom.component.output.single",
    "com.zelk.flowloom.component.output.multiple", "com.zelk.flowloom.interface.output"};

String<char> identifier(const char* text) {
  return {text, static_cast<std::int32_t>(std::strlen(text)), nullptr};
}

class ContractTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library = ::dlopen(SUBRITE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      if (const char* why = ::dlerror()) loadError = why;
      return;
    }
    const Word entry = reinterpret_cast<Word>(::dlsym(library, "_getPlugin"));
    getPlugin = reinterpret_cast<std::int32_t (*)(void*, void**)>(entry);
  }
  static void TearDownTestSuite() {
    if (library != nullptr) ::dlclose(library);
    library = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(library, nullptr) << loadError;
    ASSERT_NE(getPlugin, nullptr) << "no _getPlugin in " << SUBRITE_MODULE_PATH;
    strayCalls = 0;
    ASSERT_EQ(getPlugin(&host, &plugin.self), 0);
    ASSERT_NE(plugin.self, nullptr);
    component.self = query(kAnswered[0]);
    inputSide.self = query(kAnswered[1]);
    outputSide.self = static_cast<char*>(inputSide.self) + sizeof(void*);
  }

  // The last release: the host is told before and after, with the same
  // address, and every buffer has been released exactly once.
  void TearDown() override {
    if (plugin.self != nullptr) {
      host.events.clear();
      EXPECT_EQ(plugin.release(), 0);
      const decltype(host.events) told = {{"releasing", plugin.self}, {"released", plugin.self}};
      EXPECT_EQ(host.events, told);
    }
    for (const auto& buffer : buffers.all) {
      EXPECT_EQ(buffer->references, 0) << "references the host still holds on " << buffer.get();
      EXPECT_EQ(buffer->openLocks, 0);
      EXPECT_EQ(buffer->unbalancedUnlocks, 0);
    }
    EXPECT_EQ(strayCalls, 0) << "the module called a host slot it must not";
  }

  void* query(const char* text) {
    const String<char> id = identifier(text);
    void* out = &out;  // anything but null: the module must write it
    EXPECT_EQ(plugin.queryInterface(&id, &out), 0) << text;
    return out;
  }

  // Opens both ports and wires the peers and the allocator.
  void open() {
    in.self = outputSide.connectUpstream(1, "ASS");
    out.self = inputSide.connectDownstream(1, "UTF8");
    ASSERT_NE(in.self, nullptr);
    ASSERT_NE(out.self, nullptr);
    TypedValue upstream = objectValue(&source), downstream = objectValue(&sink),
               samples = objectValue(&allocator);
    ASSERT_TRUE(in.controlMessage(MsgConnect, &upstream));
    ASSERT_TRUE(out.controlMessage(MsgConnect, &downstream));
    ASSERT_TRUE(out.controlMessage(MsgAllocator, &samples));
  }

  bool sendSample(std::string_view line, std::uint32_t pass0 = 0, std::uint32_t pass1 = 0) {
    Buffer* sample = buffers.make(line, line.size());
    sample->record.passThrough[0] = pass0;
    sample->record.passThrough[1] = pass1;
    TypedValue value = objectValue(sample);
    return in.streamMessage(MsgSample, &value);
  }

  static inline void* library = nullptr;
  static inline std::string loadError;
  static inline std::int32_t (*getPlugin)(void* host, void** out) = nullptr;

  PluginHost host{kPluginHostTable.entry, {}};
  Buffers buffers;
  SampleAllocator allocator{kSampleAllocatorTable.entry, &buffers, {}};
  PeerPort sink{kPeerPortTable.entry, true, {}};
  PeerPort source{kSilentPortTable.entry, true, {}};
  PluginTable plugin;
  ComponentTable component;
  InputSideTable inputSide;
  OutputSideTable outputSide;
  PortTable in, out;
};

TEST_F(ContractTest, PluginTableCountsReferencesAndKnowsItsHost) {
  EXPECT_EQ(plugin.retain(), 2);
  EXPECT_EQ(plugin.refCount(), 2);
  EXPECT_EQ(plugin.release(), 1);
  EXPECT_EQ(plugin.refCount(), 1);
  EXPECT_EQ(plugin.getReserved(), 0);
  EXPECT_EQ(plugin.getHost(), &host);
  EXPECT_TRUE(host.events.empty());
}

TEST_F(ContractTest, QueryInterfaceAnswersThreeIdentifiersWithTheSamePointerEachTime) {
  for (const char* text : kAnswered) {
    void* first = query(text);
    EXPECT_NE(first, nullptr) << text;
    EXPECT_EQ(query(text), first) << text;
  }
  for (const char* text : kRefused) {
    const String<char> id = identifier(text);
    void* out = &out;
    EXPECT_EQ(plugin.queryInterface(&id, &out), 3) << text;
    EXPECT_EQ(out, nullptr) << text;
  }
  EXPECT_EQ(plugin.refCount(), 1);
}

TEST_F(ContractTest, ComponentTableAttachesAndDescribesItself) {
  AttachContext context{kAttachContextTable.entry, 0};
  EXPECT_TRUE(component.attach(&context));
  EXPECT_EQ(context.calls, 1);
  EXPECT_FALSE(component.attach(nullptr));
  EXPECT_TRUE(component.detach());
  EXPECT_EQ(context.calls, 1);

  for (int slot = 3; slot <= 6; ++slot) EXPECT_TRUE(component.twoWordSlot(slot)) << slot;
  EXPECT_FALSE(component.slot7());

  std::vector<const char*> names = {"kept"};
  EXPECT_TRUE(component.getPropertyNames(&names));
  const std::vector<std::string> expected = {"kept", "InputFormat", "Name", "OutputFormat", "Type"};
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), expected);

  TypedValue value{};
  ASSERT_TRUE(component.getProperty("Name", &value));
  EXPECT_EQ(value.type, TypeWideString);
  const auto* wide = static_cast<const String<unsigned short>*>(value.payload.object);
  const std::string_view name = "Glyphtide Subtitle Decoder";
  ASSERT_EQ(wide->length, static_cast<std::int32_t>(name.size()));
  EXPECT_TRUE(std::equal(name.begin(), name.end(), wide->data));
  EXPECT_EQ(wide->data[name.size()], 0);

  value = TypedValue{};
  ASSERT_TRUE(component.getProperty("Type", &value));
  EXPECT_EQ(value.type, TypeString);
  const auto* type = static_cast<const String<char>*>(value.payload.object);
  EXPECT_EQ(std::string(type->data, static_cast<std::size_t>(type->length)),
            "Overlay|Decoder|Glyphtide");

  // The formats are asked for as four-character codes; there are none yet.
  value = TypedValue{};
  value.type = TypeFourCC;
  EXPECT_FALSE(component.getProperty("InputFormat", &value));
  EXPECT_FALSE(component.getProperty("OutputFormat", &value));
}

TEST_F(ContractTest, PortManagementOpensClosesAndRefuses) {
  // Refusals: a wrong selector or format opens nothing.
  EXPECT_EQ(outputSide.connectUpstream(0, "SSA"), nullptr);
  EXPECT_EQ(outputSide.connectUpstream(1, "ssa"), nullptr);
  EXPECT_EQ(inputSide.connectDownstream(2, "UTF8"), nullptr);
  EXPECT_EQ(inputSide.connectDownstream(1, "utf8"), nullptr);
  EXPECT_FALSE(inputSide.disconnectDownstream(nullptr));
  EXPECT_FALSE(outputSide.disconnectUpstream(nullptr));

  void* input = outputSide.connectUpstream(1, "SSA");
  void* output = inputSide.connectDownstream(1, "UTF8");
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(outputSide.connectUpstream(1, "SSA"), nullptr);  // one port a side
  EXPECT_EQ(inputSide.connectDownstream(1, "UTF8"), nullptr);

  const struct {
    const char* name;
    char code[4];
  } formats[] = {{"InputFormat", {'S', 'S', 'A', 0}}, {"OutputFormat", {'U', 'T', 'F', '8'}}};
  for (const auto& format : formats) {
    TypedValue value{};
    value.type = TypeFourCC;
    std::fill(std::begin(value.payload.bytes), std::end(value.payload.bytes), 0xEE);
    ASSERT_TRUE(component.getProperty(format.name, &value)) << format.name;
    EXPECT_EQ(value.type, TypeFourCC);
    EXPECT_EQ(std::memcmp(value.payload.bytes, format.code, 4), 0) << format.name;
    EXPECT_EQ(value.payload.bytes[4], 0xEE);  // the rest is the caller's
  }

  EXPECT_FALSE(outputSide.disconnectUpstream(output));  // the wrong port
  EXPECT_TRUE(outputSide.disconnectUpstream(input));
  EXPECT_TRUE(inputSide.disconnectDownstream(output));
  EXPECT_FALSE(inputSide.disconnectDownstream(output));
  TypedValue value{};
  value.type = TypeFourCC;
  EXPECT_FALSE(component.getProperty("InputFormat", &value));
  EXPECT_FALSE(component.getProperty("OutputFormat", &value));
}

TEST_F(ContractTest, PortTablesCarryASampleFromInputToPeer) {
  ASSERT_NO_FATAL_FAILURE(open());
  const std::uint32_t ids[] = {MsgConnect, MsgSample, MsgFormat, 0};
  for (std::uint32_t id : ids) {
    EXPECT_TRUE(in.acceptMessage(id, nullptr)) << id;
    EXPECT_TRUE(out.acceptMessage(id, nullptr)) << id;
    EXPECT_FALSE(in.queryMessage(id, nullptr)) << id;
    EXPECT_FALSE(out.queryMessage(id, nullptr)) << id;
    EXPECT_FALSE(out.streamMessage(id, nullptr)) << id;
  }
  EXPECT_FALSE(in.controlMessage(MsgConnect, nullptr));
  EXPECT_FALSE(in.streamMessage(0x20000000, nullptr));  // not ours, not forwarded
  EXPECT_TRUE(sink.received.empty());

  // Stream parameters: read at 4 and 8, passed on with the same argument,
  // answered with the peer's answer.
  StreamParameters parameters{0, {7, 9}};
  TypedValue params = objectValue(&parameters);
  sink.answer = false;
  EXPECT_FALSE(in.streamMessage(MsgStreamParams, &params));
  sink.answer = true;
  ASSERT_EQ(sink.received.size(), 1u);
  EXPECT_EQ(sink.received[0].id, MsgStreamParams);
  EXPECT_EQ(sink.received[0].argument, &params);

  // The format record: identifier bytes at 44, length at 56 (i386).
  static const char header[] =
      "[Script Info]\nScriptType: v4.00+\n[V4+ Styles]\n"
      "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
      "Style: Default,Arial,20,&HFF8000,-1,0\n[Events]\n"
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  Buffer* format = buffers.make(header, sizeof header - 1);
  std::memcpy(format->record.formatIdentifier, "SUB ", 4);
  format->record.formatIdentifierLength = 4;
  TypedValue record = objectValue(format);
  EXPECT_TRUE(in.streamMessage(MsgFormat, &record));
  EXPECT_EQ(sink.received.size(), 1u);  // parsed, not passed on

  // One dialogue line in, one sample out at the peer.
  EXPECT_TRUE(sendSample(
      "Dialogue: 0,0:00:01.00,0:00:03.50,Default,,0000,0000,0000,,Hello {\\i1}world{\\i0}",
      0x11111111, 0x22222222));
  ASSERT_EQ(sink.received.size(), 2u);
  EXPECT_EQ(sink.received[1].id, MsgSample);
  EXPECT_EQ(sink.received[1].type, TypeObject);
  Buffer* sample = buffers.find(sink.received[1].object);
  ASSERT_NE(sample, nullptr) << "not a buffer from the allocator";
  const std::string markup =
      "<font face=\"Arial\" size=\"-1\" color=\"#0080FF\"><b>Hello <i>world</i></b></font>";
  const auto size = static_cast<std::uint32_t>(markup.size() + 1);
  EXPECT_EQ(allocator.requests, (std::vector<std::uint32_t>{size, 1, 1}));
  EXPECT_EQ(sample->record.payloadSize, size);
  EXPECT_EQ(std::string(sample->payload.data(), size), markup + '\0');
  EXPECT_EQ(sample->record.passThrough[0], 0x11111111u);
  EXPECT_EQ(sample->record.passThrough[1], 0x22222222u);
  EXPECT_EQ(sample->record.streamParams[0], 7u);
  EXPECT_EQ(sample->record.streamParams[1], 9u);
  EXPECT_EQ(sample->lockCalls, 1);
  bufferRelease(sample);  // the peer's reference

  // No output for other lines; a sample without payload stays held until
  // the flush on the output port.
  EXPECT_TRUE(sendSample("Comment: 0,0:00:01.00,0:00:03.50,Default,,0,0,0,,x"));
  EXPECT_TRUE(sendSample(""));
  EXPECT_EQ(buffers.all.back()->references, 1);
  EXPECT_TRUE(out.controlMessage(MsgFlush, nullptr));
  EXPECT_EQ(buffers.all.back()->references, 0);
  EXPECT_EQ(sink.received.size(), 2u);

  // Closing the input port gives the format record back.
  EXPECT_TRUE(outputSide.disconnectUpstream(in.self));
  EXPECT_EQ(format->references, 0);
  EXPECT_TRUE(inputSide.disconnectDownstream(out.self));
}

}  // namespace
