// The QSettings-backed settings store.
#include "qtsettings/qt_settings_store.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace tarnwick {

namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(
          std::make_unique<QSettings>(QStringLiteral("Morrowlyn"), QStringLiteral("Tarnwick"))) {
    settings_->beginGroup(QStringLiteral("Settings"));
}

QtSettingsStore::~QtSettingsStore() {
    settings_->sync();
}

std::optional<int> QtSettingsStore::GetInt(std::string_view name) const {
    const QVariant value = settings_->value(ToQString(name));
    if (!value.isValid()) return std::nullopt;
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? std::optional<int>(number) : std::nullopt;
}

std::optional<std::string> QtSettingsStore::GetString(std::string_view name) const {
    const QVariant value = settings_->value(ToQString(name));
    if (!value.isValid() || !value.canConvert<QString>()) return std::nullopt;
    return value.toString().toStdString();
}

void QtSettingsStore::SetInt(std::string_view name, int value) {
    settings_->setValue(ToQString(name), value);
}

void QtSettingsStore::SetString(std::string_view name, std::string_view value) {
    settings_->setValue(ToQString(name), ToQString(value));
}

bool QtSettingsStore::Sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

}  // namespace tarnwick
