#pragma once

#include <cstdint>

namespace tv2 {

// One link of a CTList. The item never owns its object.
template <typename T>
struct CTListItem {
  T* object = nullptr;
  CTListItem* next = nullptr;
};

// Singly linked list with a head and a count, used for processors, caches and
// counters. Destroying the list frees its items only; owners of the objects call
// DeleteAll first. Not thread-safe: lists change only while no sampler walks
// them (a counter rebuild holds the processor's counter lock exclusively).
template <typename T>
class CTList {
 public:
  CTList() = default;
  CTList(const CTList&) = delete;
  CTList& operator=(const CTList&) = delete;
  CTList(CTList&& other) noexcept : head(other.head), count(other.count) {
    other.head = nullptr;
    other.count = 0;
  }
  CTList& operator=(CTList&& other) noexcept {
    if (this != &other) {
      RemoveAll();
      head = other.head;
      count = other.count;
      other.head = nullptr;
      other.count = 0;
    }
    return *this;
  }
  virtual ~CTList() { RemoveAll(); }

  // Links the object at the tail and returns its item.
  CTListItem<T>* Append(T* object) {
    auto* item = new CTListItem<T>{object, nullptr};
    if (head == nullptr) {
      head = item;
    } else {
      CTListItem<T>* last = head;
      while (last->next != nullptr) last = last->next;
      last->next = item;
    }
    ++count;
    return item;
  }

  // Deletes every object, then every item.
  void DeleteAll() {
    for (CTListItem<T>* item = head; item != nullptr; item = item->next) {
      delete item->object;
      item->object = nullptr;
    }
    RemoveAll();
  }

  // Unlinks and frees every item; the objects stay alive.
  void RemoveAll() {
    CTListItem<T>* item = head;
    while (item != nullptr) {
      CTListItem<T>* next = item->next;
      delete item;
      item = next;
    }
    head = nullptr;
    count = 0;
  }

  // The object at position i, or null past the end.
  T* At(int32_t i) const {
    CTListItem<T>* item = head;
    while (item != nullptr && i-- > 0) item = item->next;
    return item != nullptr ? item->object : nullptr;
  }

  // Range-for over the objects.
  class Iterator {
   public:
    explicit Iterator(CTListItem<T>* item) : m_item(item) {}
    T* operator*() const { return m_item->object; }
    Iterator& operator++() {
      m_item = m_item->next;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return m_item != other.m_item; }

   private:
    CTListItem<T>* m_item;
  };
  Iterator begin() const { return Iterator(head); }
  Iterator end() const { return Iterator(nullptr); }

  CTListItem<T>* head = nullptr;
  int32_t count = 0;
};

}  // namespace tv2
