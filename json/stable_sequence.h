// A sequence whose elements never move while others are appended: they lie
// in blocks that are never reallocated. The first block holds what the first
// Reserve asked for (the reader knows each container's size) or four; each
// further block is as large as all before it together, so there are few
// blocks and an append costs amortised constant time. A reference to an
// element stays good while others are appended; an insertion before it, or
// Clear, moves or ends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace json {

template <typename T>
class StableSequence {
 public:
  template <bool kConst>
  class Iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<kConst, const T*, T*>;
    using reference = std::conditional_t<kConst, const T&, T&>;

    Iterator() = default;
    template <bool kOther, typename = std::enable_if_t<kConst && !kOther>>
    Iterator(const Iterator<kOther>& other)  // NOLINT: iterator to const_iterator, as the containers do
        : m_owner(other.m_owner), m_index(other.m_index), m_at(other.m_at), m_blockEnd(other.m_blockEnd) {}

    reference operator*() const { return *m_at; }
    pointer operator->() const { return m_at; }
    reference operator[](difference_type n) const { return *(*this + n); }

    Iterator& operator++() {
      ++m_index;
      if (++m_at == m_blockEnd) Seek();
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    Iterator& operator--() { return *this -= 1; }
    Iterator operator--(int) {
      Iterator before = *this;
      --*this;
      return before;
    }
    Iterator& operator+=(difference_type n) {
      m_index = static_cast<size_t>(static_cast<difference_type>(m_index) + n);
      Seek();
      return *this;
    }
    Iterator& operator-=(difference_type n) { return *this += -n; }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) {
      return static_cast<difference_type>(a.m_index) - static_cast<difference_type>(b.m_index);
    }
    // Positions, not addresses, are compared: the end of one block may be
    // the address where another begins.
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_index == b.m_index; }
    friend bool operator!=(const Iterator& a, const Iterator& b) { return a.m_index != b.m_index; }
    friend bool operator<(const Iterator& a, const Iterator& b) { return a.m_index < b.m_index; }
    friend bool operator>(const Iterator& a, const Iterator& b) { return a.m_index > b.m_index; }
    friend bool operator<=(const Iterator& a, const Iterator& b) { return a.m_index <= b.m_index; }
    friend bool operator>=(const Iterator& a, const Iterator& b) { return a.m_index >= b.m_index; }

    size_t index() const { return m_index; }

   private:
    friend class StableSequence;
    template <bool>
    friend class Iterator;
    Iterator(const StableSequence* owner, size_t index) : m_owner(owner), m_index(index) { Seek(); }
    void Seek() { m_at = m_owner->Locate(m_index, &m_blockEnd); }

    const StableSequence* m_owner = nullptr;
    size_t m_index = 0;
    T* m_at = nullptr;        // the element at m_index, or null past the last block
    T* m_blockEnd = nullptr;  // the end of its block
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  StableSequence() = default;
  StableSequence(const StableSequence& other) {
    try {
      Reserve(other.m_size);
      for (const T& value : other) {
        new (Slot()) T(value);
        ++m_size;
      }
    } catch (...) {
      Clear();
      throw;
    }
  }
  StableSequence& operator=(const StableSequence&) = delete;
  ~StableSequence() { Clear(); }

  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  iterator begin() { return iterator(this, 0); }
  iterator end() { return iterator(this, m_size); }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, m_size); }

  bool operator==(const StableSequence& other) const {
    if (m_size != other.m_size) return false;
    const_iterator a = begin(), b = other.begin();
    for (; a != end(); ++a, ++b) {
      if (!(*a == *b)) return false;
    }
    return true;
  }

  // Sizes the first block; a hint only, ignored once there is one.
  void Reserve(size_t count) {
    if (m_first == nullptr && count > 0) {
      m_first = Allocate(count);
      m_firstCapacity = count;
    }
  }

  // The position of the first element that match holds for, or size().
  template <typename Match>
  size_t FindIf(Match match) const {
    size_t index = 0;
    for (size_t block = 0; index < m_size; ++block) {
      const T* data = block == 0 ? m_first : (*m_more)[block - 1].data;
      const size_t capacity = block == 0 ? m_firstCapacity : (*m_more)[block - 1].capacity;
      for (const T* at = data; at < data + capacity && index < m_size; ++at, ++index) {
        if (match(*at)) return index;
      }
    }
    return index;
  }

  // Throws (and changes nothing) when there is no memory for a new block.
  T& PushBack(T&& value) {
    T* slot = m_size < m_firstCapacity ? m_first + m_size : Slot();
    new (slot) T(std::move(value));
    ++m_size;
    return *slot;
  }

  // Moves the elements from position on one place further; value must not
  // be one of them.
  iterator Insert(const_iterator position, T&& value) {
    const size_t at = position.index();
    if (at == m_size) {
      PushBack(std::move(value));
      return iterator(this, at);
    }
    iterator last(this, m_size - 1);
    PushBack(std::move(*last));
    for (iterator to = last; to.index() > at; --to) *to = std::move(*(to - 1));
    iterator inserted(this, at);
    *inserted = std::move(value);
    return inserted;
  }

  void Clear() noexcept {
    size_t left = m_size;
    auto destroy = [&left](T* data, size_t capacity) {
      for (size_t i = 0; i < capacity && left > 0; ++i, --left) data[i].~T();
      ::operator delete(static_cast<void*>(data));
    };
    if (m_first != nullptr) destroy(m_first, m_firstCapacity);
    if (m_more) {
      for (const Block& block : *m_more) destroy(block.data, block.capacity);
    }
    m_first = nullptr;
    m_firstCapacity = 0;
    m_size = 0;
    m_more.reset();
  }

 private:
  static constexpr size_t kFirstBlock = 4;

  struct Block {
    T* data;
    size_t start;  // the index of its first element
    size_t capacity;
  };

  static T* Allocate(size_t count) {
    if (count > static_cast<size_t>(PTRDIFF_MAX) / sizeof(T))
      throw std::length_error("json container too large");
    return static_cast<T*>(::operator new(count * sizeof(T)));
  }

  size_t Capacity() const {
    return m_more && !m_more->empty() ? m_more->back().start + m_more->back().capacity : m_firstCapacity;
  }

  // The element at index and the end of its block; null past the last block.
  T* Locate(size_t index, T** blockEnd) const {
    if (index < m_firstCapacity) {
      *blockEnd = m_first + m_firstCapacity;
      return m_first + index;
    }
    if (m_more) {
      for (const Block& block : *m_more) {
        if (index < block.start + block.capacity) {
          *blockEnd = block.data + block.capacity;
          return block.data + (index - block.start);
        }
      }
    }
    *blockEnd = nullptr;
    return nullptr;
  }

  // Room for the element at m_size, in a new block when the last is full.
  T* Slot() {
    const size_t capacity = Capacity();
    T* end = nullptr;
    if (m_size < capacity) return Locate(m_size, &end);
    if (m_first == nullptr) {
      Reserve(kFirstBlock);
      return m_first;
    }
    if (!m_more) m_more = std::make_unique<std::vector<Block>>();
    m_more->reserve(m_more->size() + 1);  // so that adding the block cannot throw
    T* data = Allocate(capacity);
    m_more->push_back(Block{data, capacity, capacity});
    return data;
  }

  T* m_first = nullptr;
  size_t m_firstCapacity = 0;
  size_t m_size = 0;
  // The blocks after the first; most sequences have none.
  std::unique_ptr<std::vector<Block>> m_more;
};

}  // namespace json
