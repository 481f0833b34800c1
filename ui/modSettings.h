#pragma once
// The per-user settings store: a persistent map from (application, section,
// key) to text. An application's store is one file, one group per section:
// "$XDG_CONFIG_HOME/<application>.conf" on Linux, the INI file
// "%APPDATA%\<application>.ini" on Windows (a file rather than the registry,
// so that a user can back it up or move it like any other).
#include <QString>
#include <optional>

class QSettings;

namespace modSettings
{

// The program's one application name and section.
inline const QString AppName = QStringLiteral("Quillo!");
inline const QString Section = QStringLiteral("Settings");

// The stored text, or `defaultValue` when the key is absent. A key stored
// with the empty text gives the empty text, not the default.
QString ReadSetting(const QString &application, const QString &section, const QString &key,
                    const QString &defaultValue = QString());

// Stores `text` exactly as given. The store holds the password in plain
// text, so the file is kept readable by its owner alone. Returns false when
// the store could not be written.
bool WriteSetting(const QString &application, const QString &section, const QString &key,
                  const QString &text);

// Where `application`'s store lives.
QString StorePath(const QString &application);

// The platform's store of `application`, the one place that chooses it.
QSettings OpenStore(const QString &application);

// For the program's start, before the first setting is read: the store's
// folder follows the user's environment, XDG_CONFIG_HOME on Linux (which Qt
// reads by itself) and APPDATA on Windows (which it does not), so that a
// script or a test can give a run a store of its own.
void FollowEnvironment();

// A text read as a number and rounded to a whole number, a half to the even
// neighbour ("  25 " -> 25, "119.5" -> 120, "120.5" -> 120); blanks around
// it are ignored. Nothing when the text is not a finite number or the
// rounded value does not fit an int.
std::optional<int> WholeNumber(const QString &text);

// WholeNumber, accepted only inside [low, high], so that every window reads
// a stored or typed number by the one rule.
std::optional<int> WholeNumberIn(const QString &text, int low, int high);

// A key of the program's own section.
QString ReadProgramSetting(const QString &key, const QString &defaultValue = QString());

} // namespace modSettings
