#include "commands/ParamJson.h"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>

#include "bridge/FlashObject.h"

namespace tunewick {

using json = nlohmann::json;

json paramToJson(const Param& value) {
    switch (value.type()) {
        case Param::Boolean:
            return value.getBoolean();
        case Param::Number: {
            const double x = value.getNumber();
            return std::isfinite(x) ? json(x) : json(nullptr);
        }
        case Param::String:
            return value.getString();
        case Param::Object: {
            json out = json::object();
            if (const FlashObject* map = value.getObject()) {
                for (const auto& [key, item] : *map) out[key] = item ? paramToJson(*item) : json(nullptr);
            }
            return out;
        }
        case Param::Array: {
            // The map orders "10" before "2": put the items back in index order.
            std::map<unsigned long, const Param*> ordered;
            if (const FlashObject* map = value.getObject()) {
                for (const auto& [key, item] : *map) {
                    unsigned long index = 0;
                    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), index);
                    if (ec == std::errc() && end == key.data() + key.size()) ordered[index] = item.get();
                }
            }
            json out = json::array();
            for (const auto& [index, item] : ordered) out.push_back(item ? paramToJson(*item) : json(nullptr));
            return out;
        }
        default:
            return nullptr;
    }
}

Param jsonToParam(const json& value) {
    Param out;
    if (value.is_boolean()) {
        out.setBoolean(value.get<bool>());
    } else if (value.is_number()) {
        out.setNumber(value.get<double>());
    } else if (value.is_string()) {
        out.setString(value.get<std::string>());
    } else if (value.is_object()) {
        auto map = std::make_unique<FlashObject>();
        for (auto it = value.begin(); it != value.end(); ++it) {
            map->setProperty(it.key(), std::make_unique<Param>(jsonToParam(it.value())));
        }
        out.setObject(std::move(map));
    } else if (value.is_array()) {
        auto map = std::make_unique<FlashObject>();
        std::size_t i = 0;
        for (const json& item : value) map->setProperty(std::to_string(i++), std::make_unique<Param>(jsonToParam(item)));
        out.setArray(std::move(map));
    }
    return out;
}

}  // namespace tunewick
