// A name or path as the windows show it: the engine's escapes for control
// and invisible format characters and for halves of surrogate pairs
// (paths::ShownText), so that a stored name can neither hide its letters
// nor show them in another order. Only what is shown is escaped; the true
// name stays what is found, restored and compared.
#pragma once

#include <QString>

#include "paths/user_text.h"

namespace app {

inline QString ShownName(const QString& name) {
  return QString::fromStdU16String(paths::ShownText(name.toStdU16String()));
}

}  // namespace app
