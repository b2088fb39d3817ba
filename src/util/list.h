// List: a doubly linked list of untyped item pointers addressed by position
// (0 at the head). It owns its nodes, never its items; its destructor can
// hand each item to a callback of the caller's choice.
#ifndef UTIL_LIST_H
#define UTIL_LIST_H

#include <cstdint>

struct ListNode {
    void *data;      // the item
    ListNode *next;  // following node, null at the tail
    ListNode *prev;  // preceding node, null at the head
};

// Invariants: head and tail are both null exactly when count is 0;
// following `next` from head visits count nodes and ends at tail, and each
// node's `prev` is the node visited before it. A node stays where it is
// until it is removed, so node pointers survive other insertions.
struct List {
    ListNode *head;   // first node, null when empty
    ListNode *tail;   // last node, null when empty
    uint64_t count;   // nodes in the list
};

// Called by list_destroy with each item, head to tail.
typedef void (*ListItemCallback)(void *item);

// A new empty list, or null when the allocation fails.
List *list_create(void);

// Walks from the head, handing each item to `callback` (when not null) and
// releasing its node, then releases the record. Null does nothing.
void list_destroy(List *list, ListItemCallback callback);

// The node at position `index`, reached by walking from the head; null for
// a null list or an index >= count.
ListNode *list_node_at(const List *list, uint64_t index);

// Adds `item` after the tail. 0 on success; -1 for a null list or a failed
// allocation (the list is then unchanged).
int list_append(List *list, void *item);

// Places `item` at position `index` (0 .. count; count appends), in front
// of the node that was there. 0 on success; -1 for a null list, an index
// beyond count or a failed allocation (the list is then unchanged).
int list_insert_at(List *list, void *item, uint64_t index);

// Unlinks the node at `index`, releases it and returns its item; null (and
// no change) for a null list or an index >= count.
void *list_remove_at(List *list, uint64_t index);

#endif
