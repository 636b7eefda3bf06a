// The module's one component: a transform that takes SSA/ASS event lines on
// its input port and sends their markup out of its output port.
#pragma once

#include <atomic>
#include <boost/thread/recursive_mutex.hpp>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/flm.h"
#include "script/dialogue.h"
#include "script/tables.h"

namespace FLM {

// Property names: the table stores these pointers, and getPropertyNames hands
// them out, so they live as long as the module.
struct PropertyNameLess {
  bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};
using PropertyTable = std::map<const char*, TypedValue, PropertyNameLess>;

class Subrite : public Plugin, public TransformComponent {
 public:
  explicit Subrite(PluginHost* host);
  ~Subrite() override;

  Subrite(const Subrite&) = delete;
  Subrite& operator=(const Subrite&) = delete;

  // Plugin
  std::int32_t queryInterface(const String<char>* identifier, void** out) override;

  // ComponentInterface
  bool attach(AttachContext* context) override;
  bool detach() override;
  bool getPropertyNames(std::vector<const char*>* names) override;
  bool getProperty(const char* name, TypedValue* value) override;

  // InputInterface: the output port.
  PortInterface* connectDownstream(std::int32_t selector, const char* format,
                                   std::uintptr_t ignored) override;
  bool disconnectDownstream(PortInterface* port) override;

  // OutputInterface: the input port.
  PortInterface* connectUpstream(std::int32_t selector, const char* format,
                                 std::uintptr_t ignored) override;
  bool disconnectUpstream(PortInterface* port) override;

  // Returns once no other thread holds the lock. [any thread, takes lock]
  bool waitForIdle();

  // Where the stream enters: format record and samples.
  class Input : public PortInterface {
   public:
    explicit Input(Subrite* owner) : owner(owner) {}
    bool acceptMessage(std::uint32_t id, TypedValue* value) override;
    bool controlMessage(std::uint32_t id, TypedValue* value) override;
    bool queryMessage(std::uint32_t id, TypedValue* value) override;
    bool streamMessage(std::uint32_t id, TypedValue* value) override;

   private:
    Subrite* owner;  // the component that made the port; not owned
  };

  // Names the downstream peer and the sample allocator; takes the flush.
  class Output : public PortInterface {
   public:
    explicit Output(Subrite* owner) : owner(owner) {}
    bool acceptMessage(std::uint32_t id, TypedValue* value) override;
    bool controlMessage(std::uint32_t id, TypedValue* value) override;
    bool queryMessage(std::uint32_t id, TypedValue* value) override;
    bool streamMessage(std::uint32_t id, TypedValue* value) override;

   private:
    Subrite* owner;  // the component that made the port; not owned
  };

 private:
  using Guard = std::lock_guard<boost::recursive_mutex>;

  // Message handlers, one per message (ports.cc).
  bool onConnectUpstream(const TypedValue* value);
  bool onConnectDownstream(const TypedValue* value);
  bool onAllocator(const TypedValue* value);
  bool onFlush();
  bool onStreamParams(std::uint32_t id, TypedValue* value);
  bool onSample(TypedValue* value);
  bool onFormat(std::uint32_t id, TypedValue* value);
  // Sends a message on to the downstream peer unchanged; false without one,
  // and false for one that comes back round a loop while still with it, or
  // kMostNested forwards deep on this thread.
  bool forward(std::uint32_t id, TypedValue* value);

  // The sample and header work (convert.cc). [stream thread, takes lock]
  bool convertSample();
  bool parseScriptHeader();
  // Sends the markup of heldSample downstream in a new sample, unless a
  // call into the host lets the sample go first (sampleDrops moves past
  // `turn`). [caller holds lock]
  bool handOff(const MediaBuffer& input, std::uint32_t turn, std::string_view markup);
  // Releases and clears heldSample. The release may send another sample in,
  // which may then be held: onSample and teardown drop until nothing is.
  // [caller holds lock; teardown calls it before taking the lock, when no
  // other thread can be inside]
  void dropHeldSample();
  // Releases and clears heldFormat. [no lock; see heldFormat]
  void dropHeldFormat();
  // Keeps a buffer's payload locked for a scope (convert.cc).
  class PayloadAccess;
  // Whether the sample has a payload: one lock and one unlock. [caller holds lock]
  bool probePayload(MediaBuffer& sample);
  // Releases a buffer the component let go, or leaves the release to the
  // unlock while the component has its payload locked. [as the caller's]
  void releaseHeld(MediaBuffer& buffer);

  // Property strings (subrite.cc).
  void replaceFormatProperty(const char* name, String<char>* value);
  void clearFormatProperty(const char* name);
  void freePropertyStrings();

  // Held by the sample path (the hand-off downstream included), the header
  // parse, the flush and teardown. Recursive, because a downstream peer may
  // call back into the component on the thread that holds it.
  boost::recursive_mutex lock;
  std::uint32_t attachValue;  // from the AttachContext; read by nothing
  // Stored by MsgConnect and MsgAllocator without the lock, possibly while
  // samples flow on another thread: atomic, so store and read never race.
  std::atomic<PortInterface*> upstreamPeer;    // borrowed; recorded, never called
  std::atomic<PortInterface*> downstreamPeer;  // borrowed; gets output and forwards
  // The ports and their formats are written by the port operations, without
  // the lock, and by teardown, and read by getProperty: the host overlaps
  // none of these with each other or with message delivery.
  Input* inputPort;    // owned, or null
  Output* outputPort;  // owned, or null
  // The caller's format names, by address: null while the port is closed.
  // Only the copies in the property table are read.
  const char* inputFormat;   // "SSA" or "ASS"
  const char* outputFormat;  // "UTF8"
  PropertyTable properties;  // the table and its strings are owned
  MediaBuffer* heldSample;   // one owned reference; only under lock
  // Counts the drops of heldSample. Every call into the host may send a
  // message in that lets the sample go (a flush, another sample), so the
  // sample path compares it after each such call and stops working on a
  // sample that is no longer held; an address alone could come back for
  // another sample. Only under lock.
  std::uint32_t sampleDrops;
  // Samples on their way on the thread that holds the lock: a peer, the
  // allocator or a buffer may send a sample in while one is handled. Only
  // under lock.
  std::uint32_t nestedSamples;
  // How deep samples, and forwarded messages, may nest on one thread: enough
  // for any peer that answers a message with one of its own, and a few KiB
  // of stack.
  static constexpr std::uint32_t kMostNested = 16;
  std::atomic<SampleAllocator*> sampleAllocator;  // borrowed
  // One owned reference, written without the lock by MsgFormat's acceptance,
  // disconnectUpstream and teardown: these never meet, as stream messages
  // arrive one at a time and the host overlaps no port management with them.
  MediaBuffer* heldFormat;
  // Counts the drops of heldFormat, as sampleDrops does; the header parse
  // compares it after its calls on the record. Under heldFormat's rule.
  std::uint32_t formatDrops;
  // The payloads the component has locked, innermost first, each a scope on
  // the stack of the thread inside. Under lock, or heldFormat's rule for the
  // record.
  PayloadAccess* lockedPayloads;
  std::atomic<std::uint32_t> streamParams[2];  // stamped on every output sample
  // Changed only by the header parse, which tells the converter, and by the
  // converter itself; under lock.
  ssa::EventColumns eventColumns;
  ssa::StyleTable styleTable;
  // Scratch of the sample path and what it keeps of the tables; under lock.
  ssa::LineConverter converter;
};

}  // namespace FLM
