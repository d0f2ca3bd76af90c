// IDirect3DSurface9: level 0 of a texture. As in Direct3D 9, a texture's
// surface shares its container's reference count, so holding the surface
// keeps the texture alive.
#pragma once

#include "platform/d3d9_api.h"

class Texture;

class Surface final : public IDirect3DSurface9 {
public:
    explicit Surface(Texture* container) : container_(container) {}
    ~Surface() override = default;

    ULONG AddRef() override;
    ULONG Release() override;

    Texture& container() const { return *container_; }

private:
    Texture* container_;
};
