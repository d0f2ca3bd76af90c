#include "platform/d3d9/shader_program.h"

#include <cstring>

#include "platform/d3d9/texture.h"

namespace {

VkFilter ToVulkan(SamplerFilter filter) {
    return filter == SamplerFilter::Linear ? VK_FILTER_LINEAR : VK_FILTER_NEAREST;
}

VkSamplerAddressMode ToVulkan(SamplerAddress address) {
    switch (address) {
        case SamplerAddress::Wrap: return VK_SAMPLER_ADDRESS_MODE_REPEAT;
        case SamplerAddress::Mirror: return VK_SAMPLER_ADDRESS_MODE_MIRRORED_REPEAT;
        case SamplerAddress::Clamp: return VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
        case SamplerAddress::Border: return VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_BORDER;
        case SamplerAddress::MirrorOnce: return VK_SAMPLER_ADDRESS_MODE_MIRROR_CLAMP_TO_EDGE;
    }
    return VK_SAMPLER_ADDRESS_MODE_REPEAT;
}

VkFormat AttributeFormat(uint8_t components) {
    static constexpr VkFormat kFormats[] = {VK_FORMAT_R32_SFLOAT, VK_FORMAT_R32G32_SFLOAT,
                                            VK_FORMAT_R32G32B32_SFLOAT,
                                            VK_FORMAT_R32G32B32A32_SFLOAT};
    return kFormats[components - 1];
}

}  // namespace

HRESULT ShaderProgram::Create(Device& device, const std::vector<uint32_t>& vertexSpirv,
                              const std::vector<uint32_t>& pixelSpirv,
                              const ProgramLayout& layout,
                              std::unique_ptr<ShaderProgram>* program) {
    std::unique_ptr<ShaderProgram> created(new ShaderProgram(device, layout));
    HRESULT result = created->Build(vertexSpirv, pixelSpirv);
    if (FAILED(result)) return result;
    *program = std::move(created);
    return D3D_OK;
}

ShaderProgram::ShaderProgram(Device& device, const ProgramLayout& layout)
    : device_(device), layout_(layout), textures_(layout.samplers.size(), nullptr) {}

ShaderProgram::~ShaderProgram() {
    if (device_.Pending(batch_)) device_.Flush();
    VkDevice vk = device_.vk();
    for (const CachedPipeline& cached : pipelines_) vkDestroyPipeline(vk, cached.pipeline, nullptr);
    for (VkSampler sampler : samplers_) vkDestroySampler(vk, sampler, nullptr);
    vkDestroyDescriptorPool(vk, pool_, nullptr);
    vkDestroyPipelineLayout(vk, pipelineLayout_, nullptr);
    vkDestroyDescriptorSetLayout(vk, setLayout_, nullptr);
    vkDestroyShaderModule(vk, pixelModule_, nullptr);
    vkDestroyShaderModule(vk, vertexModule_, nullptr);
    device_.DestroyHostBuffer(&uniforms_);
}

