// Conversion between pictures and the host's YC scale, where Y = 4096 is
// nominal white and Cb, Cr = +-2048 are the nominal chroma extremes.
#pragma once

#include <vector>

#include "host/picture/picture.h"

// BT.601 between gamma-encoded R'G'B' in 0..1 and the YC scale.
PIXEL_YC YcFromRgb(double r, double g, double b);
void RgbFromYc(const PIXEL_YC& yc, double rgb[3]);

// Converts pictures of one format. Y'CbCr samples go through tables built
// once for the format, so every code maps the same way in every frame.
class YcConverter {
public:
    explicit YcConverter(const PictureFormat& format);

    const PictureFormat& format() const { return format_; }

    // `frame` must already have the picture's width and height.
    void ToYc(const Picture& picture, YcFrame& frame) const;
    // Shapes `picture` after the frame and this converter's format.
    void FromYc(const YcFrame& frame, Picture& picture) const;
    // The same through the tables alone: what FromYc must match exactly.
    void FromYcByTables(const YcFrame& frame, Picture& picture) const;

private:
    // code = clamp((yc * multiplier + offset) >> 12): the tables' values in
    // integer arithmetic, which the compiler can vectorise.
    struct Affine {
        int32_t multiplier = 0, offset = 0;
    };
    void ShapePicture(const YcFrame& frame, Picture& picture) const;
    template <typename Sample>
    void PlanesFromYcAffine(const YcFrame& frame, const Picture& picture, Sample* samples) const;
    template <typename Sample>
    void PlanesToYc(const Sample* samples, const Picture& picture, YcFrame& frame) const;
    template <typename Sample>
    void PlanesFromYc(const YcFrame& frame, const Picture& picture, Sample* samples) const;
    template <typename Sample>
    void RgbToYc(const Sample* samples, YcFrame& frame) const;
    template <typename Sample>
    void RgbFromYcFrame(const YcFrame& frame, Sample* samples) const;

    PictureFormat format_;
    std::vector<int16_t> lumaToYc_;     // by code
    std::vector<int16_t> chromaToYc_;   // by code
    std::vector<uint16_t> ycToLuma_;    // by YC value as uint16
    std::vector<uint16_t> ycToChroma_;  // by YC value as uint16
    std::vector<double> rgbLevel_;      // by code: 0..1
    // Set where the products fit in 32 bits (all but 16-bit full range).
    bool affine_ = false;
    Affine lumaCode_, chromaCode_;
};
