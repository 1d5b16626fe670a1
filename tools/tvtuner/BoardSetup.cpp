#include "tools/tvtuner/BoardSetup.h"

#include <algorithm>

#include "tools/tvtuner/Values.h"

namespace tvtuner {

// Value names match without regard to case, as in the registry.
void BoardSetup::SetRegistry(const std::string& name, const std::string& value)
{
    for (auto& [existing, text] : Registry) {
        if (Lowercase(existing) == Lowercase(name)) {
            text = value;
            return;
        }
    }
    Registry.emplace_back(name, value);
}

void BoardSetup::RemoveRegistry(const std::string& name)
{
    std::erase_if(Registry, [&](const auto& entry) { return Lowercase(entry.first) == Lowercase(name); });
}

std::optional<std::string> BoardSetup::RegistryValue(const std::string& name) const
{
    for (const auto& [existing, text] : Registry) {
        if (Lowercase(existing) == Lowercase(name)) return text;
    }
    return std::nullopt;
}

}  // namespace tvtuner
