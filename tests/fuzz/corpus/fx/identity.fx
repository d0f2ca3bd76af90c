texture txTgt;
texture txTmp < string UIName = "tmp"; >;
sampler2D smpTgt = sampler_state { Texture = <txTgt>; MinFilter = POINT; MagFilter = POINT; AddressU = CLAMP; AddressV = CLAMP; };
sampler smpTmp = sampler_state { Texture = (txTmp); MipFilter = NONE; };
float4 ycOffs = float4(0, 0, 0, 0);
float4 bgrGamma = {1, 1, 1, 1};
static const float3 kLuma = float3(0.299, 0.587, 0.114);
float4x4 m;
float arr[3];
struct S { float4 a; };
float4 FromTgt(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(smpTgt, uv) + ycOffs; }
float4 FromTmp(float2 uv : TEXCOORD1) : COLOR0 { return tex2D(smpTmp, uv); }
technique ColorCorrection < string Desc = "x"; > {
    pass P0 { PixelShader = compile ps_2_0 FromTgt(); VertexShader = NULL; ZEnable = false; }
    pass P1 { PixelShader = compile ps_2_a FromTmp(); Sampler[0] = <smpTmp>; }
}
technique Other { }
