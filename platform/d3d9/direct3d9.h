// IDirect3D9 on Vulkan: one instance and the physical device it chose.
#pragma once

#include <vulkan/vulkan.h>

#include "platform/d3d9_api.h"

class Direct3D9 final : public IDirect3D9 {
public:
    // Null when there is no Vulkan loader, driver or suitable device.
    static Direct3D9* Create();

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override;
    HRESULT CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                              DWORD Usage, D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override;
    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                         DWORD BehaviorFlags, D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice9** ppReturnedDeviceInterface) override;

    VkPhysicalDevice physicalDevice() const { return physicalDevice_; }

private:
    Direct3D9() = default;
    ~Direct3D9() override;

    ULONG refs_ = 1;
    VkInstance instance_ = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT messenger_ = VK_NULL_HANDLE;
    VkPhysicalDevice physicalDevice_ = VK_NULL_HANDLE;
};
