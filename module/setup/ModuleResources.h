// Registers the module's dialog templates and pictures with Qt. The resources
// live in a static library, so they are registered by hand, once, before the
// first dialog opens.
#pragma once

void InitModuleResources();
