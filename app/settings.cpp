#include "app/settings.h"

#include <QSettings>

namespace varnel::app {

QString readSetting(const char* key) {
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel");
  const QVariant v = s.value(key);
  return v.canConvert<QString>() ? v.toString() : QString();
}

void writeSetting(const char* key, const QString& value) {
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel");
  s.setValue(key, value);
  s.sync();
}

QByteArray readSettingBytes(const char* key) {
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel");
  return s.value(key).toByteArray();
}

void writeSettingBytes(const char* key, const QByteArray& value) {
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "Varnel");
  s.setValue(key, value);
  s.sync();
}

}  // namespace varnel::app
