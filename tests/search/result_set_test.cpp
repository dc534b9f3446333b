// Result sets grow only when more entries are needed; copies own their entries.
#include "search/search_support.hpp"

namespace {

using qtest::ResultSet;

void expectEntries(const qsrch_resultSet& set, int32_t count, int first)
{
    ASSERT_EQ(set.count, count);
    ResultSet want;
    qtest::fillSet(want.get(), count, first);
    for (int32_t i = 0; i < count; ++i) EXPECT_TRUE(qtest::sameEntry(set.entries[i], want->entries[i])) << i;
}

// Only a count above the set's own reallocates (the capacity is not
// recorded); entries past the count keep what they held. A failed
// reallocation leaves the set as it was; a copy holds its own entries.
TEST(ResultSet, AssignGrowsOnlyWhenMoreEntriesAreNeededAndCopiesOwnTheirEntries)
{
    ResultSet set, original, larger;
    EXPECT_TRUE(set->count == 0 && set->entries == nullptr);
    qtest::fillSet(set.get(), 4, 100);
    qtest::fillSet(original.get(), 4, 100);
    for (auto [count, reallocates] : {std::pair{2, false}, {0, false}, {3, true}, {3, false}, {5, true}}) {
        ResultSet source;
        qtest::fillSet(source.get(), count, count * 10);
        const qsrch_resultSetEntry* before = set->entries;
        ASSERT_EQ(qsrch_resultSet_assign(set.get(), source.get()), QSRCH_OK);
        EXPECT_EQ(set->entries != before, reallocates) << count;
        expectEntries(*set.get(), count, count * 10);
        for (int32_t i = count; count == 2 && i < 4; ++i)
            EXPECT_TRUE(qtest::sameEntry(set->entries[i], original->entries[i]));
    }
    const qsrch_resultSetEntry* const five = set->entries;
    ASSERT_EQ(qsrch_resultSet_assign(set.get(), set.get()), QSRCH_OK);
    qtest::fillSet(larger.get(), 8, 40);
    qsys_memory_failAfter(0);
    EXPECT_EQ(qsrch_resultSet_assign(set.get(), larger.get()), QSYS_E_NO_MEMORY);
    qsys_memory_failAfter(-1);
    EXPECT_EQ(set->entries, five);
    expectEntries(*set.get(), 5, 50);
    qsrch_resultSet copy;
    qtest::expectAllocationFailuresClean([&] {
        const qsrch_status s = qsrch_resultSet_constructCopy(&copy, set.get());
        if (QSRCH_FAILED(s)) return s;
        EXPECT_TRUE(copy.entries != five && copy.count == 5 && qtest::sameEntry(copy.entries[4], five[4]));
        return qsrch_resultSet_destruct(&copy);
    });
    EXPECT_TRUE(copy.count == 0 && copy.entries == nullptr);
}

}  // namespace
