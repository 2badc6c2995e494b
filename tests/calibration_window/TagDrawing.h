#pragma once

#include <opencv2/core.hpp>

// Draws TAG16h5 marker `id` (0..29, as the family's own codes give it, with
// its white outer ring) into an 8-bit image: cells of `cell` pixels, the top
// left of the white ring at `topLeft`, turned clockwise by `quarterTurns`
// times 90 degrees. Cells that fall outside the image are left out.
void drawTag16h5(cv::Mat &image, int id, cv::Point topLeft, int cell, int quarterTurns = 0);
