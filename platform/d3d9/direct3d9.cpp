#include "platform/d3d9/direct3d9.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/vulkan_validation.h"

namespace {

// Behaviour flags of which a device takes exactly one.
constexpr DWORD kVertexProcessingFlags = 0x20 | 0x40 | 0x80;

bool MeetsRequirements(VkPhysicalDevice device) {
    VkPhysicalDeviceProperties properties;
    vkGetPhysicalDeviceProperties(device, &properties);
    if (properties.apiVersion < VK_API_VERSION_1_3) return false;
    VkPhysicalDeviceVulkan13Features features13{};
    features13.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES;
    VkPhysicalDeviceFeatures2 features{};
    features.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
    features.pNext = &features13;
    vkGetPhysicalDeviceFeatures2(device, &features);
    return features13.dynamicRendering == VK_TRUE && FindGraphicsQueueFamily(device) >= 0;
}

int Preference(VkPhysicalDeviceType type) {
    switch (type) {
        case VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU: return 4;
        case VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU: return 3;
        case VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU: return 2;
        case VK_PHYSICAL_DEVICE_TYPE_CPU: return 1;
        default: return 0;
    }
}

// KELO_VULKAN_DEVICE chooses: "cpu" (a software implementation such as
// lavapipe), "gpu" (a real graphics processor) or a number (the device's index
// in Vulkan's enumeration). Unset, a graphics processor wins over the CPU.
VkPhysicalDevice ChoosePhysicalDevice(VkInstance instance) {
    uint32_t count = 0;
    vkEnumeratePhysicalDevices(instance, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    vkEnumeratePhysicalDevices(instance, &count, devices.data());

    const char* choice = std::getenv("KELO_VULKAN_DEVICE");
    std::string wanted = choice != nullptr ? choice : "";
    VkPhysicalDevice best = VK_NULL_HANDLE;
    int bestPreference = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!MeetsRequirements(devices[i])) continue;
        VkPhysicalDeviceProperties properties;
        vkGetPhysicalDeviceProperties(devices[i], &properties);
        int preference = Preference(properties.deviceType);
        bool allowed = wanted.empty() || (wanted == "cpu" && preference == 1) ||
                       (wanted == "gpu" && preference >= 3) || wanted == std::to_string(i);
        if (allowed && preference > bestPreference) {
            best = devices[i];
            bestPreference = preference;
        }
    }
    return best;
}

}  // namespace

int FindGraphicsQueueFamily(VkPhysicalDevice device) {
    uint32_t count = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(device, &count, nullptr);
    std::vector<VkQueueFamilyProperties> families(count);
    vkGetPhysicalDeviceQueueFamilyProperties(device, &count, families.data());
    for (uint32_t i = 0; i < count; ++i) {
        if (families[i].queueFlags & VK_QUEUE_GRAPHICS_BIT) return static_cast<int>(i);
    }
    return -1;
}

IDirect3D9* Direct3DCreate9(UINT SDKVersion) {
    if (SDKVersion != D3D_SDK_VERSION) return nullptr;
    return Direct3D9::Create();
}

Direct3D9* Direct3D9::Create() {
    ValidationSetup validation;
    PrepareValidation(&validation);

    VkApplicationInfo application{};
    application.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    application.pApplicationName = "kelo";
    application.pEngineName = "kelo d3d9";
    application.apiVersion = VK_API_VERSION_1_3;

    VkInstanceCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    info.pApplicationInfo = &application;
    info.enabledLayerCount = static_cast<uint32_t>(validation.layers.size());
    info.ppEnabledLayerNames = validation.layers.data();
    info.enabledExtensionCount = static_cast<uint32_t>(validation.extensions.size());
    info.ppEnabledExtensionNames = validation.extensions.data();
    info.pNext = validation.enabled ? &validation.validationFeatures : nullptr;

    auto* d3d = new Direct3D9();
    if (vkCreateInstance(&info, nullptr, &d3d->instance_) != VK_SUCCESS) {
        d3d->instance_ = VK_NULL_HANDLE;
        d3d->Release();
        return nullptr;
    }
    d3d->messenger_ = CreateValidationMessenger(d3d->instance_, validation);
    d3d->physicalDevice_ = ChoosePhysicalDevice(d3d->instance_);
    if (d3d->physicalDevice_ == VK_NULL_HANDLE) {
        d3d->Release();
        return nullptr;
    }
    return d3d;
}

Direct3D9::~Direct3D9() {
    if (instance_ == VK_NULL_HANDLE) return;
    DestroyValidationMessenger(instance_, messenger_);
    vkDestroyInstance(instance_, nullptr);
}

ULONG Direct3D9::AddRef() { return ++refs_; }

ULONG Direct3D9::Release() {
    if (refs_ == 0) return 0;
    ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
}

HRESULT Direct3D9::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) {
    if (Adapter != D3DADAPTER_DEFAULT || pCaps == nullptr) return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    *pCaps = D3DCAPS9{};
    pCaps->DeviceType = D3DDEVTYPE_HAL;
    pCaps->AdapterOrdinal = D3DADAPTER_DEFAULT;
    // Vulkan images of any size within the limits, and textures whose
    // contents the processor replaces (through system-memory copies).
    pCaps->Caps2 = D3DCAPS2_DYNAMICTEXTURES;
    pCaps->TextureCaps = 0;
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType,
                                     D3DFORMAT AdapterFormat, DWORD Usage,
                                     D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) {
    if (Adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL || AdapterFormat != D3DFMT_X8R8G8B8) {
        return D3DERR_NOTAVAILABLE;
    }
    if (RType != D3DRTYPE_TEXTURE && RType != D3DRTYPE_SURFACE) return D3DERR_NOTAVAILABLE;
    const FormatInfo* format = FindFormat(CheckFormat);
    if (format == nullptr) return D3DERR_NOTAVAILABLE;

    VkFormatProperties properties;
    vkGetPhysicalDeviceFormatProperties(physicalDevice_, format->vulkan, &properties);
    VkFormatFeatureFlags needed = VK_FORMAT_FEATURE_SAMPLED_IMAGE_BIT |
                                  VK_FORMAT_FEATURE_TRANSFER_SRC_BIT |
                                  VK_FORMAT_FEATURE_TRANSFER_DST_BIT;
    if (Usage & D3DUSAGE_RENDERTARGET) needed |= VK_FORMAT_FEATURE_COLOR_ATTACHMENT_BIT;
    if ((properties.optimalTilingFeatures & needed) != needed) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT Direct3D9::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                                DWORD BehaviorFlags,
                                D3DPRESENT_PARAMETERS* pPresentationParameters,
                                IDirect3DDevice9** ppReturnedDeviceInterface) {
    if (ppReturnedDeviceInterface == nullptr) return D3DERR_INVALIDCALL;
    *ppReturnedDeviceInterface = nullptr;
    if (Adapter != D3DADAPTER_DEFAULT || pPresentationParameters == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    if (DeviceType != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    // The window is only needed to exist: nothing is ever presented.
    if (hFocusWindow == nullptr && pPresentationParameters->hDeviceWindow == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    DWORD vertexProcessing = BehaviorFlags & kVertexProcessingFlags;
    if (vertexProcessing == 0 || (vertexProcessing & (vertexProcessing - 1)) != 0) {
        return D3DERR_INVALIDCALL;
    }
    return Device::Create(this, ppReturnedDeviceInterface);
}
