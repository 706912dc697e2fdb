#include "core/settings/SettingsStore.h"

#include "core/settings/AppConfig.h"
#include "core/settings/TextUtil.h"

#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <cmath>
#include <limits>

namespace quillax {

namespace {

QString keyPath(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

template <typename Int>
bool readInteger(const SettingsStore& store, const QString& section, const QString& key,
                 const QString& defaultText, int& value, double minimum, double maximum) {
    double number = 0;
    if (!ParseStoredNumber(store.read(section, key, defaultText), number)) {
        return false;
    }
    const double rounded = std::nearbyint(number); // the default rounding is half to even
    if (rounded < minimum || rounded > maximum) {
        return false;
    }
    value = static_cast<int>(static_cast<Int>(rounded));
    return true;
}

} // namespace

bool ParseStoredNumber(const QString& text, double& number) {
    const QString trimmed = TrimSpaces(text);
    if (trimmed.isEmpty()) {
        return false;
    }
    bool ok = false;
    const double parsed = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(parsed)) {
        return false;
    }
    number = parsed;
    return true;
}

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QString::fromUtf8(config::kProductTitle),
                                            QString::fromUtf8(config::kProductTitle))) {}

SettingsStore::SettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::read(const QString& section, const QString& key,
                            const QString& defaultText) const {
    const QVariant value = settings_->value(keyPath(section, key));
    if (!value.isValid()) {
        return defaultText;
    }
    // An unquoted text with commas, as a hand-edited file may hold, reads back as a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

bool SettingsStore::write(const QString& section, const QString& key, const QString& text) {
    settings_->setValue(keyPath(section, key), text);
    settings_->sync();
    if (settings_->status() == QSettings::NoError) {
        return true;
    }
    // The atomic save needs a temporary file beside the store, which a read-only folder
    // refuses even when the store itself is writable: then the file is written in place.
    settings_->setAtomicSyncRequired(false);
    settings_->sync();
    settings_->setAtomicSyncRequired(true); // the safe way first again next time
    // A store keeps its first error for good, so a fresh one gives the verdict: stores of the
    // same file share what is still unwritten, and its first sync fails while anything is.
    auto fresh = std::make_unique<QSettings>(settings_->fileName(), QSettings::IniFormat);
    fresh->sync();
    const bool written = fresh->status() == QSettings::NoError;
    settings_ = std::move(fresh);
    return written;
}

QString ShortestDecimalText(double number) {
    if (number == 0 || !std::isfinite(number)) {
        return QStringLiteral("0"); // also turns -0 into 0
    }
    // Fixed notation with the fewest digits that read back as the same number: never "1e+05".
    return QString::number(number, 'f', QLocale::FloatingPointShortest);
}

bool SettingsStore::writeNumber(const QString& section, const QString& key, double number) {
    return write(section, key, ShortestDecimalText(number));
}

bool SettingsStore::readSmallInt(const QString& section, const QString& key,
                                 const QString& defaultText, int& value, int minimum,
                                 int maximum) const {
    return readInteger<qint16>(*this, section, key, defaultText, value, minimum, maximum);
}

bool SettingsStore::readInt32(const QString& section, const QString& key,
                              const QString& defaultText, int& value) const {
    return readInteger<qint32>(*this, section, key, defaultText, value,
                               std::numeric_limits<qint32>::min(),
                               std::numeric_limits<qint32>::max());
}

bool SettingsStore::readReal(const QString& section, const QString& key, const QString& defaultText,
                             double& value) const {
    return ParseStoredNumber(read(section, key, defaultText), value);
}

QString SettingsStore::fileName() const {
    return settings_->fileName();
}

} // namespace quillax
