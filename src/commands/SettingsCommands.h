#pragma once
// The commands through which pages read and change the player's lasting settings. They run on
// the dialog's thread and share the dialog's SettingsStore.
#include "bridge/FunctionCommand.h"

namespace tunewick {

class SettingsStore;

// "getSettings": an object holding every setting, name to value (the reference pitch a number
// in Hz, the others strings).
class GetSettingsCommand final : public FunctionCommand {
public:
    explicit GetSettingsCommand(SettingsStore& settings);
    Param execute(const std::vector<Param>& arguments) override;

private:
    SettingsStore& settings_;
};

// "setSetting"(name, value): true when the setting took the value; false for a missing or
// unknown name, or a value of the wrong type or range.
class SetSettingCommand final : public FunctionCommand {
public:
    explicit SetSettingCommand(SettingsStore& settings);
    Param execute(const std::vector<Param>& arguments) override;

private:
    SettingsStore& settings_;
};

}  // namespace tunewick
