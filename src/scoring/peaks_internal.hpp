// The working state shared by the peak functions and the refinement of
// their peaks: the statistics planes of one call, and the internal steps.
#pragma once

#include <cstddef>
#include <cstdint>

#include <qip/qip.h>
#include <qsrch/peaks.h>

#include "frame/status.hpp"

extern "C" {

// The statistics of one plane of a peak call, over the nx x ny candidate
// positions of the grown rectangle. Integer sets hold every statistic as
// an unsigned 32-bit value; double sets (patterns of more than 0x10000
// pixels) hold inner products and sums of squares as doubles, in the *D
// fields. Element (x, y) of a plane is at y * stride + x. Without a runtime
// mask the pattern statistics are single values (perPositionPattern 0),
// read at index 0 whatever the position. A three-plane set is three of
// these sharing one care-count plane.
typedef struct qsrch_peakPlanes {
    uint32_t doubles;
    uint32_t perPositionPattern;
    uint32_t stride32;  // row stride of the unsigned planes
    uint32_t strideD;   // row stride of the double planes
    uint32_t* innerProducts;
    double* innerProductsD;
    uint32_t* imageSums;
    uint32_t* imageSumSqs;
    double* imageSumSqsD;
    uint32_t* counts;
    uint32_t* patternSums;
    uint32_t* patternSumSqs;
    double* patternSumSqsD;
} qsrch_peakPlanes;

// The views the shape score compares at a refined peak: the pattern and its
// mask, the image and runtime mask views the planes were computed on
// (origin (0, 0)). Masks may be NULL or without pixels.
typedef struct qsrch_shapeViews {
    const qimg_windowConst* pattern;
    const qimg_windowConst* patternMask;
    const qimg_windowConst* image;
    const qimg_windowConst* runtimeMask;
} qsrch_shapeViews;

// What the caller of the peak kernel gives besides views: pattern
// statistics (havePatStats) and the pattern's care count (haveN).
typedef struct qsrch_givenPatternStats {
    uint32_t havePatStats;
    uint32_t n;
    uint32_t sum;
    double sumSq;
    uint32_t haveN;
    uint32_t careCount;
} qsrch_givenPatternStats;

// The peak kernel behind the eight exported peak entries.
[[nodiscard]] qsrch_status qsrch_computePeaksCommon(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask, const qimg_windowConst* image,
    const qimg_windowConst* runtimeMask, const qstd_rect32* window, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, const qsrch_normalizedCorrelationParams* params, uint32_t havePatStats,
    uint32_t patN, uint32_t patSum, double patSumSq, uint32_t haveN, uint32_t N, double peakThreshold,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);

// Fills the planes (already laid out) from the narrowed views, and the
// pattern's total care count. endpoints is the list in use, or NULL.
[[nodiscard]] qsrch_status qsrch_computeStatsForPeaks(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask, const qimg_windowConst* image,
    const qimg_windowConst* runtimeMask, const qstd_vector_qstd_pair32* endpoints,
    const qsrch_givenPatternStats* given, const qsrch_peakPlanes* planes, uint32_t* totalCareOut);

// Scores the planes' nx x ny positions into `space` (row stride in doubles).
[[nodiscard]] qsrch_status qsrch_computeSpaceForPeaks(const qimg_windowConst* pattern,
                                                      const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                                                      const qstd_vector_qstd_pair32* endpoints,
                                                      const qsrch_normalizedCorrelationParams* params,
                                                      double* space, int32_t spaceStride);

// Turns the detected peaks into pose peaks, in the detector's order.
// positions is the planes' grid in the image's frame: (x0, y0, nx, ny).
[[nodiscard]] qsrch_status qsrch_refinePeaks(
    const qimg_windowConst* pattern, const qimg_windowConst* patternMask, const qimg_windowConst* image,
    const qimg_windowConst* runtimeMask, const qstd_rect32* positions,
    const qstd_vector_qstd_pair32* endpoints, uint32_t endpointsFlag,
    const qsrch_normalizedCorrelationParams* params, const qsrch_peakPlanes* planes,
    const qstd_vector_* detected, qstd_vector_qsrch_detectedPosePeak* peaksOut);

// The refinement shared by one and three planes: fills one record per
// detected peak from the detector's fields, then refines it with
// qsrch_refineOnePeak. peaksOut keeps the records filled before a failure.
[[nodiscard]] qsrch_status qsrch_refineDetectedPeaks(
    const qsrch_normalizedCorrelationParams* params, const double* weights, uint32_t planeCount,
    const qsrch_peakPlanes* planes, const qstd_rect32* positions, const qstd_vector_qstd_pair32* endpoints,
    uint32_t endpointsFlag, const qsrch_shapeViews* shape, const qstd_vector_* detected,
    qstd_vector_qsrch_detectedPosePeak* peaksOut);

// Recomputes the score of one peak record (already holding the detector's
// position and flags), fits its sub-pixel position and fills contrast,
// brightness and care count. planes points at planeCount sets: 1 (weights
// unused) or 3 (scored with the weights, care counts read from the first
// set); shape is NULL where no shape score may be tried.
[[nodiscard]] qsrch_status qsrch_refineOnePeak(const qsrch_normalizedCorrelationParams* params,
                                               const double* weights, uint32_t planeCount,
                                               const qsrch_peakPlanes* planes, const qstd_rect32* positions,
                                               const qstd_vector_qstd_pair32* endpoints,
                                               uint32_t endpointsFlag, const qsrch_shapeViews* shape,
                                               qsrch_detectedPosePeak* peak);

// The score at a plane position, and the care count there (careCountOut may
// be NULL).
[[nodiscard]] qsrch_status qsrch_scoreAt(const qsrch_normalizedCorrelationParams* params,
                                         const double* weights, uint32_t planeCount,
                                         const qsrch_peakPlanes* planes, const qstd_pair32* pos,
                                         double* scoreOut, uint32_t* careCountOut);

[[nodiscard]] qsrch_status qsrch_contrastBrightnessAt(const double* weights, uint32_t planeCount,
                                                      const qsrch_peakPlanes* planes, const qstd_pair32* pos,
                                                      double* contrastOut, double* brightnessOut);

// Marks as unusable the fit neighbours (valid[9], row by row from (-1, -1))
// of position (x, y) that lie outside the endpoint runs. Does nothing unless
// a list is given with flag 1.
[[nodiscard]] qsrch_status qsrch_clearNeighboursOutsideEndpoints(const qstd_vector_qstd_pair32* endpoints,
                                                                 uint32_t endpointsFlag, int32_t x, int32_t y,
                                                                 uint32_t valid[9]);

// Raises *score to the shape score of the pattern's size at the top-left of
// the views. Masks may be NULL or without pixels.
[[nodiscard]] qsrch_status qsrch_shapeScore(const qimg_windowConst* pattern,
                                            const qimg_windowConst* patternMask,
                                            const qimg_windowConst* image,
                                            const qimg_windowConst* runtimeMask, uint8_t threshold,
                                            double* score);

}  // extern "C"

