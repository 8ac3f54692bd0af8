#include "commands/SettingsCommands.h"

#include <memory>

#include "bridge/FlashObject.h"
#include "settings/SettingsStore.h"

namespace tunewick {
namespace {

using json = nlohmann::json;

// Settings are flat: numbers, strings and booleans cross; anything else is no setting.
Param toParam(const json& value) {
    Param out;
    if (value.is_number()) {
        out.setNumber(value.get<double>());
    } else if (value.is_string()) {
        out.setString(value.get<std::string>());
    } else if (value.is_boolean()) {
        out.setBoolean(value.get<bool>());
    }
    return out;
}

json toJson(const Param& value) {
    switch (value.type()) {
        case Param::Number:
            return value.getNumber();
        case Param::String:
            return value.getString();
        case Param::Boolean:
            return value.getBoolean();
        default:
            return nullptr;
    }
}

}  // namespace

GetSettingsCommand::GetSettingsCommand(SettingsStore& settings)
    : FunctionCommand("getSettings"), settings_(settings) {}

Param GetSettingsCommand::execute(const std::vector<Param>&) {
    auto map = std::make_unique<FlashObject>();
    const json values = settings_.values();
    for (auto it = values.begin(); it != values.end(); ++it) {
        map->setProperty(it.key(), std::make_unique<Param>(toParam(it.value())));
    }
    Param out;
    out.setObject(std::move(map));
    return out;
}

SetSettingCommand::SetSettingCommand(SettingsStore& settings)
    : FunctionCommand("setSetting"), settings_(settings) {}

Param SetSettingCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.size() < 2 || arguments[0].type() != Param::String) return Param(false);
    const json value = toJson(arguments[1]);
    if (value.is_null()) return Param(false);
    return Param(settings_.set(arguments[0].getString(), value));
}

}  // namespace tunewick
