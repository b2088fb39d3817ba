// List: insertion and removal at head, tail and middle with the invariants
// checked after every step, node lookup, the destroy callback order,
// failed allocations, and agreement with std::list.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/util_models.h"
#include "util/list.h"

static void *tag(uintptr_t n) { return reinterpret_cast<void *>(n); }

// Checks every invariant of the list and that it holds exactly `items`,
// walking forward by `next` and back by `prev`.
static void expect_list(const List *list, std::vector<uintptr_t> items) {
    ASSERT_EQ(list->count, items.size());
    EXPECT_EQ(list->head == nullptr, items.empty());
    EXPECT_EQ(list->tail == nullptr, items.empty());
    const ListNode *node = list->head;
    const ListNode *prev = nullptr;
    for (size_t i = 0; i < items.size(); i++) {
        ASSERT_NE(node, nullptr) << "list ends at " << i;
        EXPECT_EQ(node->data, tag(items[i])) << "position " << i;
        EXPECT_EQ(node->prev, prev) << "position " << i;
        prev = node;
        node = node->next;
    }
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(list->tail, prev);
    // Backwards from the tail.
    node = list->tail;
    for (size_t i = items.size(); i-- > 0;) {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->data, tag(items[i]));
        node = node->prev;
    }
    EXPECT_EQ(node, nullptr);
}

TEST(UtilList, InsertAndRemoveAtHeadTailAndMiddle) {
    List *list = list_create();
    ASSERT_NE(list, nullptr);
    expect_list(list, {});
    EXPECT_EQ(list_node_at(list, 0), nullptr);  // any index on an empty list
    EXPECT_EQ(list_node_at(list, 3), nullptr);
    // Position 0 of an empty list is an append: head and tail at once.
    ASSERT_EQ(list_insert_at(list, tag(2), 0), 0);
    expect_list(list, {2});
    ASSERT_EQ(list_insert_at(list, tag(1), 0), 0);  // new head
    expect_list(list, {1, 2});
    ASSERT_EQ(list_insert_at(list, tag(4), 2), 0);  // position count: new tail
    expect_list(list, {1, 2, 4});
    ASSERT_EQ(list_insert_at(list, tag(3), 2), 0);  // middle
    expect_list(list, {1, 2, 3, 4});
    ASSERT_EQ(list_append(list, tag(5)), 0);
    expect_list(list, {1, 2, 3, 4, 5});
    EXPECT_EQ(list_insert_at(list, tag(9), 6), -1);  // beyond count
    expect_list(list, {1, 2, 3, 4, 5});

    for (uint64_t i = 0; i < 5; i++) {
        ListNode *node = list_node_at(list, i);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->data, tag(i + 1));
    }
    EXPECT_EQ(list_node_at(list, 5), nullptr);  // index == count
    EXPECT_EQ(list_node_at(list, 6), nullptr);

    EXPECT_EQ(list_remove_at(list, 5), nullptr);  // position count: nothing
    expect_list(list, {1, 2, 3, 4, 5});
    EXPECT_EQ(list_remove_at(list, 2), tag(3));  // middle
    expect_list(list, {1, 2, 4, 5});
    EXPECT_EQ(list_remove_at(list, 3), tag(5));  // tail: predecessor takes over
    expect_list(list, {1, 2, 4});
    EXPECT_EQ(list_remove_at(list, 0), tag(1));  // head
    expect_list(list, {2, 4});
    EXPECT_EQ(list_remove_at(list, 1), tag(4));
    EXPECT_EQ(list_remove_at(list, 0), tag(2));  // the only node
    expect_list(list, {});
    EXPECT_EQ(list_remove_at(list, 0), nullptr);

    EXPECT_EQ(list_append(nullptr, tag(1)), -1);
    EXPECT_EQ(list_insert_at(nullptr, tag(1), 0), -1);
    EXPECT_EQ(list_remove_at(nullptr, 0), nullptr);
    EXPECT_EQ(list_node_at(nullptr, 0), nullptr);
    list_destroy(list, nullptr);
    list_destroy(nullptr, nullptr);
}

static std::vector<uintptr_t> destroyed_items;
static void record_item(void *item) { destroyed_items.push_back(reinterpret_cast<uintptr_t>(item)); }

TEST(UtilList, DestroyHandsItemsToTheCallbackHeadToTail) {
    List *list = list_create();
    for (uintptr_t i = 1; i <= 4; i++) list_insert_at(list, tag(i), 0);  // 4 3 2 1
    list_append(list, tag(7));
    destroyed_items.clear();
    list_destroy(list, record_item);
    EXPECT_EQ(destroyed_items, (std::vector<uintptr_t>{4, 3, 2, 1, 7}));

    // Items owned by the caller: the callback is where they get released.
    list = list_create();
    for (int i = 0; i < 3; i++) list_append(list, new std::string("item"));
    list_destroy(list, [](void *item) { delete static_cast<std::string *>(item); });

    destroyed_items.clear();
    list_destroy(nullptr, record_item);
    EXPECT_TRUE(destroyed_items.empty());
}

TEST(UtilList, FailedAllocationLeavesTheListUnchanged) {
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(list_create(), nullptr);
    }
    List *list = list_create();
    list_append(list, tag(1));
    list_append(list, tag(2));
    {
        UtilAllocFailScope no_memory(0);
        EXPECT_EQ(list_append(list, tag(3)), -1);
        EXPECT_EQ(list_insert_at(list, tag(3), 0), -1);
        EXPECT_EQ(list_insert_at(list, tag(3), 1), -1);
        EXPECT_EQ(list_insert_at(list, tag(3), 2), -1);
    }
    expect_list(list, {1, 2});
    ASSERT_EQ(list_insert_at(list, tag(3), 1), 0);
    expect_list(list, {1, 3, 2});
    list_destroy(list, nullptr);
}

TEST(UtilList, AgreesWithStdListOnRandomSequences) {
    for (uint32_t seed = 1; seed <= 10; seed++) {
        std::mt19937 rng(seed);
        std::vector<uint8_t> ops(8000);
        for (uint8_t &b : ops) b = static_cast<uint8_t>(rng());
        std::string why;
        EXPECT_TRUE(util_model_run(UTIL_MODEL_LIST, ops.data(), ops.size(), &why))
            << "seed " << seed << ": " << why;
    }
}
