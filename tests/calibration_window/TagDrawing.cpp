#include "TagDrawing.h"

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>

#include <memory>
#include <vector>

void drawTag16h5(cv::Mat &image, int id, cv::Point topLeft, int cell, int quarterTurns)
{
    std::unique_ptr<apriltag_family_t, void (*)(apriltag_family_t *)> family(tag16h5_create(), tag16h5_destroy);
    if (id < 0 || id >= static_cast<int>(family->ncodes))
        return;
    // The family's cells: a white ring, the black border, the code's bits
    // inside it (1 = white), most significant bit first.
    const int border = family->width_at_border;
    const int n = border + 2;
    std::vector<unsigned char> cells(n * n, 255);
    for (int i = 1; i <= border; ++i)
        for (int j = 1; j <= border; ++j)
            cells[i * n + j] = 0;
    const uint64_t code = family->codes[id];
    for (uint32_t b = 0; b < family->nbits; ++b)
        if ((code >> (family->nbits - 1 - b)) & 1)
            cells[(family->bit_y[b] + 1) * n + family->bit_x[b] + 1] = 255;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            int r = i, c = j;
            for (int q = 0; q < (quarterTurns % 4 + 4) % 4; ++q) {
                const int rr = c, cc = n - 1 - r;
                r = rr;
                c = cc;
            }
            const cv::Rect where = cv::Rect(topLeft.x + c * cell, topLeft.y + r * cell, cell, cell)
                & cv::Rect(0, 0, image.cols, image.rows);
            if (!where.empty())
                image(where).setTo(cells[i * n + j]);
        }
}
