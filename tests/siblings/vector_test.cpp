// The generic vector against a std::vector model, with elements that count themselves and can fail.
#include "support/test_support.hpp"

namespace {

constexpr uint32_t kAlive = 0xA11CE5u;
constexpr qsys_status kFailure = QSYS_STATUS(0x8000FEEDu);

struct Item {
    uint32_t tag, alive;  // alive: kAlive while constructed through the table
    uint64_t spare;
};

int64_t live = 0;  // elements constructed through the table and not yet destructed
int failIn = -1;   // this many element operations succeed, then one fails; -1: none fails

bool fails() { return failIn >= 0 && failIn-- == 0; }
Item& item(const void* e) { return *static_cast<Item*>(const_cast<void*>(e)); }
Item& alive(const void* e)  // an element constructed through the table and not yet destructed
{
    EXPECT_EQ(item(e).alive, kAlive);
    return item(e);
}

qsys_status countConstruct(void* e) { return fails() ? kFailure : (item(e) = {0, kAlive, 0}, ++live, QSYS_OK); }
qsys_status countCopy(void* e, const void* from)
{
    return alive(from), fails() ? kFailure : (item(e) = item(from), ++live, QSYS_OK);
}
qsys_status countAssign(void* e, const void* from)
{
    return alive(e), alive(from), fails() ? kFailure : (item(e).tag = item(from).tag, QSYS_OK);
}
// A failing destruct still ends the element, as a real record's would.
qsys_status countDestruct(void* e) { return alive(e).alive = 0, --live, fails() ? kFailure : QSYS_OK; }

const qstd_vector_vtable kCounting{countConstruct, countCopy, countAssign, countDestruct, QSTD_VECTOR_VTABLE_MARKER};
const qstd_vector_vtable kConstructOnly = {countConstruct, nullptr, nullptr, nullptr, QSTD_VECTOR_VTABLE_MARKER};

Item* items(const qstd_vector_& v) { return static_cast<Item*>(v.begin); }

std::vector<uint32_t> tags(const qstd_vector_& v)
{
    std::vector<uint32_t> t(v.size);
    return std::transform(items(v), items(v) + v.size, t.begin(), [](const Item& e) { return e.tag; }), t;
}

std::vector<Item> block(const std::vector<uint32_t>& t)
{
    std::vector<Item> b(t.size());
    return std::transform(t.begin(), t.end(), b.begin(), [](uint32_t x) { return Item{x, kAlive, 0}; }), b;
}

// A vector holding the given tags, built through the table.
qsys_status make(qstd_vector_* v, const std::vector<uint32_t>& t, const qstd_vector_vtable* table = &kCounting)
{
    return qstd_vector__constructFromBlockWithVtable(v, sizeof(Item), block(t).data(), t.size(), table);
}

// A failed call leaves the vector as it was, but after an element assign, which cannot be undone.
TEST(Vector, RandomOperationsMatchAModelAndFailuresChangeNothing)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    const qstd_vector_vtable* tables[] = {&kCounting, &kConstructOnly, nullptr};
    for (const qstd_vector_vtable* table : tables)
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", table " << (table ? table == &kCounting : 2));
            live = 0;
            std::mt19937 rng(seed);
            auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n)(rng); };
            qstd_vector_ v, other, third;
            ASSERT_EQ(qstd_vector__constructWithVtable(&v, 0, sizeof(Item), table), QSYS_OK);
            std::vector<uint32_t> model;
            for (uint32_t step = 0, tag = 1; step < 300; ++step, tag += 3) {
                const size_t n = model.size(), k = pick(3), at = pick(n), end = at + pick(n - at), from = pick(n);
                const size_t count = pick(n - from);
                const int op = int(pick(13)), failure = int(pick(9));
                if (n == 0 && (op <= 1 || op == 9)) continue;  // needs an element
                SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " failure " << failure);
                const std::vector<Item> fresh = block({tag, tag + 1, tag + 2});
                ASSERT_EQ(make(&other, std::vector<uint32_t>(k * 3, tag), table), QSYS_OK);
                std::vector<uint32_t> next = model;
                const auto before = std::tuple(v.size, v.capacity, v.begin, tags(v), live);
                if (failure < 3 && (0xCCEu >> op & 1)) failIn = failure;  // ops 1-3, 6, 7, 10, 11 build elements
                if (failure >= 3 && failure < 6) qsys_memory_failAfter(failure - 3);
                qsys_status s = QSYS_OK;
                switch (op) {
                case 0: s = qstd_vector__popBack(&v), next.pop_back(); break;
                case 1: s = qstd_vector__pushBack(&v, &items(v)[at % n]), next.push_back(model[at % n]); break;
                case 2:
                    s = qstd_vector__insert(&v, at, fresh.data(), k);
                    next.insert(next.begin() + at, {tag, tag + 1, tag + 2});
                    next.erase(next.begin() + at + k, next.begin() + at + 3);
                    break;
                case 3:  // a range of the vector itself
                    s = qstd_vector__insert(&v, at, items(v) + from, count);
                    next.insert(next.begin() + at, model.begin() + from, model.begin() + from + count);
                    break;
                case 4: s = qstd_vector__erase(&v, at, end), next.erase(next.begin() + at, next.begin() + end); break;
                case 5: s = qstd_vector__resize(&v, k * 4), next.resize(k * 4, 0); break;
                case 6: s = qstd_vector__resizeFill(&v, n + k, &fresh[1]), next.resize(n + k, tag + 1); break;
                case 7: s = qstd_vector__append(&v, &v), next.insert(next.end(), model.begin(), model.end()); break;
                case 8:  // from another vector, shorter or longer, or from itself
                    s = qstd_vector__assign(&v, k == 0 ? &v : &other);
                    next = k == 0 ? next : std::vector<uint32_t>(k * 3, tag);
                    break;
                case 9:  // a tail of the vector itself
                    s = qstd_vector__assignElements(&v, &items(v)[at % n], n - at % n);
                    next.erase(next.begin(), next.begin() + at % n);
                    break;
                case 10:
                case 11:  // the swap moves a new vector in
                    s = op == 10 ? qstd_vector__constructCopy(&third, &v)
                                 : qstd_vector__constructFillWithVtable(&third, k, sizeof(Item), &fresh[0], table);
                    failIn = -1, qsys_memory_failAfter(-1);
                    if (s == QSYS_OK) qstd_vector__swap(&v, &third), qstd_vector__destruct(&third);
                    next = op == 10 ? next : std::vector<uint32_t>(k, tag);
                    break;
                case 12: s = qstd_vector__clear(&v), next.clear(); break;
                default: ASSERT_TRUE((s = qstd_vector__reserve(&v, n + 40)) != QSYS_OK || v.capacity >= n + 40);
                }
                failIn = -1, qsys_memory_failAfter(-1);
                if (s != QSYS_OK) {
                    ASSERT_TRUE(s == kFailure ? failure < 3 : s == QSYS_E_NO_MEMORY && failure < 6) << s;
                    next = op == 8 || op == 9 ? tags(v) : model;  // an element assign cannot be undone
                    ASSERT_TRUE(op == 8 || op == 9 || std::tuple(v.size, v.capacity, v.begin, tags(v), live) == before);
                }
                ASSERT_TRUE(qstd_vector__destruct(&other) == QSYS_OK && v.capacity >= v.size);
                ASSERT_EQ(tags(v), model = next);
                ASSERT_TRUE(table != &kCounting || live == int64_t(model.size()));
            }
            ASSERT_EQ(qstd_vector__destruct(&v), QSYS_OK);
            EXPECT_TRUE(table != &kCounting || live == 0);
        }
    EXPECT_EQ(qsys_memory_blocksInUse(), blocks);
}

