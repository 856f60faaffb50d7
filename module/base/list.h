#ifndef VOK_BASE_LIST_H
#define VOK_BASE_LIST_H

#include <new>

// Doubly linked list with a sentinel node. It owns its nodes, never what a
// pointer element points to: whoever fills a list of pointers deletes the
// objects themselves.
template <typename T> class CList
{
  public:
    struct NodeBase {
        NodeBase *prev;
        NodeBase *next;
        NodeBase() : prev(nullptr), next(nullptr) {}
    };

    struct Node : NodeBase {
        T value;
        explicit Node(T const &v) : NodeBase(), value(v) {}
    };

    class Iterator
    {
      public:
        Iterator() : m_node(nullptr) {}
        Iterator(NodeBase *node) : m_node(node) {}
        Iterator &operator++()
        {
            m_node = m_node->next;
            return *this;
        }
        T &operator*() const { return static_cast<Node *>(m_node)->value; }
        T *operator->() const { return &static_cast<Node *>(m_node)->value; }
        bool operator==(Iterator const &other) const { return m_node == other.m_node; }
        bool operator!=(Iterator const &other) const { return m_node != other.m_node; }
        NodeBase *node() const { return m_node; }

      private:
        NodeBase *m_node;
    };

    CList() : m_head(&m_sentinel), m_count(0) {}
    ~CList() { Clear(); }

    // Copying would share nodes between two lists.
    CList(CList const &) = delete;
    CList &operator=(CList const &) = delete;

    Iterator begin() const { return Iterator(m_head); }
    Iterator end() const { return Iterator(const_cast<NodeBase *>(&m_sentinel)); }
    unsigned int Count() const { return m_count; }

    void PushBack(T const &v)
    {
        Node *node = new (std::nothrow) Node(v);
        if (node == nullptr)
            return;
        NodeBase *last = m_sentinel.prev;
        node->prev = last;
        node->next = &m_sentinel;
        if (last != nullptr)
            last->next = node;
        else
            m_head = node;
        m_sentinel.prev = node;
        ++m_count;
    }

    void Erase(Iterator const &it)
    {
        NodeBase *node = it.node();
        if (node == nullptr || node == &m_sentinel)
            return;
        node->next->prev = node->prev;
        if (node->prev != nullptr)
            node->prev->next = node->next;
        if (m_head == node)
            m_head = node->next;
        --m_count;
        delete static_cast<Node *>(node);
    }

    void Clear()
    {
        while (m_head != &m_sentinel) {
            NodeBase *node = m_head;
            m_head = node->next;
            m_head->prev = nullptr;
            delete static_cast<Node *>(node);
        }
        m_count = 0;
    }

  private:
    NodeBase *m_head;
    NodeBase m_sentinel;
    unsigned int m_count;
};

#endif
