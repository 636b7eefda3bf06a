#include "hostkit/ledger.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace hostkit {
namespace {

// How many unreleased buffers, and how many problems, a summary names.
constexpr std::size_t kSummaryLines = 10;

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
  // cleared first; its storage grows as a vector's would.
  if (bytes > room_) {
    room_ = std::max(bytes, 2 * room_);
    storage_.reset(new char[room_]);
  }
  size_ = bytes;
  holder_.store(holder, std::memory_order_relaxed);
  setHasPayload(true);
  lockDepth_ = 0;
  payloadSize = static_cast<std::uint32_t>(bytes);
  std::memset(unknown1, 0, sizeof unknown1);
  std::memset(formatIdentifier, 0, sizeof formatIdentifier);
  formatIdentifierLength = 0;
  std::memset(unknown2, 0, sizeof unknown2);
  streamParams[0] = streamParams[1] = 0;
}

void Buffer::setHasPayload(bool has) {
  if (!has) {
    lockedAddress_ = nullptr;
  } else {
    lockedAddress_ = size_ == 0 ? untouchablePage() : storage_.get();
  }
}

void Buffer::release() {
  ledger_.noteRelease(*this, Holder::Component);
  if (ledger_.onModuleCall) ledger_.onModuleCall(*this, Ledger::Call::Release);
}

// A buffer's payload is used by one party at a time, so its depth needs no
// lock; only what is wrong is written down, under the mutex.
void* Buffer::lockPayload() {
  if (!ledger_.admits()) return nullptr;
  if (holder() == Holder::Released) ledger_.problem(*this, " locked after its release");
  ++lockDepth_;
  ledger_.countCall(ledger_.locks_);
  if (ledger_.onModuleCall) {
    try {
      ledger_.onModuleCall(*this, Ledger::Call::Lock);
    } catch (...) {
      // A lock that throws has not locked: the module will not unlock it.
      --lockDepth_;
      ledger_.uncountCall(ledger_.locks_);
      throw;
    }
  }
  return lockedAddress_;
}

void Buffer::unlockPayload() {
  if (!ledger_.admits()) return;
  if (holder() == Holder::Released) ledger_.problem(*this, " unlocked after its release");
  if (lockDepth_ == 0) {
    ledger_.problem(*this, " unlocked without a lock");
    return;
  }
  --lockDepth_;
  ledger_.countCall(ledger_.unlocks_);
  if (ledger_.onModuleCall) ledger_.onModuleCall(*this, Ledger::Call::Unlock);
}

// --- Ledger -------------------------------------------------------------

thread_local const char Ledger::threadMark = 0;

Ledger::Ledger(LedgerThreads threads) : threads_(threads), owner_(&threadMark) {}

Ledger::~Ledger() = default;

Buffer* Ledger::make(std::size_t bytes, Holder holder) {
  if (!admits()) return nullptr;
  return guarded([&] {
    Buffer* buffer;
    if (!spare_.empty()) {
      buffer = spare_.back();
      spare_.pop_back();
    } else {
      buffer = addBuffer();
    }
    buffer->reset(++counts_.made, bytes, holder);
    ++counts_.live;
    return buffer;
  });
}

Buffer* Ledger::addBuffer() {
  // Room for every buffer in spare_ first (see there), grown as a vector
  // grows: a plug-in that keeps its buffers has one made for every line.
  if (spare_.capacity() <= all_.size()) spare_.reserve(2 * all_.size() + 1);
  all_.push_back(std::unique_ptr<Buffer>(new Buffer(*this)));
  return all_.back().get();
}

Buffer* Ledger::sample(std::string_view bytes, Holder holder) {
  Buffer* buffer = make(bytes.size(), holder);
  if (buffer != nullptr && !bytes.empty()) {
    std::memcpy(buffer->storage_.get(), bytes.data(), bytes.size());
  }
  return buffer;
}

Buffer* Ledger::formatRecord(std::string_view identifier, std::string_view header, Holder holder) {
  Buffer* buffer = sample(header, holder);
  if (buffer == nullptr) return nullptr;
  const std::size_t n = std::min(identifier.size(), sizeof buffer->formatIdentifier);
  std::memcpy(buffer->formatIdentifier, identifier.data(), n);
  buffer->formatIdentifierLength = static_cast<std::uint32_t>(identifier.size());
  return buffer;
}

Buffer* Ledger::blank(std::size_t bytes, Holder holder) {
  Buffer* buffer = make(bytes, holder);
  if (buffer == nullptr) return nullptr;
  std::memset(buffer->storage_.get(), 0xCC, bytes);
  buffer->passThrough[0] = buffer->passThrough[1] = kMarker;
  buffer->streamParams[0] = buffer->streamParams[1] = kMarker;
  return buffer;
}

