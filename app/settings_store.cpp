#include "app/settings_store.h"

#include "platform/profile.h"

namespace vantrel::app {

QString SettingsStore::read(std::string_view key, const QString& fallback) const {
    return QString::fromStdString(
        platform::readProfileString(file_, kSection, key, fallback.toStdString()));
}

void SettingsStore::write(std::string_view key, const QString& value) const {
    platform::writeProfileString(file_, kSection, key, value.toStdString());
}

} // namespace vantrel::app
