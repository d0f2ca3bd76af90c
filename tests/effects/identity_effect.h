// A two-pass effect that changes nothing: pass 0 copies "txTgt" into the
// temporary target, pass 1 copies "txTmp" back. Every texel is read at its
// centre, so the frame must come back exactly as it went up.
#pragma once

inline constexpr char kIdentityTwoPassEffect[] = R"(
texture txTgt;
texture txTmp;
sampler sTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
sampler sTmp = sampler_state { Texture = <txTmp>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
float4 FromTgt(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTgt, uv); }
float4 FromTmp(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(sTmp, uv); }
technique ColorCorrection {
    pass There { PixelShader = compile ps_2_0 FromTgt(); }
    pass Back { PixelShader = compile ps_2_0 FromTmp(); }
}
)";
