// The vertex stage of Direct3D 9's pre-transformed vertices (POSITIONT), made
// to match one pixel shader: positions are in pixels with pixel centres on
// integers, where Vulkan puts them at +0.5, and no Y flip is needed (both put
// row 0 at the top); each pixel-shader input gets the texture-coordinate set
// its semantic names, with exactly its number of components.
#pragma once

#include <string>
#include <vector>

#include "platform/d3dx9/hlsl_compiler.h"

// Inputs of the generated shader: location 0 the position, 1 + n the
// texture-coordinate set n, only for the sets it reads (bit n of the mask).
// Push constants: the render target's (2/W, 2/H).
std::string PretransformedVertexShader(const std::vector<ShaderInput>& pixelInputs);
uint32_t TexcoordSetsRead(const std::vector<ShaderInput>& pixelInputs);
