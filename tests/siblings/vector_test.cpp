// The generic vector, against a std::vector model, with an element type
// whose operations count their calls and can be told to fail.
#include "support/test_support.hpp"

#include <cstring>

namespace {

constexpr uint32_t kAlive = 0xA11CE5u;
constexpr qsys_status kElementFailure = QSYS_STATUS(0x8000FEEDu);

struct Item {
    uint32_t tag;    // the value the tests follow
    uint32_t alive;  // kAlive while constructed through the table
    uint64_t spare;
};

enum { Construct, Copy, Assign, Destruct };
using Calls = std::array<int, 4>;  // calls of each element operation

// What the counting operations have seen; the tests run on one thread.
struct Ledger {
    Calls calls{};
    int64_t live = 0;
    int failIn = -1;  // this many operations succeed, then one fails; -1: none fails
    qsys_status count(int operation)
    {
        ++calls[operation];
        const bool fail = failIn == 0;
        if (failIn >= 0) --failIn;
        return fail ? kElementFailure : QSYS_OK;
    }
} ledger;

Item& item(void* e) { return *static_cast<Item*>(e); }
const Item& item(const void* e) { return *static_cast<const Item*>(e); }

qsys_status countConstruct(void* e)
{
    const qsys_status s = ledger.count(Construct);
    if (s == QSYS_OK) item(e) = Item{0, kAlive, 0}, ++ledger.live;
    return s;
}
qsys_status countCopy(void* e, const void* from)
{
    EXPECT_EQ(item(from).alive, kAlive);
    const qsys_status s = ledger.count(Copy);
    if (s == QSYS_OK) item(e) = item(from), ++ledger.live;
    return s;
}
qsys_status countAssign(void* e, const void* from)
{
    EXPECT_TRUE(item(e).alive == kAlive && item(from).alive == kAlive);
    const qsys_status s = ledger.count(Assign);
    if (s == QSYS_OK) item(e).tag = item(from).tag;
    return s;
}
// A failing destruct still ends the element, as a real record's would.
qsys_status countDestruct(void* e)
{
    EXPECT_EQ(item(e).alive, kAlive);
    item(e).alive = 0, --ledger.live;
    return ledger.count(Destruct);
}

const qstd_vector_vtable kCounting = {countConstruct, countCopy, countAssign, countDestruct,
                                      QSTD_VECTOR_VTABLE_MARKER};
const qstd_vector_vtable kConstructOnly = {countConstruct, nullptr, nullptr, nullptr, QSTD_VECTOR_VTABLE_MARKER};

Item* items(const qstd_vector_& v) { return static_cast<Item*>(v.begin); }

std::vector<uint32_t> tags(const qstd_vector_& v)
{
    std::vector<uint32_t> t;
    for (size_t k = 0; k < v.size; ++k) t.push_back(items(v)[k].tag);
    return t;
}

std::vector<Item> block(const std::vector<uint32_t>& t)
{
    std::vector<Item> b;
    for (uint32_t x : t) b.push_back(Item{x, kAlive, 0});
    return b;
}

// A vector holding the given tags, built through the table.
qsys_status make(qstd_vector_* v, const std::vector<uint32_t>& t, const qstd_vector_vtable* table = &kCounting)
{
    std::vector<Item> b = block(t);
    return qstd_vector__constructFromBlockWithVtable(v, sizeof(Item), b.data(), b.size(), table);
}

// What a failed operation must leave as it was.
auto snapshot(const qstd_vector_& v) { return std::make_tuple(v.size, v.capacity, v.begin, tags(v), ledger.live); }

// Random operations on a vector and on a std::vector model, with and
// without the counting table; sources inside the vector itself included.
TEST(Vector, RandomOperationsMatchAModel)
{
    for (const qstd_vector_vtable* table : {&kCounting, static_cast<const qstd_vector_vtable*>(nullptr)})
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (table ? ", counting" : ", plain"));
            ledger = {};
            std::mt19937 rng(seed);
            auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng); };
            uint32_t nextTag = 1;
            qstd_vector_ v, other;
            ASSERT_EQ(qstd_vector__constructWithVtable(&v, 0, sizeof(Item), table), QSYS_OK);
            std::vector<uint32_t> model;
            for (int step = 0; step < 200; ++step, nextTag += 3) {
                const size_t n = model.size(), k = pick(3), at = pick(n);
                const int op = static_cast<int>(pick(10));  // 0 and 10: popBack
                SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
                std::vector<Item> fresh = block({nextTag, nextTag + 1, nextTag + 2});
                if (n == 0 && (op == 0 || op == 1 || op == 3 || op == 9 || op == 10)) continue;
                if (op == 1) {  // an element of the vector itself, while it may grow
                    ASSERT_EQ(qstd_vector__pushBack(&v, &items(v)[at % n]), QSYS_OK);
                    model.push_back(model[at % n]);
                } else if (op == 2) {
                    ASSERT_EQ(qstd_vector__insert(&v, at, fresh.data(), k), QSYS_OK);
                    model.insert(model.begin() + at, {nextTag, nextTag + 1, nextTag + 2});
                    model.erase(model.begin() + at + k, model.begin() + at + 3);
                } else if (op == 3) {  // a range of the vector itself, inserted into it
                    const size_t from = pick(n), count = pick(n - from);
                    const std::vector<uint32_t> copy(model.begin() + from, model.begin() + from + count);
                    ASSERT_EQ(qstd_vector__insert(&v, at, &items(v)[from], count), QSYS_OK);
                    model.insert(model.begin() + at, copy.begin(), copy.end());
                } else if (op == 4) {
                    const size_t end = at + pick(n - at);
                    ASSERT_EQ(qstd_vector__erase(&v, at, end), QSYS_OK);
                    model.erase(model.begin() + at, model.begin() + end);
                } else if (op == 5) {
                    ASSERT_EQ(qstd_vector__resize(&v, k * 4), QSYS_OK);
                    model.resize(k * 4, 0);
                } else if (op == 6) {
                    ASSERT_EQ(qstd_vector__resizeFill(&v, n + k, &fresh[1]), QSYS_OK);
                    model.resize(n + k, nextTag + 1);
                } else if (op == 7) {
                    if (n > 12) continue;
                    ASSERT_EQ(qstd_vector__append(&v, &v), QSYS_OK);
                    model.insert(model.end(), model.begin(), model.end());
                } else if (op == 8) {  // assign from another vector, shorter or longer
                    ASSERT_EQ(make(&other, std::vector<uint32_t>(k * 3, nextTag), table), QSYS_OK);
                    ASSERT_EQ(qstd_vector__assign(&v, &other), QSYS_OK);
                    ASSERT_EQ(qstd_vector__destruct(&other), QSYS_OK);
                    model.assign(k * 3, nextTag);
                } else if (op == 9) {  // a tail of the vector assigned to the vector
                    ASSERT_EQ(qstd_vector__assignElements(&v, &items(v)[at % n], n - at % n), QSYS_OK);
                    model.erase(model.begin(), model.begin() + at % n);
                } else {
                    ASSERT_EQ(qstd_vector__popBack(&v), QSYS_OK);
                    model.pop_back();
                }
                ASSERT_EQ(tags(v), model);
                ASSERT_GE(v.capacity, v.size);
                ASSERT_TRUE(table == nullptr || ledger.live == static_cast<int64_t>(model.size()));
            }
            ASSERT_EQ(qstd_vector__destruct(&v), QSYS_OK);
            EXPECT_EQ(ledger.live, 0);
        }
}