HRESULT ShaderProgram::Build(const std::vector<uint32_t>& vertexSpirv,
                             const std::vector<uint32_t>& pixelSpirv) {
    VkDevice vk = device_.vk();
    VkShaderModuleCreateInfo moduleInfo{};
    moduleInfo.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    moduleInfo.codeSize = vertexSpirv.size() * sizeof(uint32_t);
    moduleInfo.pCode = vertexSpirv.data();
    VkResult vr = vkCreateShaderModule(vk, &moduleInfo, nullptr, &vertexModule_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
    moduleInfo.codeSize = pixelSpirv.size() * sizeof(uint32_t);
    moduleInfo.pCode = pixelSpirv.data();
    vr = vkCreateShaderModule(vk, &moduleInfo, nullptr, &pixelModule_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);

    std::vector<VkDescriptorSetLayoutBinding> bindings;
    if (layout_.uniformBytes > 0) {
        bindings.push_back({layout_.uniformBinding, VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1,
                            VK_SHADER_STAGE_FRAGMENT_BIT, nullptr});
        HRESULT result = device_.CreateHostBuffer(layout_.uniformBytes,
                                                  VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT, &uniforms_);
        if (FAILED(result)) return result;
        std::memset(uniforms_.mapped, 0, layout_.uniformBytes);
    }
    for (const SamplerBinding& sampler : layout_.samplers) {
        bindings.push_back({sampler.binding, VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER, 1,
                            VK_SHADER_STAGE_FRAGMENT_BIT, nullptr});
        VkSamplerCreateInfo samplerInfo{};
        samplerInfo.sType = VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO;
        samplerInfo.magFilter = ToVulkan(sampler.magFilter);
        samplerInfo.minFilter = ToVulkan(sampler.minFilter);
        samplerInfo.mipmapMode = VK_SAMPLER_MIPMAP_MODE_NEAREST;
        samplerInfo.addressModeU = ToVulkan(sampler.addressU);
        samplerInfo.addressModeV = ToVulkan(sampler.addressV);
        samplerInfo.addressModeW = ToVulkan(sampler.addressU);
        samplerInfo.borderColor = VK_BORDER_COLOR_FLOAT_TRANSPARENT_BLACK;
        VkSampler created = VK_NULL_HANDLE;
        vr = vkCreateSampler(vk, &samplerInfo, nullptr, &created);
        if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
        samplers_.push_back(created);
    }

    VkDescriptorSetLayoutCreateInfo setInfo{};
    setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    setInfo.bindingCount = static_cast<uint32_t>(bindings.size());
    setInfo.pBindings = bindings.data();
    vr = vkCreateDescriptorSetLayout(vk, &setInfo, nullptr, &setLayout_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);

    VkPushConstantRange pushRange{VK_SHADER_STAGE_VERTEX_BIT, 0, sizeof(VertexTransform)};
    VkPipelineLayoutCreateInfo pipelineLayoutInfo{};
    pipelineLayoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    pipelineLayoutInfo.setLayoutCount = 1;
    pipelineLayoutInfo.pSetLayouts = &setLayout_;
    pipelineLayoutInfo.pushConstantRangeCount = 1;
    pipelineLayoutInfo.pPushConstantRanges = &pushRange;
    vr = vkCreatePipelineLayout(vk, &pipelineLayoutInfo, nullptr, &pipelineLayout_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);

    if (bindings.empty()) return D3D_OK;
    VkDescriptorPoolSize sizes[2];
    uint32_t sizeCount = 0;
    if (layout_.uniformBytes > 0) sizes[sizeCount++] = {VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER, 1};
    if (!layout_.samplers.empty()) {
        sizes[sizeCount++] = {VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER,
                              static_cast<uint32_t>(layout_.samplers.size())};
    }
    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = sizeCount;
    poolInfo.pPoolSizes = sizes;
    vr = vkCreateDescriptorPool(vk, &poolInfo, nullptr, &pool_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
    VkDescriptorSetAllocateInfo allocateInfo{};
    allocateInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    allocateInfo.descriptorPool = pool_;
    allocateInfo.descriptorSetCount = 1;
    allocateInfo.pSetLayouts = &setLayout_;
    vr = vkAllocateDescriptorSets(vk, &allocateInfo, &descriptors_);
    return ResultFromVulkan(vr);
}

HRESULT ShaderProgram::Prepare(const void* uniforms, Texture* const* textures) {
    if (device_.Pending(batch_)) {
        HRESULT result = device_.Flush();
        if (FAILED(result)) return result;
    }
    if (descriptors_ == VK_NULL_HANDLE) return D3D_OK;

    std::vector<VkWriteDescriptorSet> writes;
    std::vector<VkDescriptorImageInfo> images(layout_.samplers.size());
    VkDescriptorBufferInfo bufferInfo{uniforms_.buffer, 0, layout_.uniformBytes};
    if (layout_.uniformBytes > 0) {
        std::memcpy(uniforms_.mapped, uniforms, layout_.uniformBytes);
        VkWriteDescriptorSet write{};
        write.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        write.dstSet = descriptors_;
        write.dstBinding = layout_.uniformBinding;
        write.descriptorCount = 1;
        write.descriptorType = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
        write.pBufferInfo = &bufferInfo;
        writes.push_back(write);
    }
    for (size_t i = 0; i < layout_.samplers.size(); ++i) {
        textures_[i] = textures[i];
        images[i].sampler = samplers_[i];
        images[i].imageView = textures[i] != nullptr ? textures[i]->image().view
                                                     : device_.blankImageView();
        images[i].imageLayout = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
        VkWriteDescriptorSet write{};
        write.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        write.dstSet = descriptors_;
        write.dstBinding = layout_.samplers[i].binding;
        write.descriptorCount = 1;
        write.descriptorType = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
        write.pImageInfo = &images[i];
        writes.push_back(write);
    }
    vkUpdateDescriptorSets(device_.vk(), static_cast<uint32_t>(writes.size()), writes.data(), 0,
                           nullptr);
    return D3D_OK;
}

void ShaderProgram::UseInDraw() {
    batch_ = device_.batch();
    for (Texture* texture : textures_) {
        if (texture == nullptr) continue;
        device_.Prepare(&texture->image(), VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
        texture->MarkUsed();
    }
}

bool ShaderProgram::Samples(const Texture* texture) const {
    for (const Texture* bound : textures_) {
        if (bound == texture) return true;
    }
    return false;
}

HRESULT ShaderProgram::GetPipeline(const PipelineKey& key, VkPipeline* pipeline) {
    for (const CachedPipeline& cached : pipelines_) {
        if (cached.key == key) {
            *pipeline = cached.pipeline;
            return D3D_OK;
        }
    }

    VkPipelineShaderStageCreateInfo stages[2]{};
    stages[0].sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    stages[0].stage = VK_SHADER_STAGE_VERTEX_BIT;
    stages[0].module = vertexModule_;
    stages[0].pName = "main";
    stages[1].sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    stages[1].stage = VK_SHADER_STAGE_FRAGMENT_BIT;
    stages[1].module = pixelModule_;
    stages[1].pName = "main";

    // Location 0 is the position, 1 + n texture-coordinate set n, for the
    // sets the vertex stage reads. A set the declaration lacks reads the
    // position's bytes, as undefined as Direct3D 9 leaves it.
    VkVertexInputBindingDescription binding{0, key.stride, VK_VERTEX_INPUT_RATE_VERTEX};
    VkVertexInputAttributeDescription attributes[1 + kTexcoordSets];
    uint32_t attributeCount = 0;
    attributes[attributeCount++] = {0, 0, VK_FORMAT_R32G32B32A32_SFLOAT,
                                    key.vertices.positionOffset};
    for (uint32_t set = 0; set < kTexcoordSets; ++set) {
        if (!(layout_.texcoordSetsRead & (1u << set))) continue;
        int32_t offset = key.vertices.texcoordOffset[set];
        attributes[attributeCount++] =
            offset >= 0
                ? VkVertexInputAttributeDescription{1 + set, 0,
                                                    AttributeFormat(
                                                        key.vertices.texcoordComponents[set]),
                                                    static_cast<uint32_t>(offset)}
                : VkVertexInputAttributeDescription{1 + set, 0, VK_FORMAT_R32G32B32A32_SFLOAT,
                                                    key.vertices.positionOffset};
    }
    VkPipelineVertexInputStateCreateInfo vertexInput{};
    vertexInput.sType = VK_STRUCTURE_TYPE_PIPELINE_VERTEX_INPUT_STATE_CREATE_INFO;
    vertexInput.vertexBindingDescriptionCount = 1;
    vertexInput.pVertexBindingDescriptions = &binding;
    vertexInput.vertexAttributeDescriptionCount = attributeCount;
    vertexInput.pVertexAttributeDescriptions = attributes;

    VkPipelineInputAssemblyStateCreateInfo assembly{};
    assembly.sType = VK_STRUCTURE_TYPE_PIPELINE_INPUT_ASSEMBLY_STATE_CREATE_INFO;
    assembly.topology = key.topology;

    VkPipelineViewportStateCreateInfo viewport{};
    viewport.sType = VK_STRUCTURE_TYPE_PIPELINE_VIEWPORT_STATE_CREATE_INFO;
    viewport.viewportCount = 1;
    viewport.scissorCount = 1;

    VkPipelineRasterizationStateCreateInfo raster{};
    raster.sType = VK_STRUCTURE_TYPE_PIPELINE_RASTERIZATION_STATE_CREATE_INFO;
    raster.polygonMode = VK_POLYGON_MODE_FILL;
    raster.cullMode = VK_CULL_MODE_NONE;
    raster.lineWidth = 1.0f;

    VkPipelineMultisampleStateCreateInfo multisample{};
    multisample.sType = VK_STRUCTURE_TYPE_PIPELINE_MULTISAMPLE_STATE_CREATE_INFO;
    multisample.rasterizationSamples = VK_SAMPLE_COUNT_1_BIT;

    VkPipelineColorBlendAttachmentState blendAttachment{};
    blendAttachment.colorWriteMask = VK_COLOR_COMPONENT_R_BIT | VK_COLOR_COMPONENT_G_BIT |
                                     VK_COLOR_COMPONENT_B_BIT | VK_COLOR_COMPONENT_A_BIT;
    VkPipelineColorBlendStateCreateInfo blend{};
    blend.sType = VK_STRUCTURE_TYPE_PIPELINE_COLOR_BLEND_STATE_CREATE_INFO;
    blend.attachmentCount = 1;
    blend.pAttachments = &blendAttachment;

    VkDynamicState dynamicStates[] = {VK_DYNAMIC_STATE_VIEWPORT, VK_DYNAMIC_STATE_SCISSOR};
    VkPipelineDynamicStateCreateInfo dynamic{};
    dynamic.sType = VK_STRUCTURE_TYPE_PIPELINE_DYNAMIC_STATE_CREATE_INFO;
    dynamic.dynamicStateCount = 2;
    dynamic.pDynamicStates = dynamicStates;

    VkPipelineRenderingCreateInfo rendering{};
    rendering.sType = VK_STRUCTURE_TYPE_PIPELINE_RENDERING_CREATE_INFO;
    rendering.colorAttachmentCount = 1;
    rendering.pColorAttachmentFormats = &key.format;

    VkGraphicsPipelineCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_GRAPHICS_PIPELINE_CREATE_INFO;
    info.pNext = &rendering;
    info.stageCount = 2;
    info.pStages = stages;
    info.pVertexInputState = &vertexInput;
    info.pInputAssemblyState = &assembly;
    info.pViewportState = &viewport;
    info.pRasterizationState = &raster;
    info.pMultisampleState = &multisample;
    info.pColorBlendState = &blend;
    info.pDynamicState = &dynamic;
    info.layout = pipelineLayout_;
    VkPipeline created = VK_NULL_HANDLE;
    VkResult vr =
        vkCreateGraphicsPipelines(device_.vk(), VK_NULL_HANDLE, 1, &info, nullptr, &created);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
    pipelines_.push_back({key, created});
    *pipeline = created;
    return D3D_OK;
}
