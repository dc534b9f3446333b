/* examples/find_pattern.c: train a model on a pattern and find it in a scene. */
#include <stdint.h>
#include <stdio.h>

#include <qsrch/qsrch.h>

/* A texture without repeats: the pattern is the part of it at (37, 21). */
static uint8_t texture(int32_t x, int32_t y)
{
    uint32_t h = (uint32_t)(x / 2) * 73856093u ^ (uint32_t)(y / 2) * 19349663u;
    h = (h ^ (h >> 13)) * 0x5bd1e995u;
    return (uint8_t)((h ^ (h >> 15)) & 0xFF);
}

static qsrch_status paint(qimg_image* image, int32_t width, int32_t height, int32_t dx, int32_t dy)
{
    qsrch_status s = qimg_image_construct(image, QIMG_DEPTH_8U, width, height);
    for (int32_t y = 0; !QSRCH_FAILED(s) && y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            ((uint8_t*)image->firstPixel)[y * image->rowStride + x] = texture(x + dx, y + dy);
    return s;
}

int main(void)
{
    qimg_image pattern, scene;
    qsrch_model model;
    qsrch_trainParams train;
    qsrch_runParams run;
    qsrch_resultSet results;

    qsrch_status s = paint(&pattern, 32, 32, 37, 21);
    if (!QSRCH_FAILED(s)) s = paint(&scene, 160, 120, 0, 0);
    if (!QSRCH_FAILED(s)) s = qsrch_model_construct(&model);
    if (QSRCH_FAILED(s)) {
        fprintf(stderr, "%s\n", qsrch_statusName(s));
        return 1;
    }

    qsrch_trainParams_init(&train);          /* granularities from the pattern size */
    s = qsrch_model_train(&model, qimg_image_asConst(&pattern), &train);

    qsrch_runParams_init(&run);
    run.numToFind = 2;                       /* accept 0.3, confusion 0.5 by default */
    qsrch_resultSet_construct(&results);
    if (!QSRCH_FAILED(s))
        s = qsrch_run(&model, qimg_image_asConst(&scene), &run, &results);
    for (int32_t k = 0; !QSRCH_FAILED(s) && k < results.count; ++k)
        printf("found at (%.2f, %.2f), score %.3f%s\n", results.entries[k].point.x,
               results.entries[k].point.y, results.entries[k].score,
               results.entries[k].accepted ? "" : " (rejected)");
    if (QSRCH_FAILED(s))
        fprintf(stderr, "%s\n", qsrch_statusName(s));

    qsrch_resultSet_destruct(&results);
    qsrch_model_destruct(&model);
    qimg_image_destruct(&scene);
    qimg_image_destruct(&pattern);
    return QSRCH_FAILED(s) ? 1 : 0;
}
