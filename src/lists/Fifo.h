// A first-in first-out queue over one vector: items leave from the front by
// moving a head index, and the vector is emptied (its memory kept) once all
// have left (or half, when some stay). std::deque allocates a node per item this large (a record
// each), on the list thread's path for every record.
#ifndef TESSEL_LISTS_FIFO_H
#define TESSEL_LISTS_FIFO_H

#include <cstddef>
#include <utility>
#include <vector>

namespace tessel {

template <typename T>
class Fifo {
 public:
  typedef typename std::vector<T>::iterator iterator;
  typedef typename std::vector<T>::const_iterator const_iterator;

  bool empty() const { return head_ == items_.size(); }
  std::size_t size() const { return items_.size() - head_; }
  T& front() { return items_[head_]; }
  const T& front() const { return items_[head_]; }
  void push_back(T item) { items_.push_back(std::move(item)); }
  void pop_front() {
    ++head_;
    if (head_ == items_.size()) {
      items_.clear();
      head_ = 0;
    } else if (head_ >= kCompactAfter && 2 * head_ >= items_.size()) {
      // Items held behind one that waits must not keep the left ones' memory.
      items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }

  iterator begin() { return items_.begin() + static_cast<std::ptrdiff_t>(head_); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin() + static_cast<std::ptrdiff_t>(head_); }
  const_iterator end() const { return items_.end(); }

 private:
  static constexpr std::size_t kCompactAfter = 64;
  std::vector<T> items_;
  std::size_t head_ = 0;
};

}  // namespace tessel

#endif
