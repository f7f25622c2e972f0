#include "cli/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace qvd::cli {
namespace {

constexpr int kSlots = 16;
constexpr std::size_t kLongestPath = 4096;

struct Slot {
  std::atomic<bool> used{false};
  char path[kLongestPath + 1] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free);

Slot g_slots[kSlots];

#ifdef _WIN32
constexpr int kSignals[] = {SIGINT, SIGTERM};
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

extern "C" void on_signal(int signal) {
  for (Slot &slot : g_slots)
    if (slot.used.load(std::memory_order_acquire)) {
#ifdef _WIN32
      _unlink(slot.path);
#else
      unlink(slot.path);
#endif
    }
  _exit(128 + signal);
}

#ifndef _WIN32
sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  return set;
}
#endif

}  // namespace

void remove_temporaries_on_signals() {
#ifdef _WIN32
  for (int s : kSignals) std::signal(s, on_signal);
#else
  struct sigaction action {};
  action.sa_handler = on_signal;
  action.sa_mask = handled_signals();  // one handler at a time
  for (int s : kSignals) sigaction(s, &action, nullptr);
#endif
}

// Entries are made by the main thread only; the handler may read them on
// any thread, once `used` says the path is whole.
TemporaryEntry::TemporaryEntry(const std::string &path) : slot_(-1) {
  if (path.size() > kLongestPath) throw std::length_error(path + ": the path is too long");
  for (int s = 0; s < kSlots && slot_ < 0; ++s)
    if (!g_slots[s].used.load(std::memory_order_relaxed)) slot_ = s;
  if (slot_ < 0) throw std::length_error("too many temporary files at once");
  std::memcpy(g_slots[slot_].path, path.c_str(), path.size() + 1);
  g_slots[slot_].used.store(true, std::memory_order_release);
}

TemporaryEntry::TemporaryEntry(TemporaryEntry &&other) noexcept : slot_(other.slot_) {
  other.slot_ = -1;
}

TemporaryEntry::~TemporaryEntry() {
  if (slot_ >= 0) g_slots[slot_].used.store(false, std::memory_order_release);
}

#ifdef _WIN32
SignalsHeld::SignalsHeld() = default;
SignalsHeld::~SignalsHeld() = default;
#else
SignalsHeld::SignalsHeld() {
  const sigset_t set = handled_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalsHeld::~SignalsHeld() {
  const sigset_t set = handled_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
#endif

}  // namespace qvd::cli
