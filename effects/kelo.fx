// kelo.fx: the colour correction of the kelo filter, two passes of ps_2_0.
//
// Texels hold (0, Y, Cb, Cr): the host's values divided by 4096, so nominal
// Y runs from 0 to 1 and Cb, Cr from -0.5 to 0.5. Nothing is clipped: values
// outside those ranges go through the same arithmetic.
//
// Pass 0 "AdjustYc" reads txTgt and writes texTmp, component by component:
//     out = in * ycAmp + ycOffs
//   that is Y' = Y * ycAmp.y + ycOffs.y, Cb' = Cb * ycAmp.z + ycOffs.z,
//   Cr' = Cr * ycAmp.w + ycOffs.w, and red stays 0 * 0 + 0 = 0.
//
// Pass 1 "AdjustBgr" reads txTmp and writes texTgt (the texture read back):
//   1. To R, G, B with BT.601 (Kr = 0.299, Kb = 0.114), in the texel scale:
//        R = Y + 1.402 Cr
//        G = Y - 0.344136286 Cb - 0.714136286 Cr
//        B = Y + 1.772 Cb
//   2. For each of B, G, R as v, with its components of the vectors (blue in
//      y, green in z, red in w):
//        v' = sign(v) * |v|^bgrGamma * bgrAmp + bgrOffs
//      The power acts on the magnitude and the sign is put back, so a
//      negative value stays finite and keeps its sign; 0 stays 0.
//   3. Back to Y, Cb, Cr with the inverse of step 1:
//        Y = 0.299 R + 0.587 G + 0.114 B
//        Cb = (B - Y) / 1.772
//        Cr = (R - Y) / 1.402
//      and the pass writes (0, Y, Cb, Cr).
//
// The vectors' defaults (all tracks at 0) are gains 1, offsets 0, exponents
// 1: the identity up to float rounding. Texels from the host's 16-bit values
// are at most 8 in magnitude, so with gains up to 2, offsets up to 1 and
// exponents up to 10 every intermediate value stays below 1e18: no pass turns
// a finite texel into an infinity or a NaN.

float4 ycOffs = {0.0, 0.0, 0.0, 0.0};
float4 ycAmp = {0.0, 1.0, 1.0, 1.0};
float4 bgrOffs = {0.0, 0.0, 0.0, 0.0};
float4 bgrAmp = {0.0, 1.0, 1.0, 1.0};
float4 bgrGamma = {1.0, 1.0, 1.0, 1.0};

texture txTgt;
texture txTmp;

// Every texel is read at its centre: no filtering, nothing beyond the edges.
sampler sTgt = sampler_state {
    Texture = <txTgt>;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
    AddressU = CLAMP;
    AddressV = CLAMP;
};

sampler sTmp = sampler_state {
    Texture = <txTmp>;
    MinFilter = POINT;
    MagFilter = POINT;
    MipFilter = NONE;
    AddressU = CLAMP;
    AddressV = CLAMP;
};

float4 AdjustYcPS(float2 uv : TEXCOORD0) : COLOR0
{
    return tex2D(sTgt, uv) * ycAmp + ycOffs;
}

float4 AdjustBgrPS(float2 uv : TEXCOORD0) : COLOR0
{
    float4 ycc = tex2D(sTmp, uv);
    float y = ycc.y;
    float cb = ycc.z;
    float cr = ycc.w;

    float3 bgr = float3(y + 1.772 * cb,
                        y - 0.344136286 * cb - 0.714136286 * cr,
                        y + 1.402 * cr);
    bgr = sign(bgr) * pow(abs(bgr), bgrGamma.yzw) * bgrAmp.yzw + bgrOffs.yzw;

    float luma = dot(bgr, float3(0.114, 0.587, 0.299));
    return float4(0.0, luma, (bgr.x - luma) / 1.772, (bgr.z - luma) / 1.402);
}

technique ColorCorrection
{
    pass AdjustYc
    {
        PixelShader = compile ps_2_0 AdjustYcPS();
    }
    pass AdjustBgr
    {
        PixelShader = compile ps_2_0 AdjustBgrPS();
    }
}
