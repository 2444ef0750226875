#include "ui/settings_values.h"

#include "platform/names/names.h"
#include "platform/registry/registry.h"

namespace lyb::ui {

namespace {
const QString kSettingsKey = QString::fromLatin1(names::kSettingsKey);
}

int read_setting(const QString& name, int defaultValue, int highest) {
    const auto key = reg::Key::open(reg::Hive::CurrentUser, kSettingsKey);
    const auto value = key ? key->readDword(name) : std::nullopt;
    if (!value || *value > static_cast<uint32_t>(highest))
        return defaultValue;
    return static_cast<int>(*value);
}

bool write_setting(const QString& name, int value) {
    const auto key = reg::Key::create(reg::Hive::CurrentUser, kSettingsKey);
    return key && key->writeDword(name, static_cast<uint32_t>(value));
}

}  // namespace lyb::ui