// One operation on a vector of tags {1, 2, 3, 4} (capacity 4) with `other`
// holding {11, 12, 13, 14, 15}, and the element operations it needs.
using V = qstd_vector_;
const struct OperationCase {
    const char* name;
    std::function<qsys_status(V*, V*)> run;
    Calls expected;
} kOperations[] = {
    {"resize up", [](V* v, V*) { return qstd_vector__resize(v, 9); }, {5, 0, 0, 0}},
    {"resize down", [](V* v, V*) { return qstd_vector__resize(v, 1); }, {0, 0, 0, 3}},
    {"resize fill", [](V* v, V*) { return qstd_vector__resizeFill(v, 7, &items(*v)[0]); }, {0, 3, 0, 0}},
    {"push back, growing", [](V* v, V*) { return qstd_vector__pushBack(v, &items(*v)[3]); }, {0, 1, 0, 0}},
    {"insert in the middle", [](V* v, V* o) { return qstd_vector__insert(v, 1, o->begin, 3); }, {0, 3, 0, 0}},
    {"insert own elements", [](V* v, V*) { return qstd_vector__insert(v, 2, &items(*v)[1], 3); }, {0, 3, 0, 0}},
    {"append self", [](V* v, V*) { return qstd_vector__append(v, v); }, {0, 4, 0, 0}},
    {"assign longer", [](V* v, V* o) { return qstd_vector__assign(v, o); }, {0, 1, 4, 0}},
    {"assign shorter", [](V* v, V* o) { return qstd_vector__assignElements(v, o->begin, 2); }, {0, 0, 2, 2}},
    {"construct copy",
     [](V*, V* o) {
         V copy;
         const qsys_status s = qstd_vector__constructCopy(&copy, o);
         return s == QSYS_OK ? qstd_vector__destruct(&copy) : s;
     },
     {0, 5, 0, 5}},
    {"construct fill",
     [](V*, V* o) {
         V fill;
         const qsys_status s = qstd_vector__constructFillWithVtable(&fill, 3, sizeof(Item), o->begin, o->vtable);
         return s == QSYS_OK ? qstd_vector__destruct(&fill) : s;
     },
     {0, 3, 0, 3}},
    {"erase", [](V* v, V*) { return qstd_vector__erase(v, 1, 3); }, {0, 0, 0, 2}},
    {"clear", [](V* v, V*) { return qstd_vector__clear(v); }, {0, 0, 0, 4}},
    {"self assign", [](V* v, V*) { return qstd_vector__assign(v, v); }, {}},
    {"swap and reserve",
     [](V* v, V* o) {
         qstd_vector__swap(v, o);
         qstd_vector__swap(v, o);
         return qstd_vector__reserve(v, 100);
     },
     {}},
};

