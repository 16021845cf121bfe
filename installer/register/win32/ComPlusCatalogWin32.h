#pragma once
// The Windows ComPlusCatalog: the local COMAdmin.COMAdminCatalog through
// ICOMAdminCatalog2. The caller's thread must have entered a COM apartment;
// the catalog is released before it leaves it.
#include <memory>

#include "installer/register/ComPlusCatalog.h"

namespace marl::installer {

std::unique_ptr<ComPlusCatalogOpener> MakeSystemComPlusCatalogs();

}  // namespace marl::installer
