#include "platform/d3d9/device.h"

#include <algorithm>

#include "platform/d3d9/direct3d9.h"
#include "platform/d3d9/shader_program.h"
#include "platform/d3d9/surface.h"
#include "platform/d3d9/texture.h"
#include "platform/d3d9/vertex_buffer.h"
#include "platform/d3d9/vertex_declaration.h"

namespace {

constexpr UINT kMaxStreams = 16;

// Nothing is ever shown, so the display mode only has to be a plausible one.
constexpr D3DDISPLAYMODE kDisplayMode = {1920, 1080, 60, D3DFMT_X8R8G8B8};

bool Topology(D3DPRIMITIVETYPE type, UINT primitives, VkPrimitiveTopology* topology,
              uint64_t* vertices) {
    switch (type) {
        case D3DPT_POINTLIST:
            *topology = VK_PRIMITIVE_TOPOLOGY_POINT_LIST;
            *vertices = primitives;
            return true;
        case D3DPT_LINELIST:
            *topology = VK_PRIMITIVE_TOPOLOGY_LINE_LIST;
            *vertices = 2ull * primitives;
            return true;
        case D3DPT_LINESTRIP:
            *topology = VK_PRIMITIVE_TOPOLOGY_LINE_STRIP;
            *vertices = primitives + 1ull;
            return true;
        case D3DPT_TRIANGLELIST:
            *topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_LIST;
            *vertices = 3ull * primitives;
            return true;
        case D3DPT_TRIANGLESTRIP:
            *topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_STRIP;
            *vertices = primitives + 2ull;
            return true;
        case D3DPT_TRIANGLEFAN:
            *topology = VK_PRIMITIVE_TOPOLOGY_TRIANGLE_FAN;
            *vertices = primitives + 2ull;
            return true;
    }
    return false;
}

template <class T>
void SwapBinding(T** slot, T* object) {
    if (object != nullptr) object->AddRefPrivate();
    if (*slot != nullptr) (*slot)->ReleasePrivate();
    *slot = object;
}

}  // namespace

HRESULT ResultFromVulkan(VkResult result) {
    switch (result) {
        case VK_SUCCESS: return D3D_OK;
        case VK_ERROR_OUT_OF_HOST_MEMORY: return E_OUTOFMEMORY;
        case VK_ERROR_OUT_OF_DEVICE_MEMORY: return D3DERR_OUTOFVIDEOMEMORY;
        case VK_ERROR_DEVICE_LOST: return D3DERR_DEVICELOST;
        default: return D3DERR_DRIVERINTERNALERROR;
    }
}

HRESULT Device::Create(Direct3D9* d3d, IDirect3DDevice9** device) {
    auto* created = new Device(d3d);
    HRESULT result = created->Initialise();
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *device = created;
    return D3D_OK;
}

Device::Device(Direct3D9* d3d) : d3d_(d3d) { d3d_->AddRef(); }

Device::~Device() {
    UnbindAll();
    if (device_ != VK_NULL_HANDLE) {
        Flush();
        DestroyImage(&blank_);
        vkDestroyFence(device_, fence_, nullptr);
        vkDestroyCommandPool(device_, commandPool_, nullptr);
        vkDestroyDevice(device_, nullptr);
    }
    d3d_->Release();
}