// Element operations are called exactly as the operation needs: never for
// moving elements, never for a table entry that is NULL. A failing element
// operation or allocation, at every call the operation makes, leaves both
// vectors as they were (same block, capacity, elements and live count).
TEST(Vector, OperationsCallElementOperationsExactlyAndFailuresChangeNothing)
{
    for (const OperationCase& op : kOperations) {
        SCOPED_TRACE(op.name);
        for (const qstd_vector_vtable* table : {&kCounting, &kConstructOnly}) {
            qstd_vector_ v, other;
            ledger = {};
            ASSERT_EQ(make(&v, {1, 2, 3, 4}, table), QSYS_OK);
            ASSERT_EQ(make(&other, {11, 12, 13, 14, 15}, table), QSYS_OK);
            ledger.calls = {};
            ASSERT_EQ(op.run(&v, &other), QSYS_OK);
            // With only a construct entry copies are bytes and nothing else is called.
            const Calls expected = table == &kCounting ? op.expected : Calls{op.expected[Construct], 0, 0, 0};
            EXPECT_EQ(ledger.calls, expected);
            qstd_vector__destruct(&v);
            qstd_vector__destruct(&other);
            EXPECT_TRUE(table != &kCounting || ledger.live == 0);
        }

        qstd_vector_ v, other;
        ledger = {};
        ASSERT_EQ(make(&v, {1, 2, 3, 4}), QSYS_OK);
        ASSERT_EQ(make(&other, {11, 12, 13, 14, 15}), QSYS_OK);
        const auto before = snapshot(v), otherBefore = snapshot(other);
        for (int n = 0; op.expected[Construct] + op.expected[Copy] > 0; ++n) {
            SCOPED_TRACE("failing element operation " + std::to_string(n));
            ledger.calls = {};
            ledger.failIn = n;
            const qsys_status s = op.run(&v, &other);
            ledger.failIn = -1;
            if (s == QSYS_OK) break;
            ASSERT_EQ(s, kElementFailure);
            if (ledger.calls[Assign] > 0) break;  // an element assign cannot be undone
            ASSERT_TRUE(snapshot(v) == before);
            ASSERT_TRUE(snapshot(other) == otherBefore);
        }
        qstd_vector__destruct(&v);
        qstd_vector__destruct(&other);
        EXPECT_EQ(ledger.live, 0);

        qtest::expectAllocationFailuresClean([&] {
            qsys_status s = make(&v, {1, 2, 3, 4}), t = make(&other, {11, 12, 13, 14, 15});
            EXPECT_TRUE((s == QSYS_OK || v.size == 0) && (t == QSYS_OK || other.size == 0));  // failed: empty
            if (s == QSYS_OK && t == QSYS_OK) {
                const auto unchanged = snapshot(v);
                s = op.run(&v, &other);
                EXPECT_TRUE(s == QSYS_OK || snapshot(v) == unchanged);
            }
            qstd_vector__destruct(&v);
            qstd_vector__destruct(&other);
            EXPECT_EQ(ledger.live, 0);
            return s != QSYS_OK ? s : t;
        });
    }
}