// Geometry and working-space helpers shared by the one- and three-plane peak
// kernels.
namespace qsrch {

// The search rectangle grown by one position on each side and clipped to
// the image: the neighbours of the window's border positions.
qstd_rect32 grownRect(const qstd_rect32& window, int32_t imageWidth, int32_t imageHeight);

// True when the image, the window, or the grown rectangle of a window that
// reaches past the image leaves the pattern no candidate position.
bool noPeakPositions(const qimg_windowConst& pattern, const qimg_windowConst& image,
                     const qstd_rect32& window, const qstd_rect32& grown);

// A view narrowed to the grown rectangle, in its own frame from (0, 0).
Status narrowToGrown(const qimg_windowConst& view, const qstd_rect32& grown, qimg_windowConst* out);

// floor(x + 0.5) as an unsigned 32-bit value; out-of-range values saturate
// rather than wrap.
uint32_t roundedUnsigned(double x);


// Fills `dilated` (constructed, empty) with the caller's run list grown by
// one position in every direction, a pair per row of `image` at least.
Status dilateEndpointsForPeaks(const qstd_vector_qstd_pair32* endpoints, const qimg_windowConst& pattern,
                               const qimg_windowConst& image, qstd_vector_qstd_pair32* dilated);

// Where the statistics planes of one peak call live. The planes of one
// element type share one block and are interleaved by rows (row y of each
// plane in turn), so that the rows a score reads lie together: S elements of
// room per plane row, nx or, with endpoints, 4*floor(nx/4) + 4 with the
// block aligned to 16 bytes. Single-valued pattern statistics follow the
// last row. Several plane sets (three for colour) share one care-count
// plane. The kernels that fill image sums and sums of squares (and the
// runtime-masked pattern statistics) write both element types at one
// stride, so on the double path both blocks step by the larger plane count.
struct PeakPlaneLayout {
    bool doubles;
    bool runtimeMasked;
    bool aligned;  // endpoints in use: rows of whole 16-byte groups
    uint32_t planeSets;
    int32_t nx, ny;
    size_t room;       // S
    size_t pitch32;    // planes per row step in the unsigned block
    size_t pitchD;     // planes per row step in the double block
    size_t singles32;  // single-valued statistics after the last row
    size_t singlesD;