HRESULT Device::Initialise() {
    VkPhysicalDevice physical = d3d_->physicalDevice();
    queueFamily_ = static_cast<uint32_t>(FindGraphicsQueueFamily(physical));
    vkGetPhysicalDeviceMemoryProperties(physical, &memoryProperties_);
    VkPhysicalDeviceProperties properties;
    vkGetPhysicalDeviceProperties(physical, &properties);
    maxImageSize_ = properties.limits.maxImageDimension2D;

    float priority = 1.0f;
    VkDeviceQueueCreateInfo queueInfo{};
    queueInfo.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
    queueInfo.queueFamilyIndex = queueFamily_;
    queueInfo.queueCount = 1;
    queueInfo.pQueuePriorities = &priority;
    VkPhysicalDeviceVulkan13Features features13{};
    features13.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES;
    features13.dynamicRendering = VK_TRUE;
    VkDeviceCreateInfo deviceInfo{};
    deviceInfo.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    deviceInfo.pNext = &features13;
    deviceInfo.queueCreateInfoCount = 1;
    deviceInfo.pQueueCreateInfos = &queueInfo;
    VkResult vr = vkCreateDevice(physical, &deviceInfo, nullptr, &device_);
    if (vr != VK_SUCCESS) {
        device_ = VK_NULL_HANDLE;
        return D3DERR_NOTAVAILABLE;
    }
    vkGetDeviceQueue(device_, queueFamily_, 0, &queue_);

    VkCommandPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    poolInfo.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT;
    poolInfo.queueFamilyIndex = queueFamily_;
    vr = vkCreateCommandPool(device_, &poolInfo, nullptr, &commandPool_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
    VkCommandBufferAllocateInfo commandInfo{};
    commandInfo.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
    commandInfo.commandPool = commandPool_;
    commandInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    commandInfo.commandBufferCount = 1;
    vr = vkAllocateCommandBuffers(device_, &commandInfo, &commands_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);
    VkFenceCreateInfo fenceInfo{};
    fenceInfo.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
    vr = vkCreateFence(device_, &fenceInfo, nullptr, &fence_);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);

    // What a sampler without a texture reads, as in Direct3D 9: (0, 0, 0, 1).
    HRESULT result = CreateImage(1, 1, VK_FORMAT_R8G8B8A8_UNORM,
                                 VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT,
                                 &blank_);
    if (FAILED(result)) return result;
    VkClearColorValue black{};
    black.float32[3] = 1.0f;
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    Prepare(&blank_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    vkCmdClearColorImage(Commands(), blank_.image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &black,
                         1, &range);
    Prepare(&blank_, VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL);
    return Flush();
}

ULONG Device::AddRef() { return ++refs_; }

ULONG Device::Release() {
    if (refs_ == 0) return 0;
    ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
}

void Device::UnbindAll() {
    program_ = nullptr;
    if (renderTarget_ != nullptr) SwapBinding(&renderTarget_, static_cast<Texture*>(nullptr));
    SwapBinding(&declaration_, static_cast<VertexDeclaration*>(nullptr));
    SwapBinding(&stream_, static_cast<VertexBuffer*>(nullptr));
}

VkCommandBuffer Device::Commands() {
    if (!recording_) {
        VkCommandBufferBeginInfo begin{};
        begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
        begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
        vkBeginCommandBuffer(commands_, &begin);
        recording_ = true;
    }
    return commands_;
}

// Every command of this device depends on the one before it (an upload, then
// passes that each read the previous one's target, then a read-back), so a
// full barrier between them costs nothing that could have overlapped.
void Device::Barrier() {
    VkMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    barrier.srcAccessMask = VK_ACCESS_MEMORY_WRITE_BIT;
    barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
    vkCmdPipelineBarrier(Commands(), VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
                         VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, 0, 1, &barrier, 0, nullptr, 0,
                         nullptr);
}

HRESULT Device::Flush() {
    if (!recording_) return D3D_OK;
    // Results written to host memory must be visible to the processor.
    VkMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    barrier.srcAccessMask = VK_ACCESS_MEMORY_WRITE_BIT;
    barrier.dstAccessMask = VK_ACCESS_HOST_READ_BIT;
    vkCmdPipelineBarrier(commands_, VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
                         VK_PIPELINE_STAGE_HOST_BIT, 0, 1, &barrier, 0, nullptr, 0, nullptr);
    recording_ = false;
    ++batch_;
    VkResult vr = vkEndCommandBuffer(commands_);
    if (vr == VK_SUCCESS) {
        VkSubmitInfo submit{};
        submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
        submit.commandBufferCount = 1;
        submit.pCommandBuffers = &commands_;
        vr = vkQueueSubmit(queue_, 1, &submit, fence_);
        if (vr == VK_SUCCESS) {
            vr = vkWaitForFences(device_, 1, &fence_, VK_TRUE, UINT64_MAX);
            vkResetFences(device_, 1, &fence_);
        }
    }
    vkResetCommandBuffer(commands_, 0);
    return ResultFromVulkan(vr);
}

HRESULT Device::AllocateMemory(const VkMemoryRequirements& requirements,
                               VkMemoryPropertyFlags required, VkMemoryPropertyFlags preferred,
                               VkDeviceMemory* memory) {
    int chosen = -1;
    for (uint32_t i = 0; i < memoryProperties_.memoryTypeCount; ++i) {
        VkMemoryPropertyFlags flags = memoryProperties_.memoryTypes[i].propertyFlags;
        if (!(requirements.memoryTypeBits & (1u << i)) || (flags & required) != required) {
            continue;
        }
        if (chosen < 0 || ((flags & preferred) == preferred &&
                           (memoryProperties_.memoryTypes[chosen].propertyFlags & preferred) !=
                               preferred)) {
            chosen = static_cast<int>(i);
        }
    }
    if (chosen < 0) return D3DERR_NOTAVAILABLE;
    VkMemoryAllocateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
    info.allocationSize = requirements.size;
    info.memoryTypeIndex = static_cast<uint32_t>(chosen);
    VkResult vr = vkAllocateMemory(device_, &info, nullptr, memory);
    if (vr != VK_SUCCESS) *memory = VK_NULL_HANDLE;
    return ResultFromVulkan(vr);
}

HRESULT Device::CreateImage(UINT width, UINT height, VkFormat format, VkImageUsageFlags usage,
                            DeviceImage* image) {
    VkImageCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO;
    info.imageType = VK_IMAGE_TYPE_2D;
    info.format = format;
    info.extent = {width, height, 1};
    info.mipLevels = 1;
    info.arrayLayers = 1;
    info.samples = VK_SAMPLE_COUNT_1_BIT;
    info.tiling = VK_IMAGE_TILING_OPTIMAL;
    info.usage = usage;
    info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    VkResult vr = vkCreateImage(device_, &info, nullptr, &image->image);
    if (vr != VK_SUCCESS) {
        image->image = VK_NULL_HANDLE;
        return ResultFromVulkan(vr);
    }
    VkMemoryRequirements requirements;
    vkGetImageMemoryRequirements(device_, image->image, &requirements);
    HRESULT result = AllocateMemory(requirements, 0, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT,
                                    &image->memory);
    if (FAILED(result)) return result;
    vr = vkBindImageMemory(device_, image->image, image->memory, 0);
    if (vr != VK_SUCCESS) return ResultFromVulkan(vr);

    VkImageViewCreateInfo viewInfo{};
    viewInfo.sType = VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO;
    viewInfo.image = image->image;
    viewInfo.viewType = VK_IMAGE_VIEW_TYPE_2D;
    viewInfo.format = format;
    viewInfo.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vr = vkCreateImageView(device_, &viewInfo, nullptr, &image->view);
    if (vr != VK_SUCCESS) {
        image->view = VK_NULL_HANDLE;
        return ResultFromVulkan(vr);
    }

    return D3D_OK;
}

void Device::Prepare(DeviceImage* image, VkImageLayout layout) {
    if (image->layout == layout) return;
    VkImageMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER;
    barrier.srcAccessMask = VK_ACCESS_MEMORY_WRITE_BIT;
    barrier.dstAccessMask = VK_ACCESS_MEMORY_READ_BIT | VK_ACCESS_MEMORY_WRITE_BIT;
    barrier.oldLayout = image->layout;
    barrier.newLayout = layout;
    barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = image->image;
    barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdPipelineBarrier(Commands(), VK_PIPELINE_STAGE_ALL_COMMANDS_BIT,
                         VK_PIPELINE_STAGE_ALL_COMMANDS_BIT, 0, 0, nullptr, 0, nullptr, 1,
                         &barrier);
    image->layout = layout;
}

void Device::DestroyImage(DeviceImage* image) {
    vkDestroyImageView(device_, image->view, nullptr);
    vkDestroyImage(device_, image->image, nullptr);
    vkFreeMemory(device_, image->memory, nullptr);
    *image = DeviceImage{};
}

HRESULT Device::CreateHostBuffer(VkDeviceSize size, VkBufferUsageFlags usage,
                                 HostBuffer* buffer) {
    VkBufferCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
    info.size = size;
    info.usage = usage;
    VkResult vr = vkCreateBuffer(device_, &info, nullptr, &buffer->buffer);
    if (vr != VK_SUCCESS) {
        buffer->buffer = VK_NULL_HANDLE;
        return ResultFromVulkan(vr);
    }
    VkMemoryRequirements requirements;
    vkGetBufferMemoryRequirements(device_, buffer->buffer, &requirements);
    // Cached memory makes the processor's reads of copied-back frames fast.
    HRESULT result = AllocateMemory(
        requirements, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT,
        VK_MEMORY_PROPERTY_HOST_CACHED_BIT, &buffer->memory);
    if (FAILED(result)) return result == D3DERR_OUTOFVIDEOMEMORY ? E_OUTOFMEMORY : result;
    vr = vkBindBufferMemory(device_, buffer->buffer, buffer->memory, 0);
    if (vr == VK_SUCCESS) vr = vkMapMemory(device_, buffer->memory, 0, size, 0, &buffer->mapped);
    return ResultFromVulkan(vr);
}

void Device::DestroyHostBuffer(HostBuffer* buffer) {
    vkDestroyBuffer(device_, buffer->buffer, nullptr);
    vkFreeMemory(device_, buffer->memory, nullptr);
    *buffer = HostBuffer{};
}

HRESULT Device::GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) {
    if (iSwapChain != 0 || pMode == nullptr) return D3DERR_INVALIDCALL;
    *pMode = kDisplayMode;
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                              D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                              HANDLE* pSharedHandle) {
    if (ppTexture == nullptr) return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (pSharedHandle != nullptr || Width == 0 || Height == 0) return D3DERR_INVALIDCALL;
    const FormatInfo* format = FindFormat(Format);
    if (format == nullptr || Width > maxImageSize_ || Height > maxImageSize_) {
        return D3DERR_INVALIDCALL;
    }
    if ((Usage & D3DUSAGE_RENDERTARGET) &&
        (Pool != D3DPOOL_DEFAULT || (Usage & D3DUSAGE_DYNAMIC))) {
        return D3DERR_INVALIDCALL;
    }
    // Only the pools and the single level the stand-in implements.
    if (Pool != D3DPOOL_DEFAULT && Pool != D3DPOOL_SYSTEMMEM) return D3DERR_NOTAVAILABLE;
    if (Levels > 1 || (Levels == 0 && (Width > 1 || Height > 1))) return D3DERR_NOTAVAILABLE;

    VkFormatProperties properties;
    vkGetPhysicalDeviceFormatProperties(d3d_->physicalDevice(), format->vulkan, &properties);
    VkFormatFeatureFlags needed = VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT |
                                  VK_FORMAT_FEATURE_TRANSFER_SRC_BIT |
                                  VK_FORMAT_FEATURE_TRANSFER_DST_BIT;
    if (Usage & D3DUSAGE_RENDERTARGET) needed |= VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT;
    if ((properties.optimalTilingFeatures & needed) != needed) return D3DERR_INVALIDCALL;
    return Texture::Create(this, Width, Height, Usage, *format, Pool, ppTexture);
}

