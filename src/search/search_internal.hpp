// Pieces shared by the top-level model, run and result-set files: the
// training body, the trained check, the rule for the surrounding band, and
// the growth of result sets.
#pragma once

#include <qsrch/search.h>

#include "frame/status.hpp"
#include "pyramid/pyramid_internal.hpp"

extern "C" {

// Untrains the model, validates params and trains the inner model on a copy
// of view (and maskView, which may be NULL) moved to origin (0, 0); then
// keeps a copy of the view's pixels with the view's origin and the training
// image's imageFromClient.
[[nodiscard]] qsrch_status qsrch_model_trainInternal(qsrch_model* model, const qimg_windowConst* view,
                                                     const qimg_windowConst* maskView,
                                                     const qmath_xformPtrhConst* imageFromClient,
                                                     const qsrch_trainParams* params);

}  // extern "C"

namespace qsrch {

// The trained check of queries and runs: the bound-query's own failure, or
// QSRCH_E_NOT_TRAINED when the model holds no training image.
Status requireTrained(const qsrch_model* model);

// True when the entire image reaches at least two pixels beyond the view on
// every side; both rectangles in the image's pixel frame.
bool surroundFits(const qstd_rect32& entire, const qstd_rect32& view);

// The image forms' view of the image handle and its image-from-client
// transform (imageFromClient constructed by the caller).
Status viewWithTransform(const qimg_imageConst* image, qimg_windowConst* view,
                         qmath_xformPtrhConst* imageFromClient);

// Makes room for `needed` entries: reallocates the array to exactly that
// many when the set counts fewer, and leaves it alone otherwise. count is
// not changed; a failure leaves the set as it was.
Status reserveResultEntries(qsrch_resultSet* set, int32_t needed);

}  // namespace qsrch
