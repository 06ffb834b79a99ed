#pragma once

#include <atomic>

namespace tv2 {

// A value that one thread writes while another reads it, where only the value
// itself matters and no ordering with other memory is needed (a counter's
// figures, a history slot). Reads and writes are relaxed atomics, so they never
// tear and never count as a data race, and cost what a plain access costs on
// x86-64.
template <typename T>
class Relaxed {
 public:
  constexpr Relaxed() = default;
  constexpr Relaxed(T value) : m_value(value) {}  // NOLINT: implicit on purpose
  Relaxed(const Relaxed& other) : m_value(other.load()) {}
  Relaxed& operator=(const Relaxed& other) {
    store(other.load());
    return *this;
  }
  Relaxed& operator=(T value) {
    store(value);
    return *this;
  }
  operator T() const { return load(); }  // NOLINT: implicit on purpose

  T load() const { return m_value.load(std::memory_order_relaxed); }
  void store(T value) { m_value.store(value, std::memory_order_relaxed); }
  // For an index or count that announces other data written before it: a
  // reader that sees the announced value with acquire() sees that data too.
  void publish(T value) { m_value.store(value, std::memory_order_release); }
  T acquire() const { return m_value.load(std::memory_order_acquire); }

 private:
  std::atomic<T> m_value{};
};

}  // namespace tv2
