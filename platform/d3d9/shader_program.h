// The shaders of an effect pass with their resources, as the effect hands them
// to the device: the SPIR-V modules of the pre-transformed vertex stage and of
// the pixel shader, the pixel shader's uniform buffer, its samplers, the descriptor set that
// binds them, and the pipelines built from it, one per render-target format
// and vertex layout, created on first use and kept until the program goes.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/sampler_state.h"
#include "platform/d3d9/vertex_declaration.h"
#include "platform/d3d9_api.h"

class Texture;

struct ProgramLayout {
    uint32_t uniformBinding = 0;
    uint32_t uniformBytes = 0;  // 0: the shader reads no uniform
    std::vector<SamplerBinding> samplers;
    // Bit n: the vertex stage reads texture-coordinate set n.
    uint32_t texcoordSetsRead = 0;
};

struct PipelineKey {
    VkFormat format;
    VkPrimitiveTopology topology;
    UINT stride;
    VertexLayout vertices;

    bool operator==(const PipelineKey&) const = default;
};

class ShaderProgram {
public:
    static HRESULT Create(Device& device, const std::vector<uint32_t>& vertexSpirv,
                          const std::vector<uint32_t>& pixelSpirv, const ProgramLayout& layout,
                          std::unique_ptr<ShaderProgram>* program);
    ~ShaderProgram();

    // Fills the uniform buffer (uniformBytes of them) and binds one texture
    // per sampler, in the order of the layout; a null texture reads as
    // (0, 0, 0, 1). Waits first if a recorded draw still uses the old ones.
    HRESULT Prepare(const void* uniforms, Texture* const* textures);

    HRESULT GetPipeline(const PipelineKey& key, VkPipeline* pipeline);
    VkPipelineLayout pipelineLayout() const { return pipelineLayout_; }
    VkDescriptorSet descriptors() const { return descriptors_; }
    // Before a draw: readies the textures for sampling and records that the
    // current batch uses the program and its textures.
    void UseInDraw();
    bool Samples(const Texture* texture) const;

private:
    ShaderProgram(Device& device, const ProgramLayout& layout);
    HRESULT Build(const std::vector<uint32_t>& vertexSpirv,
                  const std::vector<uint32_t>& pixelSpirv);

    struct CachedPipeline {
        PipelineKey key;
        VkPipeline pipeline;
    };

    Device& device_;
    ProgramLayout layout_;
    VkShaderModule vertexModule_ = VK_NULL_HANDLE;
    VkShaderModule pixelModule_ = VK_NULL_HANDLE;
    VkDescriptorSetLayout setLayout_ = VK_NULL_HANDLE;
    VkPipelineLayout pipelineLayout_ = VK_NULL_HANDLE;
    VkDescriptorPool pool_ = VK_NULL_HANDLE;
    VkDescriptorSet descriptors_ = VK_NULL_HANDLE;
    std::vector<VkSampler> samplers_;
    HostBuffer uniforms_;
    std::vector<Texture*> textures_;
    std::vector<CachedPipeline> pipelines_;
    uint64_t batch_ = 0;
};

// Push constants of the pre-transformed vertex stage.
struct VertexTransform {
    float pixelToNdc[2];  // (2 / width, 2 / height) of the render target
};
