// The photographs of bench/photos as 8-bit grey planes, shared by the
// programs that measure on real images. Decoding needs libpng.
#pragma once

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <qsrch/qsrch.h>

namespace bench {

// Ends the program on a failed call: a measurement without it means nothing.
inline void check(qsrch_status s, const char* what)
{
    if (QSRCH_FAILED(s)) {
        std::fprintf(stderr, "%s failed: %s\n", what, qsrch_statusName(s));
        std::exit(2);
    }
}


// A dense grey plane: row stride = width.
struct Grey {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    Grey() = default;
    Grey(int32_t w, int32_t h) : width(w), height(h), pixels(size_t(w) * size_t(h)) {}
    uint8_t& at(int32_t x, int32_t y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    uint8_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    qimg_windowConst window() const
    {
        qimg_windowConst v{};
        v.width = v.imageWidth = v.rowStride = width;
        v.height = v.imageHeight = height;
        v.depth = QIMG_DEPTH_8U;
        v.firstPixel = v.imageFirstPixel = pixels.data();
        return v;
    }
};

inline bool loadPng(const std::string& path, Grey* out)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_GRAY;
    *out = Grey(int32_t(image.width), int32_t(image.height));
    return png_image_finish_read(&image, nullptr, out->pixels.data(), 0, nullptr) != 0;
}

// Every PNG of the folder, by file name; a file that does not decode ends
// the program.
inline std::vector<std::pair<std::string, Grey>> loadPhotos(const std::string& folder)
{
    std::vector<std::pair<std::string, Grey>> photos;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".png") continue;
        Grey g;
        if (!loadPng(entry.path().string(), &g)) {
            std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
            std::exit(2);
        }
        photos.emplace_back(entry.path().stem().string(), std::move(g));
    }
    std::sort(photos.begin(), photos.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return photos;
}

}  // namespace bench
