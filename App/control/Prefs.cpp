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
  // The follow settings, the rate and the click switch default as a recording does.
  const RecorderConfig recording;
  auto& d = registered();
  d.insert(QLatin1String(kPreset), QString::fromLatin1(k1080p));
  d.insert(QLatin1String(kCustomWidth), qlonglong{k720pSize.width});
  d.insert(QLatin1String(kCustomHeight), qlonglong{k720pSize.height});
  d.insert(QLatin1String(kFps), qlonglong{recording.fps});
  d.insert(QLatin1String(kSmoothing), recording.smoothing);
  d.insert(QLatin1String(kDeadZone), recording.deadZone);
  d.insert(QLatin1String(kClicks), recording.clickIndicator);
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

QString Prefs::preset() {
  return string(kPreset).value_or(QString::fromLatin1(k1080p));
}

std::int64_t Prefs::clampedCustomSize(std::int64_t pixels) {
  return std::max(std::min(pixels, kMaxCustomSize), kMinCustomSize) & ~std::int64_t{1};
}

std::uint32_t Prefs::displayID() {
  return static_cast<std::uint32_t>(integer(kDisplayID));
}

OutputSize Prefs::outputSize() {
  const QString p = preset();
  if (p == QLatin1String(k720p)) return k720pSize;
  if (p == QLatin1String(kCustom)) {
    return {clampedCustomSize(integer(kCustomWidth)), clampedCustomSize(integer(kCustomHeight))};
  }
  return k1080pSize;
}

}  // namespace kestrova