HRESULT Device::CreateVertexBuffer(UINT Length, DWORD, DWORD, D3DPOOL Pool,
                                   IDirect3DVertexBuffer9** ppVertexBuffer,
                                   HANDLE* pSharedHandle) {
    if (ppVertexBuffer == nullptr) return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    if (pSharedHandle != nullptr || Length == 0 || Pool == D3DPOOL_SCRATCH) {
        return D3DERR_INVALIDCALL;
    }
    return VertexBuffer::Create(this, Length, ppVertexBuffer);
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* pSourceTexture,
                              IDirect3DBaseTexture9* pDestinationTexture) {
    Texture* source = AsTexture(pSourceTexture);
    Texture* destination = AsTexture(pDestinationTexture);
    if (source == nullptr || destination == nullptr) return D3DERR_INVALIDCALL;
    if (source->pool() != D3DPOOL_SYSTEMMEM || destination->pool() != D3DPOOL_DEFAULT ||
        source->format().d3d != destination->format().d3d ||
        source->width() != destination->width() || source->height() != destination->height() ||
        source->isLocked()) {
        return D3DERR_INVALIDCALL;
    }
    VkBufferImageCopy region{};
    region.bufferRowLength = source->pitch() / source->format().texelBytes;
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageExtent = {source->width(), source->height(), 1};
    Barrier();
    Prepare(&destination->image(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    vkCmdCopyBufferToImage(Commands(), source->hostBuffer(), destination->image().image,
                           VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
    // Queued with the passes that follow, as Direct3D 9 queues it: locking
    // or releasing either texture waits for the copy.
    source->MarkUsed();
    destination->MarkUsed();
    return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* pRenderTarget,
                                    IDirect3DSurface9* pDestSurface) {
    auto* sourceSurface = dynamic_cast<Surface*>(pRenderTarget);
    auto* destinationSurface = dynamic_cast<Surface*>(pDestSurface);
    if (sourceSurface == nullptr || destinationSurface == nullptr) return D3DERR_INVALIDCALL;
    Texture& source = sourceSurface->container();
    Texture& destination = destinationSurface->container();
    if (!source.isRenderTarget() || destination.pool() != D3DPOOL_SYSTEMMEM ||
        source.format().d3d != destination.format().d3d || source.width() != destination.width() ||
        source.height() != destination.height() || destination.isLocked()) {
        return D3DERR_INVALIDCALL;
    }
    VkBufferImageCopy region{};
    region.bufferRowLength = destination.pitch() / destination.format().texelBytes;
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    region.imageExtent = {source.width(), source.height(), 1};
    Barrier();
    Prepare(&source.image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    vkCmdCopyImageToBuffer(Commands(), source.image().image, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL,
                           destination.hostBuffer(), 1, &region);
    source.MarkUsed();
    return Flush();
}

HRESULT Device::SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) {
    auto* surface = dynamic_cast<Surface*>(pRenderTarget);
    if (RenderTargetIndex != 0 || surface == nullptr || !surface->container().isRenderTarget()) {
        return D3DERR_INVALIDCALL;
    }
    SwapBinding(&renderTarget_, &surface->container());
    return D3D_OK;
}

HRESULT Device::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    // The passes run with whatever reads their results back; one submission
    // and one wait a frame.
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                              UINT PrimitiveCount) {
    VkPrimitiveTopology topology;
    uint64_t vertices;
    if (!inScene_ || !Topology(PrimitiveType, PrimitiveCount, &topology, &vertices)) {
        return D3DERR_INVALIDCALL;
    }
    // The stand-in has neither a back buffer nor fixed-function pixel
    // processing, nor vertex processing: a draw needs a render target, a
    // pixel shader and pre-transformed vertices from stream 0.
    if (renderTarget_ == nullptr || program_ == nullptr || declaration_ == nullptr ||
        stream_ == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const VertexLayout& layout = declaration_->layout();
    if (!layout.pretransformed || !layout.singleStream || streamStride_ < layout.end) {
        return D3DERR_INVALIDCALL;
    }
    if (PrimitiveCount == 0) return D3D_OK;
    uint64_t last = uint64_t{streamOffset_} + (StartVertex + vertices - 1) * streamStride_;
    if (last + layout.end > stream_->length()) return D3DERR_INVALIDCALL;
    // Reading the texture being drawn into is undefined in Direct3D 9 and a
    // hazard in Vulkan.
    if (program_->Samples(renderTarget_)) return D3DERR_INVALIDCALL;

    PipelineKey key{renderTarget_->format().vulkan, topology, streamStride_, layout};
    VkPipeline pipeline;
    HRESULT result = program_->GetPipeline(key, &pipeline);
    if (FAILED(result)) return result;

    UINT width = renderTarget_->width();
    UINT height = renderTarget_->height();
    VertexTransform transform{};
    transform.pixelToNdc[0] = 2.0f / static_cast<float>(width);
    transform.pixelToNdc[1] = 2.0f / static_cast<float>(height);

    VkRenderingAttachmentInfo attachment{};
    attachment.sType = VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO;
    attachment.imageView = renderTarget_->image().view;
    attachment.imageLayout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
    attachment.loadOp = VK_ATTACHMENT_LOAD_OP_LOAD;
    attachment.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
    VkRenderingInfo rendering{};
    rendering.sType = VK_STRUCTURE_TYPE_RENDERING_INFO;
    rendering.renderArea = {{0, 0}, {width, height}};
    rendering.layerCount = 1;
    rendering.colorAttachmentCount = 1;
    rendering.pColorAttachments = &attachment;
    VkViewport viewport{0, 0, static_cast<float>(width), static_cast<float>(height), 0, 1};
    VkRect2D scissor{{0, 0}, {width, height}};
    VkDeviceSize offset = streamOffset_;
    VkBuffer vertexBuffer = stream_->buffer();

    VkCommandBuffer commands = Commands();
    Barrier();
    Prepare(&renderTarget_->image(), VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL);
    program_->UseInDraw();
    renderTarget_->MarkUsed();
    stream_->MarkUsed();
    vkCmdBeginRendering(commands, &rendering);
    vkCmdBindPipeline(commands, VK_PIPELINE_BIND_POINT_GRAPHICS, pipeline);
    vkCmdSetViewport(commands, 0, 1, &viewport);
    vkCmdSetScissor(commands, 0, 1, &scissor);
    VkDescriptorSet descriptors = program_->descriptors();
    if (descriptors != VK_NULL_HANDLE) {
        vkCmdBindDescriptorSets(commands, VK_PIPELINE_BIND_POINT_GRAPHICS,
                                program_->pipelineLayout(), 0, 1, &descriptors, 0, nullptr);
    }
    vkCmdPushConstants(commands, program_->pipelineLayout(), VK_SHADER_STAGE_VERTEX_BIT, 0,
                       sizeof(transform), &transform);
    vkCmdBindVertexBuffers(commands, 0, 1, &vertexBuffer, &offset);
    vkCmdDraw(commands, static_cast<uint32_t>(vertices), 1, StartVertex, 0);
    vkCmdEndRendering(commands);
    return D3D_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                        IDirect3DVertexDeclaration9** ppDecl) {
    if (ppDecl == nullptr) return D3DERR_INVALIDCALL;
    *ppDecl = nullptr;
    if (pVertexElements == nullptr) return D3DERR_INVALIDCALL;
    return VertexDeclaration::Create(this, pVertexElements, ppDecl);
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) {
    VertexDeclaration* declaration = AsVertexDeclaration(pDecl);
    if (pDecl != nullptr && declaration == nullptr) return D3DERR_INVALIDCALL;
    SwapBinding(&declaration_, declaration);
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                                UINT OffsetInBytes, UINT Stride) {
    VertexBuffer* buffer = AsVertexBuffer(pStreamData);
    if (StreamNumber >= kMaxStreams || (pStreamData != nullptr && buffer == nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    // Draws read stream 0 only; declarations naming others are refused there.
    if (StreamNumber != 0) return D3D_OK;
    SwapBinding(&stream_, buffer);
    streamOffset_ = OffsetInBytes;
    streamStride_ = Stride;
    return D3D_OK;
}
