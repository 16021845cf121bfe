#pragma once
// The stand-in catalog's Applications collection and its objects (test-only;
// see Catalog.h). Populate reads the saved applications from the
// CatalogStore; Add and Remove change only the collection until SaveChanges,
// which checks every added or changed application and then writes them all,
// or refuses and writes nothing.
#include <objbase.h>

namespace marl::testcatalog {

HRESULT CreateApplicationCollection(REFIID riid, void** ppv);

}  // namespace marl::testcatalog
