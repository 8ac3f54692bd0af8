#pragma once
// The property map of an object or array value. It owns its values; keys compare exactly.
#include <map>
#include <memory>
#include <string>

#include "bridge/Param.h"

namespace tunewick {

class FlashObject {
public:
    using Map = std::map<std::string, std::unique_ptr<Param>>;

    FlashObject() = default;
    FlashObject(const FlashObject& other);             // deep copy
    FlashObject& operator=(const FlashObject&) = delete;

    // Stores `value` under `name`, releasing any value already there.
    void setProperty(const std::string& name, std::unique_ptr<Param> value);
    // Releases the value under `name`; an absent name is no error.
    void removeProperty(const std::string& name);
    void removeAll();

    // nullptr when absent.
    const Param* getProperty(const std::string& name) const;
    std::size_t size() const { return properties_.size(); }
    Map::const_iterator begin() const { return properties_.begin(); }
    Map::const_iterator end() const { return properties_.end(); }

private:
    Map properties_;
};

}  // namespace tunewick
