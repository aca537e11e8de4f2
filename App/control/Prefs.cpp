#include "Prefs.h"

#include <QDir>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace kestrova {
namespace {

QSettings store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrova"),
                   QStringLiteral("Kestrova"));
}

QMap<QString, QVariant>& registered() {
  static QMap<QString, QVariant> defaults;
  return defaults;
}

std::optional<std::int64_t> asInteger(const QVariant& v) {
  bool ok = false;
  const qlonglong n = v.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return n;
}

std::optional<double> asReal(const QVariant& v) {
  bool ok = false;
  const double d = v.toDouble(&ok);
  if (!ok || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<bool> asBoolean(const QVariant& v) {
  if (v.typeId() == QMetaType::Bool) return v.toBool();
  if (v.typeId() == QMetaType::QString) {
    // QVariant would call any word but "false" and "0" true; a hand-made typo is not a yes.
    const QString s = v.toString().trimmed().toLower();
    if (s == u"true" || s == u"1") return true;
    if (s == u"false" || s == u"0") return false;
    return std::nullopt;
  }
  if (const auto n = asInteger(v)) return *n != 0;
  return std::nullopt;
}

std::optional<QString> asString(const QVariant& v) {
  // An INI list (an unquoted comma) or a nested group is not one string.
  if (v.typeId() != QMetaType::QString) return std::nullopt;
  return v.toString();
}

// The stored value if `convert` accepts it, else the registered one if it does.
template <typename Convert>
auto typed(const char* key, Convert convert) -> decltype(convert(QVariant())) {
  auto settings = store();
  if (const QVariant stored = settings.value(QLatin1String(key)); stored.isValid()) {
    if (auto value = convert(stored)) return value;
  }
  const auto& defaults = registered();
  if (const auto it = defaults.find(QLatin1String(key)); it != defaults.end()) return convert(*it);
  return std::nullopt;
}

}  // namespace

void Prefs::registerDefaults() {
  auto& d = registered();
  d.insert(QLatin1String(kPreset), QStringLiteral("1080p"));
  d.insert(QLatin1String(kCustomWidth), 1280);
  d.insert(QLatin1String(kCustomHeight), 720);
  d.insert(QLatin1String(kFps), 30);
  d.insert(QLatin1String(kSmoothing), 0.5);
  d.insert(QLatin1String(kDeadZone), 0.25);
  d.insert(QLatin1String(kClicks), true);
  d.insert(QLatin1String(kOutputPath), defaultFolder());
  d.insert(QLatin1String(kDisplayID), 0);
}

QString Prefs::defaultFolder() {
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  return videos.isEmpty() ? QDir::homePath() : videos;
}

std::optional<QString> Prefs::string(const char* key) {
  return typed(key, asString);
}

std::int64_t Prefs::integer(const char* key) {
  return typed(key, asInteger).value_or(0);
}

double Prefs::real(const char* key) {
  return typed(key, asReal).value_or(0.0);
}

bool Prefs::boolean(const char* key) {
  return typed(key, asBoolean).value_or(false);
}

void Prefs::set(const char* key, const QVariant& value) {
  store().setValue(QLatin1String(key), value);
}

void Prefs::remove(const char* key) {
  store().remove(QLatin1String(key));
}

RecorderConfig Prefs::recordingSettings() {
  RecorderConfig config;
  const OutputSize size = outputSize();
  config.width = size.width;
  config.height = size.height;
  config.fps = integer(kFps) == 60 ? 60 : 30;
  config.smoothing = real(kSmoothing);
  config.deadZone = real(kDeadZone);
  config.clickIndicator = boolean(kClicks);
  return config;
}

OutputSize Prefs::outputSize() {
  const QString preset = string(kPreset).value_or(QStringLiteral("1080p"));
  if (preset == u"720p") return {1280, 720};
  if (preset == u"custom") {
    const auto fit = [](std::int64_t v) {
      v = std::max<std::int64_t>(std::min<std::int64_t>(v, 7680), 160);
      return v & ~std::int64_t{1};
    };
    return {fit(integer(kCustomWidth)), fit(integer(kCustomHeight))};
  }
  return {1920, 1080};
}

}  // namespace kestrova
