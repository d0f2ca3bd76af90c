#include "platform/d3d9/surface.h"

#include "platform/d3d9/texture.h"

ULONG Surface::AddRef() { return container_->AddRef(); }

ULONG Surface::Release() { return container_->Release(); }
