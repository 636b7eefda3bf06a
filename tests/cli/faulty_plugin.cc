// Stand-in plug-ins that break one rule of the buffer and sample contract, so
// that the host's checks are seen to catch it. Built once per fault:
//   SUBRITE_FAULT_LEAK   keeps every sample and never releases it
//   SUBRITE_FAULT_STRAY  answers each sample with an output that names the
//                        wrong event in its passThrough words, and refuses
//                        to close its output port
//   SUBRITE_FAULT_NUL    converts every line to itself, but gives the output
//                        of a line holding a NUL byte a payloadSize one byte
//                        beyond its payload
//   SUBRITE_FAULT_NULL   _getPlugin gives no object
#include <cstring>

#include "framework/flm.h"

namespace {

class Faulty final : public FLM::Plugin, public FLM::TransformComponent {
 public:
  explicit Faulty(FLM::PluginHost* host) : Plugin(host), input_(this), output_(this) {}

  std::int32_t queryInterface(const FLM::String<char>* identifier, void** out) override {
    *out = nullptr;
    if (FLM::sameIdentifier(*identifier, FLM::IdInterfaceComponent)) {
      *out = static_cast<FLM::ComponentInterface*>(this);
    } else if (FLM::sameIdentifier(*identifier, FLM::IdInterfaceTransform)) {
      *out = static_cast<FLM::TransformInterface*>(this);
    }
    return *out != nullptr ? StatusFound : StatusNotSupported;
  }
  bool getPropertyNames(std::vector<const char*>*) override { return true; }
  bool getProperty(const char*, FLM::TypedValue*) override { return false; }
  FLM::PortInterface* connectDownstream(std::int32_t, const char*, std::uintptr_t) override {
    return &output_;
  }
#if defined(SUBRITE_FAULT_STRAY)
  bool disconnectDownstream(FLM::PortInterface*) override { return false; }
#else
  bool disconnectDownstream(FLM::PortInterface*) override { return true; }
#endif
  FLM::PortInterface* connectUpstream(std::int32_t, const char*, std::uintptr_t) override {
    return &input_;
  }
  bool disconnectUpstream(FLM::PortInterface*) override {
    if (format_ != nullptr) format_->release();
    format_ = nullptr;
    return true;
  }

 private:
  struct Port : FLM::PortInterface {
    explicit Port(Faulty* owner) : owner(owner) {}
    bool acceptMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
    bool queryMessage(std::uint32_t, FLM::TypedValue*) override { return false; }
    Faulty* owner;
  };
  struct Input final : Port {
    using Port::Port;
    bool controlMessage(std::uint32_t, FLM::TypedValue*) override { return true; }
    bool streamMessage(std::uint32_t id, FLM::TypedValue* value) override {
      auto* buffer = static_cast<FLM::MediaBuffer*>(value->payload.object);
      if (id == FLM::MsgFormat) owner->format_ = buffer;
      if (id == FLM::MsgStreamParams) {
        const auto* parameters = static_cast<const FLM::StreamParameters*>(value->payload.object);
        owner->streamParams_[0] = parameters->words[0];
        owner->streamParams_[1] = parameters->words[1];
      }
      if (id == FLM::MsgSample) owner->sample(buffer);
      return true;
    }
  };
  struct Output final : Port {
    using Port::Port;
    bool controlMessage(std::uint32_t id, FLM::TypedValue* value) override {
      if (id == FLM::MsgConnect)
        owner->downstream_ = static_cast<FLM::PortInterface*>(value->payload.object);
      if (id == FLM::MsgAllocator)
        owner->allocator_ = static_cast<FLM::SampleAllocator*>(value->payload.object);
      return true;
    }
    bool streamMessage(std::uint32_t, FLM::TypedValue*) override { return false; }
  };

  void sample(FLM::MediaBuffer* buffer) {
#if defined(SUBRITE_FAULT_STRAY)
    FLM::MediaBuffer* out = allocator_->allocate(2, 1, 1);
    std::memcpy(out->lockPayload(), "x", 2);
    out->unlockPayload();
    out->payloadSize = 2;
    out->passThrough[0] = buffer->passThrough[0] + 1;
    out->passThrough[1] = buffer->passThrough[1];
    FLM::TypedValue value{};
    value.type = FLM::TypeObject;
    value.payload.object = out;
    downstream_->streamMessage(FLM::MsgSample, &value);
    buffer->release();
#elif defined(SUBRITE_FAULT_NUL)
    const auto* line = static_cast<const char*>(buffer->lockPayload());
    const std::uint32_t size = buffer->payloadSize;
    FLM::MediaBuffer* out = allocator_->allocate(size + 1, 1, 1);
    auto* payload = static_cast<char*>(out->lockPayload());
    std::memcpy(payload, line, size);
    payload[size] = '\0';
    buffer->unlockPayload();
    out->unlockPayload();
    // The fault: a line with a NUL in it claims a byte it does not have.
    out->payloadSize = size + (std::memchr(payload, '\0', size) == nullptr ? 1 : 2);
    out->passThrough[0] = buffer->passThrough[0];
    out->passThrough[1] = buffer->passThrough[1];
    out->streamParams[0] = streamParams_[0];
    out->streamParams[1] = streamParams_[1];
    FLM::TypedValue value{};
    value.type = FLM::TypeObject;
    value.payload.object = out;
    downstream_->streamMessage(FLM::MsgSample, &value);
    buffer->release();
#else
    (void)buffer;  // kept for ever: the leak
#endif
  }

  Input input_;
  Output output_;
  FLM::MediaBuffer* format_ = nullptr;
  FLM::PortInterface* downstream_ = nullptr;
  FLM::SampleAllocator* allocator_ = nullptr;
  std::uint32_t streamParams_[2] = {0, 0};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t _getPlugin(FLM::PluginHost* host,
                                                                          FLM::Plugin** out) {
#if defined(SUBRITE_FAULT_NULL)
  (void)host;
  *out = nullptr;
#else
  *out = new Faulty(host);
#endif
  return 0;
}