void Ledger::noteHandOver(Buffer& buffer, Holder to) {
  if (!admits()) return;
  guarded([&] {
    if (buffer.holder() == Holder::Released) return reportHandOver(buffer);
    buffer.holder_.store(to, std::memory_order_relaxed);
  });
}

void Ledger::noteRelease(Buffer& buffer, Holder by) {
  if (!admits()) return;
  guarded([&] {
    const Holder holder = buffer.holder();
    if (holder != by || buffer.lockDepth_ != 0) reportRelease(buffer, by);
    if (holder == Holder::Released) return;
    buffer.holder_.store(Holder::Released, std::memory_order_relaxed);
    --counts_.live;
    ++counts_.released;
    // Into the quarantine; when it is full, its oldest buffer may be reused.
    if (quarantined_ == kQuarantine) {
      spare_.push_back(quarantine_[quarantineStart_]);
      quarantine_[quarantineStart_] = &buffer;
      quarantineStart_ = (quarantineStart_ + 1) % kQuarantine;
    } else {
      quarantine_[(quarantineStart_ + quarantined_) % kQuarantine] = &buffer;
      ++quarantined_;
    }
  });
}

void Ledger::reportHandOver(const Buffer& buffer) {
  problems_.push_back("buffer #" + std::to_string(buffer.serial_) + " handed on after its release");
}

void Ledger::reportRelease(const Buffer& buffer, Holder by) {
  const std::string name = "buffer #" + std::to_string(buffer.serial_);
  const Holder holder = buffer.holder();
  if (holder == Holder::Released) {
    problems_.push_back(name + " released twice (by " + holderName(by) + ")");
    return;
  }
  if (holder != by) {
    problems_.push_back(name + " released by " + holderName(by) + " while held by " +
                        holderName(holder));
  }
  if (buffer.lockDepth_ != 0) problems_.push_back(name + " released with its payload locked");
}

void Ledger::problem(const Buffer& buffer, const char* text) {
  guarded([&] { problems_.push_back("buffer #" + std::to_string(buffer.serial_) + text); });
}

std::vector<std::string> Ledger::problemsHeld() const {
  std::vector<std::string> all = problems_;
  if (const std::uint64_t foreign = foreignCalls_.load(); foreign != 0) {
    all.push_back(std::to_string(foreign) +
                  " buffer calls from a thread other than the ledger's own, refused");
  }
  return all;
}

Ledger::Counts Ledger::counts() const {
  return guarded([this] {
    Counts counts = counts_;
    counts.locks = locks_.load();
    counts.unlocks = unlocks_.load();
    return counts;
  });
}

std::vector<std::string> Ledger::problems() const {
  return guarded([this] { return problemsHeld(); });
}

bool Ledger::clean() const {
  return guarded([this] {
    return problems_.empty() && foreignCalls_.load() == 0 && counts_.live == 0 &&
           locks_.load() == unlocks_.load();
  });
}

std::vector<std::string> Ledger::summaryLines() const {
  return guarded([this] {
    std::vector<std::string> lines{
        "made " + std::to_string(counts_.made) + ", released " + std::to_string(counts_.released) +
        ", live " + std::to_string(counts_.live) + ", locks " + std::to_string(locks_.load()) +
        ", unlocks " + std::to_string(unlocks_.load())};
    // A plug-in that keeps every sample leaves as many buffers as lines: the
    // first few tell what happened.
    const auto more = [&lines](std::size_t all, const char* what) {
      if (all > kSummaryLines) {
        lines.push_back("... and " + std::to_string(all - kSummaryLines) + " more " + what);
      }
    };
    std::size_t unreleased = 0;
    for (const auto& buffer : all_) {
      if (buffer->holder() == Holder::Released || ++unreleased > kSummaryLines) continue;
      lines.push_back("buffer #" + std::to_string(buffer->serial_) + " never released (held by " +
                      holderName(buffer->holder()) + ")");
    }
    more(unreleased, "never released");
    const std::vector<std::string> problems = problemsHeld();
    for (std::size_t i = 0; i < problems.size() && i < kSummaryLines; ++i) {
      lines.push_back(problems[i]);
    }
    more(problems.size(), "problems");
    return lines;
  });
}

std::string Ledger::summary() const {
  const std::vector<std::string> lines = summaryLines();
  std::string text = lines.front();
  for (std::size_t i = 1; i < lines.size(); ++i) text += "\n  " + lines[i];
  return text;
}

}  // namespace hostkit
