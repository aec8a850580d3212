// Built only by the layering test, which expects it to fail: the output stage
// does not link the renderer, so the renderer's header must not be found.
#include "render/render.h"
