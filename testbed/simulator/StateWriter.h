// Writes the inventory in the scenario form, so a state dump can be edited
// and loaded again as a scenario.
#pragma once

#include "Inventory.h"
#include "SimJson.h"

namespace marl::sim {

// Writes the inventory's sections as members of the object being written.
void WriteInventoryMembers(JsonWriter& w, const Inventory& inv);

// The inventory as a complete scenario document.
std::string InventoryToJson(const Inventory& inv);

}  // namespace marl::sim
