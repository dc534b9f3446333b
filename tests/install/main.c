/* A plain C99 client of the installed package: it includes the umbrella
 * header, builds an image and a view, and calls a kernel and a validator. */
#include <qsrch/qsrch.h>
#include <stdio.h>

int main(void)
{
    qimg_image image;
    qimg_windowConst view, pattern;
    uint32_t sums[4 * 4];
    qsrch_runParams params;
    qsrch_status s;
    int k;

    if (qsrch_versionNumber() != QSRCH_VERSION_NUMBER) return 1;
    s = qimg_image_construct(&image, QIMG_DEPTH_8U, 8, 8);
    if (QSRCH_FAILED(s)) return 2;
    qip_pelSet8(&image, 3);
    qimg_windowConst_init(&view, qimg_image_asConst(&image));
    pattern = view;
    qimg_windowConst_window(&pattern, 0, 0, 5, 5, NULL);
    s = qsrch_computeImageSumMask(&pattern, &view, sums, 4);
    qimg_image_destruct(&image);
    if (QSRCH_FAILED(s)) return 3;
    for (k = 0; k < 16; ++k)
        if (sums[k] != 75) return 4;
    qsrch_runParams_init(&params);
    params.acceptThreshold = 0.9f;
    if (qsrch_runParams_validate(&params) != QSRCH_E_ACCEPT_ABOVE_CONFUSION) return 5;
    printf("installed qsrch %u works: %s\n", qsrch_versionNumber(),
           qsrch_statusName(QSRCH_E_ACCEPT_ABOVE_CONFUSION));
    return 0;
}
