// Shared by the pyramid suites: owned level vectors and pattern levels that
// carry only factors.
#pragma once

#include <cstdint>
#include <vector>

#include "pyramid/pyramid_internal.hpp"
#include "support/levels.hpp"

namespace qtest {

class LevelVector {
public:
    LevelVector() { qstd_vector_qsrch_normcorr_level__constructEmpty(&v_); }
    ~LevelVector() { qstd_vector_qsrch_normcorr_level__destruct(&v_); }
    LevelVector(const LevelVector&) = delete;
    LevelVector& operator=(const LevelVector&) = delete;
    qstd_vector_qsrch_normcorr_level_* get() { return &v_; }
    uint32_t size() const
    {
        uint32_t n = 0;
        qstd_vector_qsrch_normcorr_level__getSize32(&v_, &n);
        return n;
    }
    const qsrch_normcorr_level_& operator[](size_t i) const
    {
        return static_cast<const qsrch_normcorr_level_*>(v_.begin)[i];
    }

private:
    qstd_vector_qsrch_normcorr_level_ v_;
};

// Pattern levels as the generators read them: constructed levels whose
// factor (for levels 1 and up) is the given one.
inline void setPatternFactors(LevelVector& levels, const std::vector<float>& factors)
{
    ASSERT_EQ(qstd_vector_qsrch_normcorr_level__resize(levels.get(), factors.size() + 1), QSRCH_OK);
    auto* first = static_cast<qsrch_normcorr_level_*>(levels.get()->begin);
    for (size_t k = 0; k < factors.size(); ++k) first[k + 1].factor = factors[k];
}

}  // namespace qtest
