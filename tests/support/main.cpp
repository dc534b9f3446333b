// The test programs' main. QSRCH_TEST_GENERIC_ONLY set (and not "0") forbids
// every optimized kernel path for the whole run.
#include <cstdlib>
#include <cstring>

#include "support/test_support.hpp"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* genericOnly = std::getenv("QSRCH_TEST_GENERIC_ONLY");
    qtest::genericOnlyRun = genericOnly != nullptr && *genericOnly != '\0' && std::strcmp(genericOnly, "0") != 0;
    if (qtest::genericOnlyRun) qprt_isOptimizationInhibitedFP = [](const uint16_t*) { return int32_t{1}; };
    return RUN_ALL_TESTS();
}