// A failing destruct still ends every element, and erase still removes its range; refusals change nothing.
TEST(Vector, FailingDestructsEndEveryElementAndRefusalsChangeNothing)
{
    const int64_t blocks = qsys_memory_blocksInUse();
    qstd_vector_ v;
    ASSERT_EQ(make(&v, {1, 2, 3, 4, 5}), QSYS_OK);
    EXPECT_EQ((failIn = 1, qstd_vector__destruct(&v)), kFailure);
    EXPECT_TRUE(live == 0 && qsys_memory_blocksInUse() == blocks && qstd_vector__destruct(&v) == QSYS_OK);
    ASSERT_EQ(make(&v, {1, 2, 3, 4, 5}), QSYS_OK);
    EXPECT_EQ((failIn = 0, qstd_vector__erase(&v, 1, 3)), kFailure);
    EXPECT_EQ(tags(v), (std::vector<uint32_t>{1, 4, 5}));
    qstd_vector__destruct(&v);
    const qstd_vector_vtable unmarked = {nullptr, nullptr, nullptr, nullptr, 0};
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, 3, 0, nullptr), QSYS_E_BAD_ARGUMENT);
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, 3, 8, &unmarked), QSYS_E_BAD_ARGUMENT);
    EXPECT_TRUE(v.size == 0 && qstd_vector__destruct(&v) == QSYS_OK);
    EXPECT_EQ(qstd_vector__constructWithVtable(&v, SIZE_MAX / 8, 16, nullptr), QSYS_E_NO_MEMORY);
    EXPECT_EQ(qstd_vector__destruct(&v), QSYS_OK);
    ASSERT_EQ(make(&v, {1, 2, 3}), QSYS_OK);
    Item *element = nullptr, extra{9, kAlive, 0}, *at = nullptr, *end = nullptr;
    const qsys_status refusals[] = {
        qstd_vector__insert(&v, 4, &extra, 1), qstd_vector__erase(&v, 2, 4), qstd_vector__erase(&v, 2, 1),
        qstd_vector__eraseElement(&v, 3), qstd_vector__getElement(&v, 3, &element),
        qstd_vector__getNextElement(&v, &extra, &element)};
    for (qsys_status s : refusals) EXPECT_EQ(s, QSYS_E_OUT_OF_RANGE) << &s - refusals;
    EXPECT_EQ(tags(v), (std::vector<uint32_t>{1, 2, 3}));
    ASSERT_EQ(qstd_vector__getBeginEnd(&v, &at, &end), QSYS_OK);
    EXPECT_TRUE(qstd_vector__getNextElement(&v, at + 2, &at) == QSYS_OK && at == end);  // walking ends at the end
    qstd_vector__destruct(&v);
    EXPECT_EQ(qstd_vector__popBack(&v), QSYS_E_OUT_OF_RANGE);
}

}  // namespace
