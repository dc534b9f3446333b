// The generic vector, against a std::vector model, with an element type
// whose operations count their calls and can be told to fail.
#include "support/test_support.hpp"

#include <array>
#include <cstring>
#include <functional>
#include <random>

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

    bool failNow()
    {
        if (failIn == 0) {
            failIn = -1;
            return true;
        }
        if (failIn > 0) --failIn;
        return false;
    }
} ledger;

qsys_status countConstruct(void* e)
{
    ++ledger.calls[Construct];
    if (ledger.failNow()) return kElementFailure;
    *static_cast<Item*>(e) = Item{0, kAlive, 0};
    ++ledger.live;
    return QSYS_OK;
}
qsys_status countCopy(void* e, const void* s)
{
    ++ledger.calls[Copy];
    EXPECT_EQ(static_cast<const Item*>(s)->alive, kAlive);
    if (ledger.failNow()) return kElementFailure;
    *static_cast<Item*>(e) = *static_cast<const Item*>(s);
    ++ledger.live;
    return QSYS_OK;
}
qsys_status countAssign(void* e, const void* s)
{
    ++ledger.calls[Assign];
    EXPECT_EQ(static_cast<Item*>(e)->alive, kAlive);
    EXPECT_EQ(static_cast<const Item*>(s)->alive, kAlive);
    if (ledger.failNow()) return kElementFailure;
    static_cast<Item*>(e)->tag = static_cast<const Item*>(s)->tag;
    return QSYS_OK;
}
// A failing destruct still ends the element, as a real record's would.
qsys_status countDestruct(void* e)
{
    ++ledger.calls[Destruct];
    EXPECT_EQ(static_cast<Item*>(e)->alive, kAlive);
    static_cast<Item*>(e)->alive = 0;
    --ledger.live;
    return ledger.failNow() ? kElementFailure : QSYS_OK;
}

const qstd_vector_vtable kCounting = {countConstruct, countCopy, countAssign, countDestruct,
                                      QSTD_VECTOR_VTABLE_MARKER};
const qstd_vector_vtable kConstructOnly = {countConstruct, nullptr, nullptr, nullptr,
                                           QSTD_VECTOR_VTABLE_MARKER};

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

// A vector holding the given tags (built through the table).
void make(qstd_vector_* v, const std::vector<uint32_t>& t, const qstd_vector_vtable* table = &kCounting)
{
    std::vector<Item> b = block(t);
    ASSERT_EQ(qstd_vector__constructFromBlockWithVtable(v, sizeof(Item), b.data(), b.size(), table), QSYS_OK);
}

struct Snapshot {
    size_t size, capacity;
    void* begin;
    std::vector<uint32_t> tags;
    int64_t live;
    explicit Snapshot(const qstd_vector_& v)
        : size(v.size), capacity(v.capacity), begin(v.begin), tags(::tags(v)), live(ledger.live) {}
    bool operator==(const Snapshot& o) const
    {
        return size == o.size && capacity == o.capacity && begin == o.begin && tags == o.tags &&
               live == o.live;
    }
};

// Random operations on a vector and on a std::vector model, with and
// without the counting table; sources inside the vector itself included.
class VectorModel : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ledger = {}; }
};

