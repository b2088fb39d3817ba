// List: node allocation, linking and unlinking by position.
#include "util/list.h"

#include "util/alloc.h"

List *list_create(void) {
    List *list = static_cast<List *>(engine_malloc(sizeof(List)));
    if (!list) return nullptr;
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    return list;
}

void list_destroy(List *list, ListItemCallback callback) {
    if (!list) return;
    ListNode *node = list->head;
    while (node) {
        ListNode *next = node->next;
        if (callback) callback(node->data);
        engine_free(node);
        node = next;
    }
    engine_free(list);
}

ListNode *list_node_at(const List *list, uint64_t index) {
    if (!list || index > list->count) return nullptr;
    ListNode *node = list->head;
    // index == count walks off the tail and ends at null.
    for (uint64_t i = 0; i < index; i++) node = node->next;
    return node;
}

static ListNode *list_new_node(void *item) {
    ListNode *node = static_cast<ListNode *>(engine_malloc(sizeof(ListNode)));
    if (!node) return nullptr;
    node->data = item;
    node->next = nullptr;
    node->prev = nullptr;
    return node;
}

int list_append(List *list, void *item) {
    if (!list) return -1;
    ListNode *node = list_new_node(item);
    if (!node) return -1;
    node->prev = list->tail;
    if (list->tail)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    list->count++;
    return 0;
}

int list_insert_at(List *list, void *item, uint64_t index) {
    if (!list) return -1;
    if (index == list->count) return list_append(list, item);
    ListNode *at = list_node_at(list, index);
    if (!at) return -1;
    ListNode *node = list_new_node(item);
    if (!node) return -1;
    node->prev = at->prev;
    node->next = at;
    if (at->prev)
        at->prev->next = node;
    else
        list->head = node;
    at->prev = node;
    list->count++;
    return 0;
}

void *list_remove_at(List *list, uint64_t index) {
    ListNode *node = list_node_at(list, index);
    if (!node) return nullptr;
    if (node->prev)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    void *item = node->data;
    engine_free(node);
    list->count--;
    return item;
}
