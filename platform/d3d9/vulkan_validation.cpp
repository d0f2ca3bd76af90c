#include "platform/d3d9/vulkan_validation.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";

std::atomic<uint32_t> g_messageCount{0};
std::atomic<bool> g_validationActive{false};

VKAPI_ATTR VkBool32 VKAPI_CALL OnValidationMessage(
    VkDebugUtilsMessageSeverityFlagBitsEXT, VkDebugUtilsMessageTypeFlagsEXT,
    const VkDebugUtilsMessengerCallbackDataEXT* data, void*) {
    ++g_messageCount;
    std::fprintf(stderr, "vulkan validation: %s\n", data->pMessage);
    return VK_FALSE;
}

bool LayerInstalled() {
    uint32_t count = 0;
    vkEnumerateInstanceLayerProperties(&count, nullptr);
    std::vector<VkLayerProperties> layers(count);
    vkEnumerateInstanceLayerProperties(&count, layers.data());
    for (const VkLayerProperties& layer : layers) {
        if (std::strcmp(layer.layerName, kValidationLayer) == 0) return true;
    }
    return false;
}

}  // namespace

void PrepareValidation(ValidationSetup* setup) {
    const char* request = std::getenv("KELO_VULKAN_VALIDATION");
    setup->enabled = request != nullptr && std::strcmp(request, "1") == 0;
    if (setup->enabled && !LayerInstalled()) {
        std::fprintf(stderr, "vulkan validation: %s is not installed\n", kValidationLayer);
        setup->enabled = false;
    }
    g_validationActive = setup->enabled;
    if (!setup->enabled) return;

    setup->layers = {kValidationLayer};
    setup->extensions = {VK_EXT_DEBUG_UTILS_EXTENSION_NAME};

    setup->messengerInfo.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT;
    setup->messengerInfo.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                                           VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
    setup->messengerInfo.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                                       VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                                       VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
    setup->messengerInfo.pfnUserCallback = OnValidationMessage;

    // The messenger in the chain also catches messages of instance creation
    // and destruction, which the messenger object cannot see.
    setup->validationFeatures.sType = VK_STRUCTURE_TYPE_VALIDATION_FEATURES_EXT;
    setup->validationFeatures.enabledValidationFeatureCount = 1;
    setup->validationFeatures.pEnabledValidationFeatures = setup->features;
    setup->validationFeatures.pNext = &setup->messengerInfo;
}

VkDebugUtilsMessengerEXT CreateValidationMessenger(VkInstance instance,
                                                   const ValidationSetup& setup) {
    if (!setup.enabled) return VK_NULL_HANDLE;
    auto create = reinterpret_cast<PFN_vkCreateDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance, "vkCreateDebugUtilsMessengerEXT"));
    VkDebugUtilsMessengerEXT messenger = VK_NULL_HANDLE;
    if (create != nullptr) create(instance, &setup.messengerInfo, nullptr, &messenger);
    return messenger;
}

void DestroyValidationMessenger(VkInstance instance, VkDebugUtilsMessengerEXT messenger) {
    if (messenger == VK_NULL_HANDLE) return;
    auto destroy = reinterpret_cast<PFN_vkDestroyDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance, "vkDestroyDebugUtilsMessengerEXT"));
    if (destroy != nullptr) destroy(instance, messenger, nullptr);
}

uint32_t VulkanValidationMessageCount() { return g_messageCount; }

bool VulkanValidationActive() { return g_validationActive; }
