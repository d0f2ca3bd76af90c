// Reference counting of the objects a device creates, as Direct3D 9 does it:
// an object the application holds keeps its device alive; an object the device
// holds only because it is bound (render target, stream, declaration) does not,
// and goes when both the application and the device have let it go.
#pragma once

#include "platform/d3d9_api.h"

class Device;

template <class Interface>
class DeviceChild : public Interface {
public:
    ULONG AddRef() override {
        if (refs_++ == 0) AddRefDevice();
        return refs_;
    }

    ULONG Release() override {
        if (refs_ == 0) return 0;
        ULONG refs = --refs_;
        if (refs == 0) {
            Device* device = device_;
            if (privateRefs_ == 0) delete this;
            ReleaseDevice(device);
        }
        return refs;
    }

    // The device's own hold on a bound object.
    void AddRefPrivate() { ++privateRefs_; }
    void ReleasePrivate() {
        if (--privateRefs_ == 0 && refs_ == 0) delete this;
    }

    Device& device() const { return *device_; }

protected:
    explicit DeviceChild(Device* device) : device_(device) { AddRefDevice(); }
    ~DeviceChild() override = default;

private:
    void AddRefDevice();
    static void ReleaseDevice(Device* device);

    Device* device_;
    ULONG refs_ = 1;
    ULONG privateRefs_ = 0;
};
