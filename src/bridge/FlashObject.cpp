#include "bridge/FlashObject.h"

namespace tunewick {

FlashObject::FlashObject(const FlashObject& other) {
    for (const auto& [name, value] : other.properties_)
        properties_.emplace(name, std::make_unique<Param>(*value));
}

void FlashObject::setProperty(const std::string& name, std::unique_ptr<Param> value) {
    // Every stored entry is a real value, so readers never meet an empty pointer.
    if (!value) value = std::make_unique<Param>();
    properties_[name] = std::move(value);
}

void FlashObject::removeProperty(const std::string& name) { properties_.erase(name); }

void FlashObject::removeAll() { properties_.clear(); }

const Param* FlashObject::getProperty(const std::string& name) const {
    const auto found = properties_.find(name);
    return found == properties_.end() ? nullptr : found->second.get();
}

}  // namespace tunewick
