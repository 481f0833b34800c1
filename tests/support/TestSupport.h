#pragma once
// Helpers shared by the test programs.
#include <QString>

namespace TestSupport {
// A folder under the system's temporary folder that is removed when the
// process ends; each call gives a new one.
QString MakeTempFolder();
}