TEST_P(VectorModel, RandomOperationsMatchModel)
{
    const qstd_vector_vtable* table = GetParam() ? &kCounting : nullptr;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng); };
        uint32_t nextTag = 1;
        qstd_vector_ v, other;
        ASSERT_EQ(qstd_vector__constructWithVtable(&v, 0, sizeof(Item), table), QSYS_OK);
        std::vector<uint32_t> model;
        for (int step = 0; step < 200; ++step) {
            size_t n = model.size();
            int op = static_cast<int>(pick(10));  // 0 and 10: popBack
            SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
            std::vector<Item> fresh = block({nextTag, nextTag + 1, nextTag + 2});
            size_t k = pick(3), at = pick(n);
            switch (op) {
            case 1:  // an element of the vector itself, while it may grow
                if (n == 0) continue;
                ASSERT_EQ(qstd_vector__pushBack(&v, &items(v)[at % n]), QSYS_OK);
                model.push_back(model[at % n]);
                break;
            case 2:
                ASSERT_EQ(qstd_vector__insert(&v, at, fresh.data(), k), QSYS_OK);
                model.insert(model.begin() + at, {nextTag, nextTag + 1, nextTag + 2});
                model.erase(model.begin() + at + k, model.begin() + at + 3);
                break;
            case 3: {  // a range of the vector itself, inserted into it
                if (n == 0) continue;
                size_t from = pick(n), count = pick(n - from);
                std::vector<uint32_t> copy(model.begin() + from, model.begin() + from + count);
                ASSERT_EQ(qstd_vector__insert(&v, at, &items(v)[from], count), QSYS_OK);
                model.insert(model.begin() + at, copy.begin(), copy.end());
                break;
            }
            case 4: {
                size_t end = at + pick(n - at);
                ASSERT_EQ(qstd_vector__erase(&v, at, end), QSYS_OK);
                model.erase(model.begin() + at, model.begin() + end);
                break;
            }
            case 5:
                ASSERT_EQ(qstd_vector__resize(&v, k * 4), QSYS_OK);
                model.resize(k * 4, 0);
                break;
            case 6:
                ASSERT_EQ(qstd_vector__resizeFill(&v, n + k, &fresh[1]), QSYS_OK);
                model.resize(n + k, nextTag + 1);
                break;
            case 7:
                if (n > 12) continue;
                ASSERT_EQ(qstd_vector__append(&v, &v), QSYS_OK);
                model.insert(model.end(), model.begin(), model.end());
                break;
            case 8:  // assign from another vector, shorter or longer
                make(&other, std::vector<uint32_t>(k * 3, nextTag), table);
                ASSERT_EQ(qstd_vector__assign(&v, &other), QSYS_OK);
                ASSERT_EQ(qstd_vector__destruct(&other), QSYS_OK);
                model.assign(k * 3, nextTag);
                break;
            case 9: {  // a tail of the vector assigned to the vector
                if (n == 0) continue;
                size_t from = pick(n);
                ASSERT_EQ(qstd_vector__assignElements(&v, &items(v)[from], n - from), QSYS_OK);
                model.erase(model.begin(), model.begin() + from);
                break;
            }
            default:
                if (n == 0) continue;
                ASSERT_EQ(qstd_vector__popBack(&v), QSYS_OK);
                model.pop_back();
            }
            nextTag += 3;
            ASSERT_EQ(tags(v), model);
            ASSERT_GE(v.capacity, v.size);
            if (table != nullptr) {
                ASSERT_EQ(ledger.live, static_cast<int64_t>(model.size()));
            }
        }
        ASSERT_EQ(qstd_vector__destruct(&v), QSYS_OK);
        EXPECT_EQ(ledger.live, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, VectorModel, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Counting" : "Plain"; });

// One operation on a vector of tags {1, 2, 3, 4} (capacity 4) with `other`
// holding {11, 12, 13, 14, 15}.
struct OperationCase {
    const char* name;
    std::function<qsys_status(qstd_vector_*, qstd_vector_*)> run;
    Calls expected;
};

using V = qstd_vector_;

const OperationCase kOperations[] = {
    {"ResizeUp", [](V* v, V*) { return qstd_vector__resize(v, 9); }, {5, 0, 0, 0}},
    {"ResizeDown", [](V* v, V*) { return qstd_vector__resize(v, 1); }, {0, 0, 0, 3}},
    {"ResizeFill", [](V* v, V*) { return qstd_vector__resizeFill(v, 7, &items(*v)[0]); }, {0, 3, 0, 0}},
    {"PushBackGrowing", [](V* v, V*) { return qstd_vector__pushBack(v, &items(*v)[3]); }, {0, 1, 0, 0}},
    {"InsertInMiddle", [](V* v, V* o) { return qstd_vector__insert(v, 1, o->begin, 3); }, {0, 3, 0, 0}},
    {"InsertOwnElements", [](V* v, V*) { return qstd_vector__insert(v, 2, &items(*v)[1], 3); }, {0, 3, 0, 0}},
    {"AppendSelf", [](V* v, V*) { return qstd_vector__append(v, v); }, {0, 4, 0, 0}},
    {"AssignLonger", [](V* v, V* o) { return qstd_vector__assign(v, o); }, {0, 1, 4, 0}},
    {"AssignShorter", [](V* v, V* o) { return qstd_vector__assignElements(v, o->begin, 2); }, {0, 0, 2, 2}},
    {"ConstructCopy",
     [](V*, V* o) {
         V copy;
         qsys_status s = qstd_vector__constructCopy(&copy, o);
         return s == QSYS_OK ? qstd_vector__destruct(&copy) : s;
     },
     {0, 5, 0, 5}},
    {"ConstructFill",
     [](V*, V* o) {
         V fill;
         qsys_status s = qstd_vector__constructFillWithVtable(&fill, 3, sizeof(Item), o->begin, o->vtable);
         return s == QSYS_OK ? qstd_vector__destruct(&fill) : s;
     },
     {0, 3, 0, 3}},
    {"Erase", [](V* v, V*) { return qstd_vector__erase(v, 1, 3); }, {0, 0, 0, 2}},
    {"Clear", [](V* v, V*) { return qstd_vector__clear(v); }, {0, 0, 0, 4}},
    {"SelfAssign", [](V* v, V*) { return qstd_vector__assign(v, v); }, {}},
    {"SwapAndReserve",
     [](V* v, V* o) {
         qstd_vector__swap(v, o);
         qstd_vector__swap(v, o);
         return qstd_vector__reserve(v, 100);
     },
     {}},
};

void PrintTo(const OperationCase& c, std::ostream* out) { *out << c.name; }

class VectorOperation : public ::testing::TestWithParam<OperationCase> {
protected:
    void SetUp() override { ledger = {}; }
};

// Element operations are called exactly as the operation needs: never for
// moving elements, never for a table entry that is NULL.
TEST_P(VectorOperation, CallsElementOperationsExactlyAsNeeded)
{
    qstd_vector_ v, other;
    make(&v, {1, 2, 3, 4});
    make(&other, {11, 12, 13, 14, 15});
    ledger.calls = {};
    ASSERT_EQ(GetParam().run(&v, &other), QSYS_OK);
    EXPECT_EQ(ledger.calls, GetParam().expected);
    ASSERT_EQ(qstd_vector__destruct(&v), QSYS_OK);
    ASSERT_EQ(qstd_vector__destruct(&other), QSYS_OK);
    EXPECT_EQ(ledger.live, 0);

    // The same operation with only a construct entry: copies are bytes, and
    // no other entry exists to be called.
    make(&v, {1, 2, 3, 4}, &kConstructOnly);
    make(&other, {11, 12, 13, 14, 15}, &kConstructOnly);
    ledger = {};
    ASSERT_EQ(GetParam().run(&v, &other), QSYS_OK);
    EXPECT_EQ(ledger.calls, (Calls{GetParam().expected[Construct], 0, 0, 0}));
    qstd_vector__destruct(&v);
    qstd_vector__destruct(&other);
}

// A failing element operation, at every call the operation makes, leaves
// both vectors as they were: same block, capacity, elements and live count.
TEST_P(VectorOperation, FailingElementOperationLeavesVectorAsItWas)
{
    if (GetParam().expected[Construct] + GetParam().expected[Copy] == 0) return;  // builds nothing
    qstd_vector_ v, other;
    make(&v, {1, 2, 3, 4});
    make(&other, {11, 12, 13, 14, 15});
    Snapshot before(v), otherBefore(other);
    qsys_status s = kElementFailure;
    for (int n = 0; s == kElementFailure; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        ledger.calls = {};
        ledger.failIn = n;
        s = GetParam().run(&v, &other);
        ledger.failIn = -1;
        if (s == QSYS_OK) {
            EXPECT_GT(n, 0);
            break;
        }
        ASSERT_EQ(s, kElementFailure);
        if (ledger.calls[Assign] > 0) break;  // an element assign cannot be undone
        ASSERT_TRUE(Snapshot(v) == before);
        ASSERT_TRUE(Snapshot(other) == otherBefore);
    }
    qstd_vector__destruct(&v);
    qstd_vector__destruct(&other);
    EXPECT_EQ(ledger.live, 0);
}

// Every allocation an operation makes may fail: the operation reports it,
// leaks nothing and leaves the vectors as they were.
TEST_P(VectorOperation, AllocationFailureLeavesVectorAsItWas)
{
    qtest::expectAllocationFailuresClean([&]() -> qsys_status {
        qstd_vector_ v, other;
        std::vector<Item> b = block({1, 2, 3, 4}), o = block({11, 12, 13, 14, 15});
        qsys_status s = qstd_vector__constructFromBlockWithVtable(&v, sizeof(Item), b.data(), 4, &kCounting);
        qsys_status t =
            qstd_vector__constructFromBlockWithVtable(&other, sizeof(Item), o.data(), 5, &kCounting);
        EXPECT_TRUE((s == QSYS_OK || v.size == 0) && (t == QSYS_OK || other.size == 0));  // failed: empty
        if (s == QSYS_OK && t == QSYS_OK) {
            Snapshot before(v);
            s = GetParam().run(&v, &other);
            if (s != QSYS_OK) {
                EXPECT_TRUE(Snapshot(v) == before);
            }
        }
        qstd_vector__destruct(&v);
        qstd_vector__destruct(&other);
        EXPECT_EQ(ledger.live, 0);
        return s != QSYS_OK ? s : t;
    });
}

INSTANTIATE_TEST_SUITE_P(Operations, VectorOperation, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Vector, PlainElementsAreZeroFilledAndCopiedBytewise)
{
    qstd_vector_ v;
    Item garbage{0xDEADBEEF, 0x12345678, ~0ull};
    ASSERT_EQ(qstd_vector__constructFillWithVtable(&v, 6, sizeof(Item), &garbage, nullptr), QSYS_OK);
    ASSERT_EQ(qstd_vector__resize(&v, 2), QSYS_OK);
    ASSERT_EQ(qstd_vector__resize(&v, 5), QSYS_OK);  // in the old bytes: must be zeroed again
    ASSERT_EQ(qstd_vector__resizeUninit(&v, 6), QSYS_OK);
    for (size_t k = 0; k < 6; ++k) {
        Item expected = k < 2 ? garbage : Item{0, 0, 0};
        EXPECT_EQ(std::memcmp(&items(v)[k], &expected, sizeof(Item)), 0) << k;
    }
    qstd_vector_ copy;
    ASSERT_EQ(qstd_vector__constructCopy(&copy, &v), QSYS_OK);
    EXPECT_EQ(std::memcmp(copy.begin, v.begin, 6 * sizeof(Item)), 0);
    EXPECT_EQ(copy.vtable, nullptr);
    qstd_vector__destruct(&copy);
    qstd_vector__destruct(&v);
}

TEST(Vector, DestructDestroysEveryElementWhenOneFails)
{
    ledger = {};
    int64_t blocks = qsys_memory_blocksInUse();
    qstd_vector_ v;
    make(&v, {1, 2, 3, 4, 5});
    ledger.failIn = 1;
    EXPECT_EQ(qstd_vector__destruct(&v), kElementFailure);
    EXPECT_EQ(ledger.live, 0);
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);  // and may be destructed again

    make(&v, {1, 2, 3, 4, 5});
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
    EXPECT_EQ(v.size, 0u);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, SIZE_MAX / 8, 16, nullptr), QSYS_E_NO_MEMORY);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);

    make(&v, {1, 2, 3});
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
    [](size_t size, void* out) { ++mtableAllocs; return qsys_memory_alloc_internal(size, out); },
    [](void* inOut) { ++mtableFrees; return qsys_memory_free_internal(inOut); },
};

