// Pictures of search results: the scene with each result's pattern
// rectangle outlined (accepted in green, rejected in red) and numbered.
#pragma once

#include <vector>

#include "image_io.hpp"

namespace qtool {

struct Outline {
    double x, y;            // where the pattern's top-left pixel lies in the scene
    int32_t width, height;  // the pattern's size
    bool accepted;
    int number;  // the result's number in the printed table
};

// The scene, made RGB, with the outlines drawn; later outlines lie on top.
// An RGB scene moved in is drawn on in place.
Image drawOutlines(Image scene, const std::vector<Outline>& outlines);

}  // namespace qtool
