// A lock for what many workers read at once and seldom change (the irradiance cache): each reader has a
// slot of its own, a mutex on its own cache line, so that readers neither wait for nor disturb each
// other; a writer takes every slot, in order. A reader holds its slot for one lookup, a writer all of
// them for one insert, both a microsecond or so: a slot that is taken is asked for again for a while
// before the thread sleeps, since going to sleep and being woken costs far more than the wait.
#pragma once

#include <memory>
#include <mutex>

namespace quorva {

class ReadMostlyLock {
  public:
    ReadMostlyLock() : slots_(std::make_unique<Slot[]>(1)) {}

    // The number of reader slots; only while nobody holds the lock.
    void setReaders(int count) {
        count_ = count > 1 ? count : 1;
        slots_ = std::make_unique<Slot[]>(static_cast<std::size_t>(count_));
    }
    int readers() const { return count_; }

    void lockShared(int slot) { slots_[index(slot)].lock(); }
    void unlockShared(int slot) { slots_[index(slot)].mutex.unlock(); }
    // Exclusive: every slot.
    void lock() {
        for (int i = 0; i < count_; ++i) slots_[static_cast<std::size_t>(i)].lock();
    }
    void unlock() {
        for (int i = count_; i-- > 0;) slots_[static_cast<std::size_t>(i)].mutex.unlock();
    }

    // Holds reader slot `slot` for its lifetime.
    class Shared {
      public:
        Shared(ReadMostlyLock& lock, int slot) : lock_(lock), slot_(slot) { lock_.lockShared(slot_); }
        ~Shared() { lock_.unlockShared(slot_); }
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;

      private:
        ReadMostlyLock& lock_;
        int slot_;
    };

  private:
    struct alignas(64) Slot {
        std::mutex mutex;
        void lock() {
            for (int spin = 0; spin < 1024; ++spin) {
                if (mutex.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
            mutex.lock();
        }
    };
    std::size_t index(int slot) const { return static_cast<std::size_t>(slot >= 0 && slot < count_ ? slot : 0); }
    std::unique_ptr<Slot[]> slots_;
    int count_ = 1;
};

}  // namespace quorva