// A failing destruct ends every element (and erase removes its range) and
// reports the failure; the vector may be destructed again.
TEST(Vector, DestructDestroysEveryElementWhenOneFails)
{
    ledger = {};
    const int64_t blocks = qsys_memory_blocksInUse();
    qstd_vector_ v;
    ASSERT_EQ(make(&v, {1, 2, 3, 4, 5}), QSYS_OK);
    ledger.failIn = 1;
    EXPECT_EQ(qstd_vector__destruct(&v), kElementFailure);
    EXPECT_TRUE(ledger.live == 0 && qsys_memory_blocksInUse() == blocks);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);
    ASSERT_EQ(make(&v, {1, 2, 3, 4, 5}), QSYS_OK);
    ledger.failIn = 0;
    EXPECT_EQ(qstd_vector__erase(&v, 1, 3), kElementFailure);
    EXPECT_EQ(tags(v), (std::vector<uint32_t>{1, 4, 5}));
    qstd_vector__destruct(&v);
    ledger = {};
}

TEST(Vector, RefusesBadShapesIndicesAndSizes)
{
    qstd_vector_ v;
    const qstd_vector_vtable unmarked = {nullptr, nullptr, nullptr, nullptr, 0};
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, 3, 0, nullptr), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, 3, 8, &unmarked), QSYS_E_BAD_ARGUMENT);
    EXPECT_TRUE(v.size == 0 && qstd_vector__destruct(&v) == QSYS_OK);
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, SIZE_MAX / 8, 16, nullptr), QSYS_E_NO_MEMORY);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);

    ASSERT_EQ(make(&v, {1, 2, 3}), QSYS_OK);
    Item* element = nullptr;
    Item extra{9, kAlive, 0};
    EXPECT_EQ(qstd_vector__insert(&v, 4, &extra, 1), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(qstd_vector__erase(&v, 2, 4), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(qstd_vector__erase(&v, 2, 1), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(qstd_vector__eraseElement(&v, 3), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(qstd_vector__getElement(&v, 3, &element), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(qstd_vector__getNextElement(&v, &extra, &element), QSYS_E_OUT_OF_RANGE);
    EXPECT_EQ(tags(v), (std::vector<uint32_t>{1, 2, 3}));
    // Walking with getNextElement ends at getBeginEnd's end.
    Item *at = nullptr, *end = nullptr;
    ASSERT_EQ(qstd_vector__getBeginEnd(&v, &at, &end), QSYS_OK);
    for (uint32_t expected = 1; at != end; ++expected) {
        EXPECT_EQ(at->tag, expected);
        ASSERT_EQ(qstd_vector__getNextElement(&v, at, &at), QSYS_OK);
    }
    qstd_vector__destruct(&v);
    EXPECT_EQ(qstd_vector__popBack(&v), QSYS_E_OUT_OF_RANGE);
}

// Blocks come from the vector's mtable, which travels with copies and swaps.
int mtableAllocs = 0, mtableFrees = 0;
const qstd_vector_mtable kCountingHeap = {
    [](size_t size, void* out) { return ++mtableAllocs, qsys_memory_alloc_internal(size, out); },
    [](void* inOut) { return ++mtableFrees, qsys_memory_free_internal(inOut); },
};

TEST(Vector, TakesItsBlocksFromItsMtable)
{
    mtableAllocs = mtableFrees = 0;
    qstd_vector_ v, copy, plain;
    ASSERT_EQ(qstd_vector__constructWithVtableWithMtable(&v, 2, sizeof(Item), nullptr, &kCountingHeap), QSYS_OK);
    EXPECT_EQ(mtableAllocs, 1);
    const Item one{7, 0, 0};
    ASSERT_EQ(qstd_vector__pushBack(&v, &one), QSYS_OK);  // grows: new block, old one freed
    EXPECT_TRUE(v.capacity == 4 && mtableAllocs == 2 && mtableFrees == 1);
    ASSERT_EQ(qstd_vector__constructCopy(&copy, &v), QSYS_OK);
    ASSERT_EQ(qstd_vector__constructWithVtable(&plain, 1, sizeof(Item), nullptr), QSYS_OK);
    ASSERT_EQ(qstd_vector__swap(&copy, &plain), QSYS_OK);
    qstd_vector__destruct(&copy);  // now the plain one, from the qsys heap
    qstd_vector__destruct(&plain);
    qstd_vector__destruct(&v);
    EXPECT_TRUE(mtableAllocs == 3 && mtableFrees == 3);
}

}  // namespace
