// Circular, doubly linked list with one sentinel node: the queue type of the
// whole pipeline. It holds no lock; every owner pairs it with a
// CTeskCriticalSection and holds that for every access, the count included.
// It never owns what pointer elements point to: clearing frees nodes only.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

template <typename T>
class TVornList {
 public:
  struct MyNode {
    MyNode *prev;
    T value;
    MyNode *next;
  };

  TVornList() : m_head(static_cast<MyNode *>(::operator new(sizeof(MyNode)))), m_count(0) {
    // The sentinel's value is never constructed or read.
    m_head->prev = m_head;
    m_head->next = m_head;
  }
  ~TVornList() {
    Clear();
    ::operator delete(m_head);
  }
  TVornList(const TVornList &) = delete;
  TVornList &operator=(const TVornList &) = delete;

  uint32_t Count() const { return m_count; }
  bool Empty() const { return m_count == 0; }

  // Links a new node in before the sentinel.
  void PushBack(const T &value) {
    MyNode *node = new MyNode{m_head->prev, value, m_head};
    m_head->prev->next = node;
    m_head->prev = node;
    ++m_count;
  }

  // Valid only when Count() > 0.
  T &Front() { return m_head->next->value; }
  const T &Front() const { return m_head->next->value; }
  T &Back() { return m_head->prev->value; }

  // Removes the front node; no effect on an empty list.
  void PopFront() {
    if (m_count != 0) Unlink(m_head->next);
  }

  // Walking: for (auto *n = list.First(); n != list.End(); ) { ... n = list.Unlink(n); or n =
  // n->next; }
  MyNode *First() const { return m_head->next; }
  MyNode *End() const { return m_head; }
  // Unlinks and frees a node of this list; returns the node that followed it.
  MyNode *Unlink(MyNode *node) {
    MyNode *next = node->next;
    node->prev->next = next;
    next->prev = node->prev;
    delete node;
    --m_count;
    return next;
  }

  // Removes every node whose value satisfies pred; returns how many.
  template <typename Pred>
  uint32_t RemoveIf(Pred pred) {
    uint32_t removed = 0;
    for (MyNode *n = First(); n != End();) {
      if (pred(n->value)) {
        n = Unlink(n);
        ++removed;
      } else {
        n = n->next;
      }
    }
    return removed;
  }

  void Clear() {
    while (m_count != 0) PopFront();
  }

  // The sentinel, for invariant checks.
  const MyNode *Sentinel() const { return m_head; }

 private:
  MyNode *m_head;
  uint32_t m_count;
};