TEST(Vector, TakesItsBlocksFromItsMtable)
{
    mtableAllocs = mtableFrees = 0;
    qstd_vector_ v, copy, plain;
    ASSERT_EQ(qstd_vector__constructWithVtableWithMtable(&v, 2, sizeof(Item), nullptr, &kCountingHeap),
              QSYS_OK);
    EXPECT_EQ(mtableAllocs, 1);
    Item item{7, 0, 0};
    ASSERT_EQ(qstd_vector__pushBack(&v, &item), QSYS_OK);  // grows: new block, old one freed
    EXPECT_EQ(v.capacity, 4u);
    EXPECT_EQ(mtableAllocs, 2);
    EXPECT_EQ(mtableFrees, 1);
    ASSERT_EQ(qstd_vector__constructCopy(&copy, &v), QSYS_OK);
    ASSERT_EQ(qstd_vector__constructWithVtable(&plain, 1, sizeof(Item), nullptr), QSYS_OK);
    ASSERT_EQ(qstd_vector__swap(&copy, &plain), QSYS_OK);
    qstd_vector__destruct(&copy);  // now the plain one, from the qsys heap
    qstd_vector__destruct(&plain);
    qstd_vector__destruct(&v);
    EXPECT_EQ(mtableAllocs, 3);
    EXPECT_EQ(mtableFrees, 3);
}

}  // namespace
