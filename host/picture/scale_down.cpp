#include "host/picture/scale_down.h"

#include <algorithm>
#include <vector>

void ScaleDown(const YcFrame& source, int width, int rowPadding, YcFrame& reduced) {
    width = std::clamp(width, 1, std::max(source.width, 1));
    const int height = std::max(1, int((int64_t(source.height) * width + source.width / 2) / source.width));
    reduced.Resize(width, height, width + rowPadding);
    reduced.frameParameters = source.frameParameters;
    // Each output column covers source columns [start[x], start[x + 1]).
    std::vector<int> start(size_t(width) + 1);
    for (int x = 0; x <= width; ++x) start[size_t(x)] = int(int64_t(x) * source.width / width);
    std::vector<int64_t> sums(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        const int top = int(int64_t(y) * source.height / height), bottom = int(int64_t(y + 1) * source.height / height);
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = top; sy < bottom; ++sy) {
            const PIXEL_YC* row = source.Row(sy);
            for (int x = 0; x < width; ++x) {
                int64_t* sum = &sums[size_t(x) * 3];
                for (int sx = start[size_t(x)]; sx < start[size_t(x) + 1]; ++sx) {
                    sum[0] += row[sx].y;
                    sum[1] += row[sx].cb;
                    sum[2] += row[sx].cr;
                }
            }
        }
        PIXEL_YC* out = reduced.Row(y);
        for (int x = 0; x < width; ++x) {
            const int64_t count = int64_t(bottom - top) * (start[size_t(x) + 1] - start[size_t(x)]);
            const auto mean = [count](int64_t sum) {
                return int16_t(sum >= 0 ? (sum + count / 2) / count : -((-sum + count / 2) / count));
            };
            const int64_t* sum = &sums[size_t(x) * 3];
            out[x] = PIXEL_YC{mean(sum[0]), mean(sum[1]), mean(sum[2])};
        }
    }
}
