// Vulkan's validation layers for the stand-in device. They are switched on by
// the environment variable KELO_VULKAN_VALIDATION=1 (the tests set it): the
// Khronos validation layer with synchronisation validation, every warning or
// error printed to stderr and counted, so a test can fail on any message.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <vector>

struct ValidationSetup {
    bool enabled = false;
    VkValidationFeatureEnableEXT features[1] = {
        VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT};
    VkValidationFeaturesEXT validationFeatures{};
    VkDebugUtilsMessengerCreateInfoEXT messengerInfo{};
    std::vector<const char*> layers;
    std::vector<const char*> extensions;
};

// Fills the instance's layers, extensions and pNext chain when validation is
// requested and the layer is installed; a request without the layer prints why.
void PrepareValidation(ValidationSetup* setup);

VkDebugUtilsMessengerEXT CreateValidationMessenger(VkInstance instance,
                                                   const ValidationSetup& setup);
void DestroyValidationMessenger(VkInstance instance, VkDebugUtilsMessengerEXT messenger);

// Messages reported by the layers since the process started.
uint32_t VulkanValidationMessageCount();
// Whether the last IDirect3D9 created runs with the validation layer.
bool VulkanValidationActive();
