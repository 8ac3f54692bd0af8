#pragma once
// Builds the values a page sends from JSON, so that the tests can write them as a page would.
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/FlashObject.h"
#include "bridge/Param.h"

namespace tunewick::testing {

inline Param paramFromJson(const nlohmann::json& value) {
    Param out;
    if (value.is_boolean()) return Param(value.get<bool>());
    if (value.is_number()) {
        out.setNumber(value.get<double>());
    } else if (value.is_string()) {
        out.setString(value.get<std::string>());
    } else if (value.is_array()) {
        auto map = std::make_unique<FlashObject>();
        for (std::size_t i = 0; i < value.size(); ++i) {
            map->setProperty(std::to_string(i), std::make_unique<Param>(paramFromJson(value[i])));
        }
        out.setArray(std::move(map));
    } else if (value.is_object()) {
        auto map = std::make_unique<FlashObject>();
        for (const auto& [key, item] : value.items()) map->setProperty(key, std::make_unique<Param>(paramFromJson(item)));
        out.setObject(std::move(map));
    }
    return out;
}

}  // namespace tunewick::testing