    static constexpr size_t kAlignmentRoom = 3;  // elements, for a 4-byte element and 16 bytes

    PeakPlaneLayout(bool doublePath, bool masked, bool endpoints, uint32_t sets, int32_t nx_,
                    int32_t ny_);
    size_t rows32() const { return pitch32 * room * static_cast<size_t>(ny); }
    size_t rowsD() const { return pitchD * room * static_cast<size_t>(ny); }
    size_t count32() const { return rows32() + singles32 + (aligned ? kAlignmentRoom : 0); }
    size_t countD() const { return pitchD == 0 ? 0 : rowsD() + singlesD; }
};

// Points layout.planeSets plane sets into the blocks.
void placePeakPlanes(const PeakPlaneLayout& layout, uint32_t* block32, double* blockD,
                     qsrch_peakPlanes* sets);

// What one peak call works on, whatever its plane set.
struct PeakCall {
    const qimg_windowConst* pattern0;  // sizes are read from the first plane
    const qimg_windowConst* image[3];  // one per plane of the set
    const qimg_windowConst* runtimeMask;  // in use when non-null
    qstd_rect32 window;
    const qstd_vector_qstd_pair32* endpoints;
    uint32_t endpointsFlag;
    bool doubles;  // double statistics; endpoints are then not in use
    const qsrch_normalizedCorrelationParams* params;
    double peakThreshold;
};

// The candidate positions of one call: the grown rectangle's, in the image's
// frame (x0, y0, nx, ny), and the endpoint list in use (or NULL).
struct PeakGrid {
    qstd_rect32 positions;
    const qstd_vector_qstd_pair32* endpoints;
};

// The image views of one call narrowed to the grown rectangle, origin (0, 0).
struct NarrowedViews {
    qimg_windowConst image[3];
    qimg_windowConst runtimeMask;
    bool runtimeMasked;
    const qimg_windowConst* runtimeMaskInUse() const { return runtimeMasked ? &runtimeMask : nullptr; }
};

// What the grey and the colour peak kernels do differently; runPeakPipeline
// does the rest alike for both.
class PeakPlaneSet {
public:
    const uint32_t planeCount;
    // The colour space has a pixel per candidate position of the whole image;
    // the grey one holds the grown rectangle's positions alone.
    const bool spaceCoversImage;

    PeakPlaneSet(uint32_t count, bool coversImage) : planeCount(count), spaceCoversImage(coversImage) {}
    virtual ~PeakPlaneSet() = default;

