#include "hostkit/ledger.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace hostkit {
namespace {

// Released buffers kept unreused, so that a late second release is caught.
constexpr std::size_t kQuarantine = 256;
// A word the module must overwrite in an output sample.
constexpr std::uint32_t kMarker = 0xCCCCCCCCu;

const char* holderName(Holder holder) {
  switch (holder) {
    case Holder::Host:
      return "the host";
    case Holder::Component:
      return "the component";
    case Holder::Peer:
      return "the downstream peer";
    case Holder::Released:
      return "nobody (already released)";
  }
  return "?";
}

// One page that no access may touch, made once: the payload address of a
// buffer whose payload is empty.
void* untouchablePage() {
  static void* const page = [] {
    void* p = ::mmap(nullptr, static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();  // the accounting cannot be trusted without it
    return p;
  }();
  return page;
}

}  // namespace

// --- Buffer -------------------------------------------------------------

void Buffer::reset(std::uint64_t serial, std::size_t bytes, Holder holder) {
  serial_ = serial;
  // Every maker fills the payload it asked for, so a reused buffer is not
  // cleared first.
  storage_.resize(bytes);
  holder_ = holder;
  hasPayload_ = true;
  lockDepth_ = 0;
  payloadSize = static_cast<std::uint32_t>(bytes);
  std::memset(unknown1, 0, sizeof unknown1);
  std::memset(formatIdentifier, 0, sizeof formatIdentifier);
  formatIdentifierLength = 0;
  std::memset(unknown2, 0, sizeof unknown2);
  streamParams[0] = streamParams[1] = 0;
}

void Buffer::release() { ledger_.noteRelease(*this, Holder::Component); }

void Buffer::releaseAs(Holder holder) { ledger_.noteRelease(*this, holder); }

void Buffer::handTo(Holder holder) {
  std::lock_guard<std::mutex> guard(ledger_.mutex_);
  if (holder_ == Holder::Released) {
    ledger_.problems_.push_back("buffer #" + std::to_string(serial_) +
                                " handed on after its release");
    return;
  }
  holder_ = holder;
}

void* Buffer::lockPayload() {
  ledger_.noteLock(true, *this);
  if (!hasPayload_) return nullptr;
  return storage_.empty() ? untouchablePage() : storage_.data();
}

void Buffer::unlockPayload() { ledger_.noteLock(false, *this); }

std::string_view Buffer::payload() const {
  const std::size_t size = std::min<std::size_t>(payloadSize, storage_.size());
  return std::string_view(storage_.data(), size);
}

// --- Ledger -------------------------------------------------------------

Ledger::Ledger() = default;

Ledger::~Ledger() = default;

Buffer* Ledger::make(std::size_t bytes, Holder holder) {
  std::lock_guard<std::mutex> guard(mutex_);
  Buffer* buffer;
  if (!spare_.empty()) {
    buffer = spare_.back();
    spare_.pop_back();
  } else {
    all_.push_back(std::unique_ptr<Buffer>(new Buffer(*this)));
    buffer = all_.back().get();
  }
  buffer->reset(++counts_.made, bytes, holder);
  ++counts_.live;
  return buffer;
}

Buffer* Ledger::sample(std::string_view bytes, Holder holder) {
  Buffer* buffer = make(bytes.size(), holder);
  if (!bytes.empty()) std::memcpy(buffer->storage_.data(), bytes.data(), bytes.size());
  return buffer;
}

Buffer* Ledger::formatRecord(std::string_view identifier, std::string_view header, Holder holder) {
  Buffer* buffer = sample(header, holder);
  const std::size_t n = std::min(identifier.size(), sizeof buffer->formatIdentifier);
  std::memcpy(buffer->formatIdentifier, identifier.data(), n);
  buffer->formatIdentifierLength = static_cast<std::uint32_t>(identifier.size());
  return buffer;
}

Buffer* Ledger::blank(std::size_t bytes, Holder holder) {
  Buffer* buffer = make(bytes, holder);
  std::memset(buffer->storage_.data(), 0xCC, bytes);
  buffer->passThrough[0] = buffer->passThrough[1] = kMarker;
  buffer->streamParams[0] = buffer->streamParams[1] = kMarker;
  return buffer;
}

void Ledger::noteRelease(Buffer& buffer, Holder by) {
  std::lock_guard<std::mutex> guard(mutex_);
  const Holder holder = buffer.holder_;
  if (holder == Holder::Released) {
    problems_.push_back("buffer #" + std::to_string(buffer.serial_) + " released twice (by " +
                        holderName(by) + ")");
    return;
  }
  if (holder != by) {
    problems_.push_back("buffer #" + std::to_string(buffer.serial_) + " released by " +
                        holderName(by) + " while held by " + holderName(holder));
  }
  if (buffer.lockDepth_ != 0) {
    problems_.push_back("buffer #" + std::to_string(buffer.serial_) +
                        " released with its payload locked");
  }
  buffer.holder_ = Holder::Released;
  --counts_.live;
  ++counts_.released;
  quarantine_.push_back(&buffer);
  if (quarantine_.size() > kQuarantine) {
    spare_.push_back(quarantine_.front());
    quarantine_.pop_front();
  }
}

// A buffer's payload is used by one party at a time, so its depth needs no
// lock; only what is wrong is written down under the mutex.
void Ledger::noteLock(bool locking, Buffer& buffer) {
  if (buffer.holder() == Holder::Released) {
    problem(buffer, locking ? " locked after its release" : " unlocked after its release");
  }
  if (locking) {
    ++buffer.lockDepth_;
    locks_.fetch_add(1, std::memory_order_relaxed);
  } else if (buffer.lockDepth_ == 0) {
    problem(buffer, " unlocked without a lock");
  } else {
    --buffer.lockDepth_;
    unlocks_.fetch_add(1, std::memory_order_relaxed);
  }
}

void Ledger::problem(const Buffer& buffer, const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  problems_.push_back("buffer #" + std::to_string(buffer.serial_) + text);
}

Ledger::Counts Ledger::counts() const {
  std::lock_guard<std::mutex> guard(mutex_);
  Counts counts = counts_;
  counts.locks = locks_.load();
  counts.unlocks = unlocks_.load();
  return counts;
}

std::vector<std::string> Ledger::problems() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return problems_;
}

bool Ledger::clean() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return problems_.empty() && counts_.live == 0 && locks_.load() == unlocks_.load();
}

std::string Ledger::summary() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::ostringstream out;
  out << "made " << counts_.made << ", released " << counts_.released << ", live " << counts_.live
      << ", locks " << locks_.load() << ", unlocks " << unlocks_.load();
  for (const auto& buffer : all_) {
    if (buffer->holder() == Holder::Released) continue;
    out << "\n  buffer #" << buffer->serial_ << " never released (held by "
        << holderName(buffer->holder()) << ")";
  }
  for (const std::string& text : problems_) out << "\n  " << text;
  return out.str();
}

}  // namespace hostkit
