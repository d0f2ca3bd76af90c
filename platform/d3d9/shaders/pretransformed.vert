#version 450
// Direct3D 9's pre-transformed vertices (POSITIONT): positions in pixels with
// pixel centres on integers, where Vulkan puts them at +0.5. No Y flip: both
// put row 0 at the top. Each fragment-shader input location receives the
// texture-coordinate set its HLSL semantic names, chosen per draw.
layout(location = 0) in vec4 position;  // x, y in pixels, z, rhw
layout(location = 1) in vec4 texcoord[8];

layout(push_constant) uniform Transform {
    vec2 pixelToNdc;         // (2 / width, 2 / height) of the render target
    uint texcoordOfOutput[8];
} transform;

layout(location = 0) out vec4 varyings[8];

void main() {
    vec2 ndc = (position.xy + 0.5) * transform.pixelToNdc - 1.0;
    gl_Position = vec4(ndc, position.z, 1.0) / position.w;
    for (int i = 0; i < 8; ++i) varyings[i] = texcoord[transform.texcoordOfOutput[i]];
}