    // Fills the planes (laid out) from the narrowed views; careTotalOut is
    // the care count the care limit is taken of.
    virtual Status fillStatistics(const NarrowedViews& views, const qstd_vector_qstd_pair32* endpoints,
                                  const qsrch_peakPlanes* planes, uint32_t* careTotalOut) const = 0;
    // Scores the planes' nx x ny positions into `scores` (row stride in doubles).
    virtual Status scoreSpace(const qsrch_peakPlanes* planes, int32_t nx, int32_t ny,
                              const qstd_vector_qstd_pair32* endpoints, double* scores,
                              int32_t scoresStride) const = 0;
    // The smallest care count a reported peak may have (0: no limit).
    virtual uint32_t careLimit(uint32_t careTotal, float fraction) const = 0;
    // Turns the detected peaks into pose peaks; positions is the grid.
    virtual Status refine(const NarrowedViews& views, const qstd_rect32& positions,
                          const qsrch_peakPlanes* planes, const qstd_vector_* detected,
                          qstd_vector_qsrch_detectedPosePeak* peaksOut) const = 0;
};

// The working space of one peak call: the statistics blocks, the score
// space, the detector's peaks (detected, unmade while elementSize is 0) and
// the views and grid the planes were computed on. Released together when it
// goes, so a caller may keep it past the call (see DeferredPeaks).
struct PeakWork {
    uint32_t* block32 = nullptr;
    qstd_vectord blockD{nullptr, 0, 0};
    qimg_image space;
    qstd_vector_ detected{};
    NarrowedViews views{};
    qstd_rect32 positions{};
    qsrch_peakPlanes planes[3]{};

    PeakWork();
    PeakWork(const PeakWork&) = delete;
    PeakWork& operator=(const PeakWork&) = delete;
    ~PeakWork();

    // Releases the space and the detector's peaks, which refining the peaks
    // does not read, keeping the planes and views.
    void releaseSpaceAndPeaks();
};

// The shared steps of a peak call up to detection: working space, narrowed
// views, planes, space and the detector's peaks, with the plane set's own
// steps between. A pattern without candidate position leaves detected unmade.
Status detectIntoWork(const PeakPlaneSet& set, const PeakCall& call, PeakWork* work);

// A whole peak call: detectIntoWork, then the refinement of every peak (an
// empty answer when the pattern has no candidate position).
Status runPeakPipeline(const PeakPlaneSet& set, const PeakCall& call, qstd_vector_qsrch_detectedPosePeak* peaksOut);

// A grey peak call whose peaks are refined one at a time, when the caller
// needs them: the work they are refined from and what the refinement reads.
// A search usually follows only the first few of many start-level peaks.
class DeferredPeaks {
public:
    // True once computeGreyPeaksDeferred has made the records.
    bool active = false;
    PeakWork work;
    qsrch_normalizedCorrelationParams params{};
    const qimg_windowConst* pattern = nullptr;
    const qimg_windowConst* patternMask = nullptr;

    // Refines one of the records, exactly as the whole peak call would.
    Status refine(qsrch_detectedPosePeak* peak) const;
};

// The grey peak call of qsrch_computePeaksCommon without endpoints, leaving
// in recordsOut one record per detected peak, in the detector's order, as
// the refinement starts from (see recordOfDetected); deferred keeps what
// refining them needs. window may be NULL (the whole image).
Status computeGreyPeaksDeferred(const qimg_windowConst* pattern, const qimg_windowConst* patternMask,
                                const qimg_windowConst* image, const qimg_windowConst* runtimeMask,
                                const qstd_rect32* window, const qsrch_normalizedCorrelationParams* params,
                                const qsrch_givenPatternStats& given, double peakThreshold,
                                DeferredPeaks* deferred, qstd_vector_qsrch_detectedPosePeak* recordsOut);

// A pose-peak record filled from the detector's fields, before refinement.
Status recordOfDetected(const qip_detectedPeak& detected, qsrch_detectedPosePeak* peak);

// What the statistics of every plane of a call read.
struct PlaneStatisticsInputs {
    const qimg_windowConst* const* pattern;  // one per plane
    const qimg_windowConst* patternMask;     // may be NULL or without pixels
    const qimg_windowConst* image;           // the narrowed views, one per plane
    const qimg_windowConst* runtimeMask;     // in use when non-null
    const qstd_vector_qstd_pair32* endpoints;  // in use when non-null
    // With endpoints in use, the per-position pattern sums too are taken on
    // the dilated runs alone (the colour kernel); else everywhere.
    bool patternSumsOnRuns;
};

// Fills the inner products, image sums and per-position pattern statistics
// of planeCount plane sets; the endpoint list is dilated once for all.
Status computePlaneStatistics(const PlaneStatisticsInputs& in, uint32_t planeCount,
                              const qsrch_peakPlanes* planes);

}  // namespace qsrch
