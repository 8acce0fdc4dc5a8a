#pragma once

#include <cstdint>

namespace quorix {

// A circular doubly-linked list with a movable head. The head is not a fixed start: walks
// leave it on the node they stopped at, which is how the handle registry finds a handle that was
// used a moment ago in one step. The ring owns its nodes (not what the entries point to).
template <typename T>
class CTRing {
public:
    struct Node {
        T data;
        Node* previous = nullptr;
        Node* next = nullptr;
    };

    CTRing() = default;
    CTRing(const CTRing&) = delete;
    CTRing& operator=(const CTRing&) = delete;

    virtual ~CTRing() {
        while (m_head != nullptr) {
            UnlinkHead();
        }
    }

    // Copies the entry into a new node linked in just before the head; the new node becomes the
    // head. Not locked: the owner serialises changes to the ring.
    virtual void Insert(const T& entry) {
        Node* node = new Node{entry};
        if (m_head == nullptr) {
            node->previous = node;
            node->next = node;
            m_count = 1;
        } else {
            node->next = m_head;
            node->previous = m_head->previous;
            m_head->previous->next = node;
            m_head->previous = node;
            ++m_count;
        }
        m_head = node;
    }

    int32_t Count() const { return m_count; }
    bool IsEmpty() const { return m_head == nullptr; }
    Node* Head() const { return m_head; }

protected:
    // Frees the head node; the head moves on to the following node.
    void UnlinkHead() {
        Node* node = m_head;
        if (node->next == node) {
            m_head = nullptr;
            m_count = 0;
        } else {
            node->previous->next = node->next;
            node->next->previous = node->previous;
            m_head = node->next;
            --m_count;
        }
        delete node;
    }

    Node* m_head = nullptr;
    int32_t m_count = 0;
};

}  // namespace quorix
